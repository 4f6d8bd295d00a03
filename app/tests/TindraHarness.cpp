#include "app/tests/TindraHarness.h"

// winternl.h needs windows.h first.
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// Wine keeps each process's GDI handle table where the process environment block
// points (GdiSharedHandleTable): its live, non-stock entries are counted.
long GdiObjectsOf(HANDLE process) {
  if (DWORD n = GetGuiResources(process, GR_GDIOBJECTS)) return static_cast<long>(n);
  PROCESS_BASIC_INFORMATION info{};
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
    return -1;
  constexpr SIZE_T kPebGdiTableOffset = 0x94;  // 32-bit process environment block
  DWORD table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process,
                         reinterpret_cast<const BYTE*>(info.PebBaseAddress) + kPebGdiTableOffset,
                         &table, sizeof table, &got) ||
      !table)
    return -1;
  // 0x10000 entries of 24 bytes: object, owner, unique (stock flag in bit 7 of its
  // first byte), type, flags, user pointer.
  constexpr size_t kEntries = 0x10000, kEntrySize = 24;
  std::vector<BYTE> entries(kEntries * kEntrySize);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(table)),
                         entries.data(), entries.size(), &got) ||
      got != entries.size())
    return -1;
  long live = 0;
  for (size_t i = 0; i < kEntries; ++i) {
    const BYTE* e = &entries[i * kEntrySize];
    if (e[14] != 0 && !(e[12] & 0x80)) ++live;
  }
  return live;
}

// Wine's user handles are 0x20 + 2 * slot; a value whose upper word is 0 names the slot
// whatever its generation, so every live window of any process is found this way.
long UserObjectsOf(HANDLE process, DWORD pid) {
  if (DWORD n = GetGuiResources(process, GR_USEROBJECTS)) return static_cast<long>(n);
  long count = 0;
  for (ULONG v = 0x20; v < 0x10000; v += 2) {
    HWND h = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(v));
    DWORD owner = 0;
    if (IsWindow(h) && GetWindowThreadProcessId(h, &owner) && owner == pid) ++count;
  }
  return count;
}

long KernelHandlesOf(HANDLE process, DWORD pid) {
  DWORD n = 0;
  if (GetProcessHandleCount(process, &n) && n) return static_cast<long>(n);
  struct Entry {  // one row of the system's handle list (information class 16)
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  std::vector<BYTE> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                               static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004L) && buffer.size() < (64u << 20)) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));  // length mismatch
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  ULONG rows = 0;
  std::memcpy(&rows, buffer.data(), sizeof rows);
  const size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
  if (rows > (buffer.size() - first) / sizeof(Entry)) return -1;
  long count = 0;
  for (ULONG i = 0; i < rows; ++i) {
    Entry e;
    std::memcpy(&e, buffer.data() + first + i * sizeof(Entry), sizeof e);
    if (e.ownerPid == pid) ++count;
  }
  return count;
}

// ---- AccessibilityListener ----

namespace {

constexpr UINT kNameAgainMessage = WM_APP + 1;
thread_local AccessibilityListener* tListener = nullptr;

struct NameRequest {
  size_t index;
  HRESULT result = E_FAIL;
  std::u16string name;
  win32::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// The object's name and role for `child`; results as the calls gave them.
HRESULT ReadName(IAccessible* object, const VARIANT& child, std::u16string* name) {
  BSTR text = nullptr;
  const HRESULT hr = object->get_accName(child, &text);
  if (SUCCEEDED(hr) && text) *name = win32::FromWide(std::wstring_view(text, SysStringLen(text)));
  SysFreeString(text);
  return hr;
}

}  // namespace

AccessibilityListener::AccessibilityListener(DWORD pid)
    : pid_(pid), ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = std::thread([this] { Run(); });
  WaitForSingleObject(ready_.get(), 10000);
}

AccessibilityListener::~AccessibilityListener() {
  if (threadId_) PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  if (thread_.joinable()) thread_.join();
}

void AccessibilityListener::Run() {
  // A free-threaded apartment: a call into the program waits without handling this
  // thread's messages, so no event is taken in the middle of reading another.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's message queue
  threadId_ = GetCurrentThreadId();
  tListener = this;
  HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, &OnEvent, pid_, 0, WINEVENT_OUTOFCONTEXT);
  listening_ = hook != nullptr;
  SetEvent(ready_.get());
  while (hook && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!msg.hwnd && msg.message == kNameAgainMessage) {
      auto* request = reinterpret_cast<NameRequest*>(msg.lParam);
      VARIANT self;
      self.vt = VT_I4;
      self.lVal = CHILDID_SELF;
      if (request->index < objects_.size() && objects_[request->index])
        request->result = ReadName(objects_[request->index].Get(), self, &request->name);
      SetEvent(request->done.get());
      continue;
    }
    DispatchMessageW(&msg);
  }
  if (hook) UnhookWinEvent(hook);
  objects_.clear();
  if (SUCCEEDED(com)) CoUninitialize();
}

void CALLBACK AccessibilityListener::OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject,
                                             LONG idChild, DWORD, DWORD) {
  if (tListener) tListener->Record(event, hwnd, idObject, idChild);
}

void AccessibilityListener::Record(DWORD event, HWND hwnd, LONG idObject, LONG idChild) {
  if (event == EVENT_OBJECT_FOCUS || event == EVENT_SYSTEM_FOREGROUND) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++focusEvents_;
    return;
  }
  if (event != EVENT_SYSTEM_ALERT) return;
  Alert alert{hwnd, idObject, idChild, E_FAIL, -1, {}, E_FAIL};
  Microsoft::WRL::ComPtr<IAccessible> object;
  VARIANT child;
  VariantInit(&child);
  alert.objectResult = AccessibleObjectFromEvent(hwnd, static_cast<DWORD>(idObject),
                                                 static_cast<DWORD>(idChild), &object, &child);
  if (SUCCEEDED(alert.objectResult) && object) {
    VARIANT role;
    VariantInit(&role);
    if (SUCCEEDED(object->get_accRole(child, &role)) && role.vt == VT_I4) alert.role = role.lVal;
    VariantClear(&role);
    alert.nameResult = ReadName(object.Get(), child, &alert.name);
  }
  VariantClear(&child);
  objects_.push_back(object);
  std::lock_guard<std::mutex> lock(mutex_);
  alerts_.push_back(alert);
}

std::vector<AccessibilityListener::Alert> AccessibilityListener::Alerts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return alerts_;
}

int AccessibilityListener::FocusEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return focusEvents_;
}

bool AccessibilityListener::WaitForAlerts(size_t count, DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  while (Alerts().size() < count) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Pump(20);
  }
  return true;
}

HRESULT AccessibilityListener::NameAgain(size_t index, std::u16string* name) {
  auto* request = new NameRequest;
  request->index = index;
  if (!PostThreadMessageW(threadId_, kNameAgainMessage, 0, reinterpret_cast<LPARAM>(request))) {
    delete request;
    return E_FAIL;
  }
  // Left to the listener when it does not answer in time: it may still write into it.
  if (WaitForSingleObject(request->done.get(), 15000) != WAIT_OBJECT_0) return E_ABORT;
  *name = request->name;
  const HRESULT result = request->result;
  delete request;
  return result;
}

}  // namespace tindra::test
