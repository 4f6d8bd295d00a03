#pragma once
// Where the window system calls the program: the guard on every callback, the counters
// of the work done there, and the window base.
//
// The guard, at the edge of every window procedure, timer callback and DDE callback: nothing may
// unwind into the window system. An error that escapes an event handler is reported
// in a message box captioned "Tindra" and ends the program, as an unhandled run-time
// error does.
//
// The counters: where the user-interface thread's time goes, for the benchmark: counts and
// performance-counter time of each kind of work, kept in a shared section that the
// benchmark's client creates (kStepCountersName). Without that section nothing is
// counted or timed. Times are exclusive: a timed span inside another counts only for
// itself. User-interface thread only.
//
// The window base: the one way a window of the programs and tools is tied to its C++ object:
//
//   class ProgressWindow : public WindowBase<ProgressWindow> {
//    public:
//     LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
//   };
//   CreateWindowExW(0, ProgressWindow::RegisteredClass({L"Progress", IDC_WAIT}), ...,
//                   &window);
//
// The window class, registered once by RegisteredClass, has WindowBase<T>::Procedure as
// its procedure, and the window is created with the object as its creation parameter
// (CreateWindowExW's last argument). The procedure stores the object at WM_NCCREATE and
// forwards every message from then on to HandleMessage, through the guard: nothing
// unwinds into the window system, and each message is counted as Derived::WorkOf says.
// An object that goes before its window calls Unhook first.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/text.h"  // ToDecimal
#include "common/win32/handle.h"

namespace tindra::win32 {

// --- The guard ---

// The event a program sets as it shows its fatal error: a replacer watching the
// program's first start tells that box from one waiting for the user by it
// (update/win32/processes_win32.cpp). The replacer creates it under a name drawn from
// the system's random source, refusing one that exists already, and hands the name to
// that program alone in this environment variable. The program opens it (never creates
// it) as it starts and clears the variable, so that no program it starts sets it.
inline constexpr wchar_t kFatalErrorEventVariable[] = L"TINDRA_FATAL_EVENT";

inline UniqueHandle& FatalErrorEvent() {
  static UniqueHandle event;
  return event;
}

// Called first thing by a program a replacer may watch.
inline void TakeFatalErrorEvent() {
  wchar_t name[96] = {};
  const DWORD n = GetEnvironmentVariableW(kFatalErrorEventVariable, name, 96);
  SetEnvironmentVariableW(kFatalErrorEventVariable, nullptr);
  if (n == 0 || n >= 96) return;
  FatalErrorEvent().reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
}

// The name a replacer of an earlier revision gives the event: it is created by that
// replacer before the program runs, and only opened here.
inline std::wstring EarlierFatalErrorEventName(DWORD processId) {
  return L"Local\\Tindra.FatalError." + std::to_wstring(processId);
}

[[noreturn]] inline void ReportFatalAndExit(int32_t number, const std::u16string& description) {
  // Set before the box, which may stay open for good.
  if (FatalErrorEvent()) SetEvent(FatalErrorEvent().get());
  const UniqueHandle earlier(OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                        EarlierFatalErrorEventName(GetCurrentProcessId()).c_str()));
  if (earlier) SetEvent(earlier.get());
  ShowMessage(u"Run-time error '" + ToDecimal(number) + u"':\r\n\r\n" + description, kMbOk);
  ExitProcess(static_cast<UINT>(number ? number : 1));
}

// Runs `handler`; on any error reports it and ends the process. Returns what the
// handler returns.
template <typename F>
auto GuardedHandler(F&& handler) noexcept -> decltype(handler()) {
  try {
    return handler();
  } catch (...) {
    const AppError e = CurrentError();
    ReportFatalAndExit(e.number(), e.description());
  }
}

// --- The counters ---

inline constexpr wchar_t kStepCountersName[] = L"Local\\TindraStepCounters";

enum class Work : uint32_t {
  kMove,        // the window operation of a step (or of Start)
  kDraw,        // drawing a step's new rows
  kPopupLogic,  // the rest of a popup's tick
  kCreate,      // a popup's windows and resources created (its load)
  kShow,        // a popup made topmost and visible
  kUnload,      // a popup's unload: its windows destroyed
  kPaint,       // WM_PAINT of a popup's controls
  kTicker,      // the shared ticker: its schedule, its platform timer
  kQueueLook,   // the ticker looking for waiting pokes and clicks
  kPoke,        // a poke taken: decoded, placed, its popup started
  kWaiting,     // the message loop: waiting, and what the system does inside it
  kCount,
  kNone = kCount  // a span that is not counted
};

struct WorkCounter {
  int64_t count;
  int64_t us;
};

// The section's layout; version 1.
struct StepCounters {
  uint32_t version;
  uint32_t works;
  WorkCounter work[static_cast<size_t>(Work::kCount)];
  // Effect ticks of popups and how late each came against "one interval after the
  // popup's previous tick began", the pace the popups' schedule aims at.
  int64_t lateTicks;
  int64_t lateUs;
  // When the wait the message loop is in now began (0: not waiting), so that a reader
  // can count the part of a long wait up to the moment it reads.
  int64_t waitingSinceUs;
};

// The shared counters, or null when no benchmark has made them (looked up once).
StepCounters* SharedStepCounters() noexcept;

// Counts and times one span of `work` while it lives.
class TimedWork {
 public:
  explicit TimedWork(Work work) noexcept;
  ~TimedWork();
  TimedWork(const TimedWork&) = delete;
  TimedWork& operator=(const TimedWork&) = delete;

 private:
  StepCounters* counters_;
  Work work_;
  int64_t start_ = 0;
  int64_t childUs_ = 0;
  TimedWork* parent_ = nullptr;
};

// Microseconds on the performance counter.
int64_t CounterUs() noexcept;

// Records an effect tick of a popup that began `lateUs` after it was due.
void CountTickLateness(int64_t lateUs) noexcept;

// --- The window base ---

// A window class of the program's module, besides its procedure.
struct WindowClass {
  const wchar_t* name;
  const wchar_t* cursor = nullptr;  // a system cursor (IDC_ARROW, ...), or none
  int background = -1;              // the system colour (COLOR_...) it is erased with, or none
  WORD icon = 0;                    // the program's icon resource, large and small, or none
};

// Registers `windowClass` with `procedure`; a class of that name already registered in
// the module counts as registered.
inline bool RegisterWindowClass(const WindowClass& windowClass, WNDPROC procedure) noexcept {
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = module;
  wc.lpszClassName = windowClass.name;
  if (windowClass.cursor) wc.hCursor = LoadCursorW(nullptr, windowClass.cursor);
  if (windowClass.background >= 0)
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(windowClass.background + 1));
  if (windowClass.icon) {
    // Resource icons loaded shared are never destroyed.
    wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(windowClass.icon));
    wc.hIconSm = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(windowClass.icon),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  }
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

template <typename Derived>
class WindowBase {
 public:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return GuardedHandler([&]() -> LRESULT {
      if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      }
      auto* self = reinterpret_cast<Derived*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
      if (msg == WM_NCDESTROY) Unhook(hwnd);
      const TimedWork timed(Derived::WorkOf(msg));
      return self->HandleMessage(hwnd, msg, wParam, lParam);
    });
  }

  // The name of Derived's window class, registered with Procedure the first time. A
  // registration that fails is not an error of its own: the window of that class cannot
  // be created, its creator reports that as it reports any window it cannot create, and
  // the next window tries the registration again.
  static const wchar_t* RegisteredClass(const WindowClass& windowClass) noexcept {
    static std::atomic<bool> registered = false;
    if (!registered) registered = RegisterWindowClass(windowClass, &Procedure);
    return windowClass.name;
  }

 protected:
  // No message reaches the object any more.
  static void Unhook(HWND hwnd) noexcept { SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0); }
  // The kind of work the benchmark's counters count a message of this window as; a
  // window that counts some declares its own.
  static constexpr Work WorkOf(UINT /*msg*/) noexcept { return Work::kNone; }
};

}  // namespace tindra::win32
