#include "app/tests/TindraHarness.h"

#include "common/win32/ansi.h"

namespace tindra::test {

namespace {

constexpr wchar_t kMainClass[] = L"TindraFrmMain";
constexpr wchar_t kPopupTitle[] = L"Form1";
constexpr int kPicture1Id = 1, kPicNoteId = 2, kLblNameId = 3, kLblDescId = 4;

std::u16string TextOf(HWND h) {
  if (!h) return {};
  int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  int got = GetWindowTextW(h, s.data(), n + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return win32::FromWide(s);
}

struct Enum {
  DWORD pid;
  std::vector<HWND> found;
  bool (*keep)(HWND);
};

BOOL CALLBACK CollectTopLevel(HWND h, LPARAM lp) {
  auto* e = reinterpret_cast<Enum*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == e->pid && e->keep(h)) e->found.push_back(h);
  return TRUE;
}

BOOL CALLBACK CountChildren(HWND, LPARAM lp) {
  ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

}  // namespace

std::wstring WindowsPath(const std::string& path) {
  std::wstring w(path.begin(), path.end());
  if (!w.empty() && w[0] == L'/') w = L"Z:" + w;
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

TindraProcess::TindraProcess(std::wstring exePath) : exe_(std::move(exePath)) {}

TindraProcess::~TindraProcess() { Kill(); }

bool TindraProcess::Launch() {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + exe_ + L"\"";
  if (!CreateProcessW(exe_.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return false;
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  pid_ = pi.dwProcessId;
  return true;
}

bool TindraProcess::WaitUntilAnswering(DWORD timeoutMs) {
  // An empty poke does nothing, so it is a safe probe of the service.
  const DWORD start = GetTickCount();
  while (Running()) {
    poke::PokeRequest r;
    r.data = std::string(1, '\0');
    r.connectWaitMs = 200;
    if (poke::Poke(r) == poke::PokeOutcome::kAcknowledged) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
  }
  return false;
}

bool TindraProcess::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

long TindraProcess::WaitForExit(DWORD timeoutMs) {
  if (!process_) return -1;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    if (GetTickCount() - start >= timeoutMs) return -1;
    Pump(20);
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return static_cast<long>(code);
}

void TindraProcess::Kill() {
  if (Running()) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 5000);
  }
}

HWND TindraProcess::MainWindow() const {
  Enum e{pid_, {}, [](HWND h) {
           wchar_t cls[64] = {};
           GetClassNameW(h, cls, 64);
           return lstrcmpW(cls, kMainClass) == 0;
         }};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&e));
  return e.found.empty() ? nullptr : e.found.front();
}

std::vector<PopupInfo> TindraProcess::Popups() const {
  Enum e{pid_, {}, [](HWND h) {
           wchar_t title[16] = {};
           GetWindowTextW(h, title, 16);
           return IsWindowVisible(h) && lstrcmpW(title, kPopupTitle) == 0;
         }};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&e));
  std::vector<PopupInfo> out;
  for (HWND h : e.found) {
    PopupInfo p{};
    p.hwnd = h;
    GetWindowRect(h, &p.rect);
    p.exStyle = GetWindowLongW(h, GWL_EXSTYLE);
    HWND picture1 = GetDlgItem(h, kPicture1Id);
    p.name = TextOf(GetDlgItem(picture1, kLblNameId));
    p.desc = TextOf(GetDlgItem(picture1, kLblDescId));
    HWND note = GetDlgItem(picture1, kPicNoteId);
    p.noteVisible = note && (GetWindowLongW(note, GWL_STYLE) & WS_VISIBLE);
    out.push_back(p);
  }
  return out;
}

poke::PokeOutcome PokeText(const std::u16string& text, bool raw, bool unicode) {
  poke::PokeRequest r;
  r.raw = raw;
  r.format = unicode ? CF_UNICODETEXT : CF_TEXT;
  r.data = poke::TextData(text, unicode);
  return poke::Poke(r);
}

poke::PokeOutcome PokeBytes(const std::string& bytes, UINT format, bool raw) {
  poke::PokeRequest r;
  r.raw = raw;
  r.format = format;
  r.data = bytes;
  return poke::Poke(r);
}

long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -2;
  CloseHandle(pi.hThread);
  win32::UniqueHandle process(pi.hProcess);
  // Keep handling messages: a DDE client broadcasts to every top-level window, this
  // thread's included, and waits for each to answer.
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT &&
         GetTickCount() - start < timeoutMs)
    Pump(20);
  if (WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 99);
    WaitForSingleObject(process.get(), 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<long>(code);
}

int CountWindowsOf(DWORD pid) {
  Enum e{pid, {}, [](HWND) { return true; }};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&e));
  int n = static_cast<int>(e.found.size());
  for (HWND h : e.found) EnumChildWindows(h, &CountChildren, reinterpret_cast<LPARAM>(&n));
  return n;
}

}  // namespace tindra::test
