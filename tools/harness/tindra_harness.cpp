#include "tools/harness/tindra_harness.h"

#include <vector>

#include "app/win32/FrmMain_win32.h"
#include "common/win32/ansi.h"
#include "popup/win32/FrmTindra_win32.h"

namespace tindra::test {

namespace {

std::u16string TextOf(HWND h) { return win32::FromWide(WindowText(h)); }

}  // namespace

std::wstring WindowsPath(const std::string& path) {
  std::wstring w(path.begin(), path.end());
  if (!w.empty() && w[0] == L'/') w = L"Z:" + w;
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w;
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
  if (!PumpUntil([&] { return !Running(); }, timeoutMs, 20)) return -1;
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
  const std::vector<HWND> found = WindowsOfClass(pid_, win32::kFrmMainClass);
  return found.empty() ? nullptr : found.front();
}

std::vector<PopupInfo> TindraProcess::Popups() const {
  std::vector<PopupInfo> out;
  for (HWND h : WindowsOfClass(pid_, win32::kPopupClassName)) {
    if (!IsWindowVisible(h)) continue;
    PopupInfo p{};
    p.hwnd = h;
    GetWindowRect(h, &p.rect);
    p.exStyle = GetWindowLongW(h, GWL_EXSTYLE);
    // The window text: the two lines joined by CR LF, or a notice's text alone.
    const std::u16string text = TextOf(h);
    const size_t lineBreak = text.find(u"\r\n");
    p.name = text.substr(0, lineBreak);
    p.desc = lineBreak == std::u16string::npos ? u"" : text.substr(lineBreak + 2);
    p.noteVisible = lineBreak == std::u16string::npos;
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
  return PumpUntil([&] { return Alerts().size() >= count; }, timeoutMs, 20);
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
