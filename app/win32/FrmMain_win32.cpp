#include "app/win32/FrmMain_win32.h"

#include <atomic>
#include <exception>
#include <thread>

#include "app/modMain.h"
#include "app/win32/dde_server.h"
#include "app/win32/program_build.h"
#include "app/win32/quiet_times_win32.h"
#include "common/errors.h"
#include "common/numeric.h"
#include "common/text.h"
#include "common/twips.h"
#include "common/win32/ansi.h"
#include "common/win32/com.h"
#include "common/win32/guard.h"
#include "common/win32/message_wait.h"
#include "common/win32/program_path.h"
#include "common/win32/screen.h"
#include "common/win32/step_counters.h"
#include "popup/win32/FrmTindra_win32.h"
#include "update/win32/modAutoUpdateV1_Launcher_win32.h"
#include "update/win32/processes_win32.h"
#include "update/win32/update_log_win32.h"

namespace tindra::win32 {

namespace {

// Design of the main form, in twips.
constexpr int kClientWidth = 3420, kClientHeight = 2115;
constexpr int kCommand1Left = 135, kCommand1Top = 630, kCommand1Width = 1185, kCommand1Height = 510;
constexpr int kLblLeft = 90, kLblTop = 90, kLblWidth = 2490, kLblHeight = 375;

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The program's base name (its DDE service name) when the platform cannot name the
// running file: the name it is shipped under.
constexpr char16_t kShippedName[] = u"Tindra";

// Posted by a popup that has closed while notifications wait: the next may be shown.
constexpr UINT kPopupClosedMessage = WM_APP + 1;
// While notifications wait, the user's state is looked at this often: no message tells
// when a full-screen program ends.
constexpr UINT_PTR kWaitCheckTimer = 1;
constexpr UINT kWaitCheckMs = 500;
// While popups are open, whether the user is at the keyboard is looked at as often: no
// message tells of the user's input to other programs.
constexpr UINT_PTR kPresenceCheckTimer = 2;
constexpr UINT kPresenceCheckMs = 500;
// Posted to itself when the system's settings change: the waiting notifications are
// shown from there, not inside the broadcast that told of the change.
constexpr UINT kSettingsChangedMessage = WM_APP + 3;

// A box of the update's thread, waiting to be shown by the main window; `closed` is set
// once the user has closed it.
struct PendingBox {
  std::u16string_view text;
  uint32_t style;
  UniqueHandle closed;
};
std::atomic<const PendingBox*> gPendingBox{nullptr};
// Asks the main window to show the pending box. The message carries nothing: one sent
// by another program finds no box, or shows the pending one a moment early, once.
constexpr UINT kWmShowBox = WM_APP + 2;

// The update's boxes, shown on the user-interface thread: the update's thread sends
// each to the main window and waits until the user has closed it, as a box on its own
// thread would. A box of the user-interface thread itself is shown directly.
class BoxesOfTheMainWindow : public MessageBoxes {
 public:
  explicit BoxesOfTheMainWindow(HWND window) : window_(window), uiThread_(GetCurrentThreadId()) {}
  void Show(std::u16string_view text, uint32_t style) override {
    if (GetCurrentThreadId() == uiThread_) {
      PlatformMessageBoxes().Show(text, style);
      return;
    }
    const PendingBox box{text, style, UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))};
    if (!box.closed) Raise(kErrInvalidPropertyValue);
    gPendingBox = &box;
    SendMessageW(window_, kWmShowBox, 0, 0);
    // Shown by this message or an earlier one: the box is open until the user closes it.
    if (IsWindow(window_)) WaitForSingleObject(box.closed.get(), INFINITE);
    gPendingBox = nullptr;
  }

 private:
  HWND window_;
  DWORD uiThread_;
};

}  // namespace

FrmMainWindow::FrmMainWindow(HINSTANCE instance)
    : instance_(instance), form_(*this, ProgramAwayAfterMs()) {}

FrmMainWindow::~FrmMainWindow() {
  Forms().Remove(&form_);
  if (hwnd_ && IsWindow(hwnd_)) {
    Unhook(hwnd_);
    DestroyWindow(hwnd_);
  }
}

void FrmMainWindow::Create() {
  const float tx = TwipsPerPixelX(), ty = TwipsPerPixelY();
  RECT rc{0, 0, ToWindowPixels(kClientWidth, tx), ToWindowPixels(kClientHeight, ty)};
  AdjustWindowRectEx(&rc, kFormStyle, FALSE, 0);
  // Created hidden and never shown: no taskbar button either.
  const wchar_t* windowClass = RegisteredClass({.name = kFrmMainClass,
                                                .cursor = IDC_ARROW,
                                                .background = COLOR_BTNFACE,
                                                .icon = kBellIconId});
  hwnd_ = CreateWindowExW(0, windowClass, WidePtr(std::u16string(FrmMain::kCaption)), kFormStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, rc.right - rc.left, rc.bottom - rc.top,
                          nullptr, nullptr, instance_, this);
  if (!hwnd_) Raise(kErrInvalidPropertyValue);

  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  command1_ = CreateWindowExW(
      0, L"BUTTON", WidePtr(std::u16string(FrmMain::kButtonText)),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, ToWindowPixels(kCommand1Left, tx),
      ToWindowPixels(kCommand1Top, ty), ToWindowPixels(kCommand1Width, tx),
      ToWindowPixels(kCommand1Height, ty), hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCommand1Id)), instance_, nullptr);
  lblDDE_ = CreateWindowExW(
      0, L"STATIC", WidePtr(std::u16string(FrmMain::kLabelDesignText)),
      WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, ToWindowPixels(kLblLeft, tx),
      ToWindowPixels(kLblTop, ty), ToWindowPixels(kLblWidth, tx), ToWindowPixels(kLblHeight, ty),
      hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLblDDEId)), instance_, nullptr);
  if (!command1_ || !lblDDE_) Raise(kErrInvalidPropertyValue);
  SendMessageW(command1_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(lblDDE_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  Forms().Add(&form_);
}

bool FrmMainWindow::AnotherInstanceRunning() {
  // One named mutex per program name, as the DDE service is: the first copy owns it
  // for its whole life; a copy that finds it already there is the second. Any process
  // of the session, of any account, can make that name first: the name counts only
  // while a process of this program's file name runs in the session, so that a name
  // taken by another program never keeps Tindra from running.
  const std::u16string base = ProgramBaseName(kShippedName);
  std::u16string name = u"Local\\Tindra.Instance." + AsciiUpper(base);
  instanceMutex_.reset(CreateMutexW(nullptr, FALSE, WidePtr(name)));
  return instanceMutex_ && GetLastError() == ERROR_ALREADY_EXISTS &&
         AnotherProcessNamed(base + u".exe");
}

// TerminateProcess rather than ExitProcess: the update's thread may be anywhere, holding
// any lock that ExitProcess's clean-up would wait for.
void FrmMainWindow::EndProcessNow() {
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);
}

std::u16string FrmMainWindow::BuiltInUpdateHost() { return ProgramUpdateHost(); }

// The update runs on a thread of its own, and this thread, the one user-interface
// thread, waits for it taking messages. Why so, and not the other way round: the
// update's steps block (transfers, the checker's whole run) and cannot take messages,
// while every window of the program must, so the windows stay on this thread and the
// blocking work goes elsewhere. Only the system reaches the form meanwhile: broadcasts
// and WM_NULL are answered by the window procedure, a close or the session's end go to
// the form (CloseRequested, SessionEnding), the test button and pokes are refused until
// Form_Load has finished, and the DDE service is not registered yet. The update's boxes
// are shown here (BoxesOfTheMainWindow), in the same order, each waiting for the user
// as before. An error that escapes the update is raised again here, where Form_Load's
// guard reports it as before; the update may also end the process itself.
void FrmMainWindow::UpdateAtStartup(const std::u16string& serverHost,
                                    const int16_t& skipSelfUpdate) {
  const std::u16string host = serverHost;
  const int16_t skip = skipSelfUpdate;
  UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) Raise(kErrInvalidPropertyValue);
  BoxesOfTheMainWindow boxes(hwnd_);
  ScopedMessageBoxes shownHere(boxes);
  std::exception_ptr error;
  std::thread update([&] {
    try {
      // The shell's start of the checker may use COM: an apartment of this thread's own.
      ComScope com;
      RunAutoUpdateOnThisMachine(host, skip, ProgramStartupBounds());
    } catch (...) {
      error = std::current_exception();
    }
    SetEvent(done.get());
  });
  WaitTakingMessages(done.get());
  update.join();
  if (error) std::rethrow_exception(error);
}

void FrmMainWindow::GetWorkArea(WorkArea& rc) {
  // The ANSI form, as the program has always called it; a failure leaves rc alone.
  RECT r{};
  if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) rc = {r.left, r.top, r.right, r.bottom};
}

float FrmMainWindow::TwipsPerPixelX() { return win32::TwipsPerPixelX(); }
float FrmMainWindow::TwipsPerPixelY() { return win32::TwipsPerPixelY(); }

void FrmMainWindow::SetLabelWindowText(const std::u16string& text) {
  if (!SetWindowTextW(lblDDE_, WidePtr(text))) Raise(kErrInvalidPropertyValue);
}

void FrmMainWindow::UnloadMainForm() {
  if (unloading_) return;
  unloading_ = true;
  int16_t cancel = 0;
  form_.Form_Unload(cancel);
  Forms().Remove(&form_);
  // WM_DESTROY ends the event loop.
  if (hwnd_) DestroyWindow(hwnd_);
}

void FrmMainWindow::ShowPopup(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                              const int32_t& nSY) {
  // Only a popup that closes while others wait says so: ordinary traffic posts nothing.
  OpenPopup(
      gPopupCount, sName, iMode, nSX, nSY,
      [this] {
        form_.PopupClosed();
        if (hwnd_ && form_.waiting() > 0) PostMessageW(hwnd_, kPopupClosedMessage, 0, 0);
      },
      [](const AppError& error) noexcept { LogPopup(u"closed", error); });
}

void FrmMainWindow::LogPopup(std::u16string_view verdict, const AppError& error) noexcept {
  try {
    UpdateEvent event;
    event.step = u"popup";
    event.verdict = std::u16string(verdict);
    event.reason = u"Error " + ToDecimal(error.number()) + u" (" + error.description() + u")";
    // On the user-interface thread: no wait for a lock another program may hold.
    Win32UpdateLog(u"Tindra", LogLockWait::kNone).Write(event);
  } catch (...) {
    // Out of memory for the line: nothing more can be said.
  }
}

void FrmMainWindow::LogSkippedPopup(const AppError& error) { LogPopup(u"skipped", error); }

bool FrmMainWindow::ShouldNotDisturb() { return UserShouldNotBeDisturbed(); }

void FrmMainWindow::SwitchTimer(UINT_PTR timer, UINT intervalMs, bool on) {
  if (!hwnd_) return;
  if (on) {
    SetTimer(hwnd_, timer, intervalMs, nullptr);
  } else {
    KillTimer(hwnd_, timer);
  }
}

// Should the timer not start, the next poke or closing popup looks again.
void FrmMainWindow::SetWaitCheck(bool on) { SwitchTimer(kWaitCheckTimer, kWaitCheckMs, on); }

std::optional<InputTimes> FrmMainWindow::ReadInputTimes() {
  LASTINPUTINFO last{};
  last.cbSize = sizeof last;
  if (!GetLastInputInfo(&last)) return std::nullopt;
  // The clock after the input's time, which it is measured on.
  return InputTimes{last.dwTime, GetTickCount()};
}

// Should the timer not start, popups hold as usual: the user counts as present.
void FrmMainWindow::SetPresenceCheck(bool on) {
  SwitchTimer(kPresenceCheckTimer, kPresenceCheckMs, on);
}

void FrmMainWindow::SetUserAway(bool away) { SetPopupsUserAway(away); }

LRESULT FrmMainWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE:
      hwnd_ = hwnd;
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCommand1Id && HIWORD(wParam) == BN_CLICKED) {
        if (TakesPokes()) form_.Command1_Click();
        return 0;
      }
      break;
    case WM_TIMER:
      if (wParam == kPresenceCheckTimer) {
        if (TakesPokes()) form_.LookForTheUser();
        return 0;
      }
      if (wParam != kWaitCheckTimer) break;
      [[fallthrough]];
    case kPopupClosedMessage:
      if (TakesPokes()) form_.ShowWaiting();
      return 0;
    case kSettingsChangedMessage:
      settingsChangePosted_ = false;
      if (TakesPokes()) form_.ShowWaiting();
      return 0;
    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETWORKAREA) form_.WorkAreaChanged();
      // Presentation mode or the session's lock may have ended. The program that
      // broadcast the change waits for this answer: up to 64 popups are made after it,
      // from a message of this window's own (one, however many changes come meanwhile).
      if (TakesPokes() && !settingsChangePosted_)
        settingsChangePosted_ = PostMessageW(hwnd, kSettingsChangedMessage, 0, 0) != FALSE;
      break;
    case WM_DISPLAYCHANGE:
      form_.WorkAreaChanged();
      break;
    case kWmShowBox:
      if (const PendingBox* box = gPendingBox.exchange(nullptr)) {
        PlatformMessageBoxes().Show(box->text, box->style);
        SetEvent(box->closed.get());
      }
      return 0;
    case WM_CLOSE:
      // Closed from outside: the same unload as "end", once start-up is over.
      form_.CloseRequested();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) form_.SessionEnding();
      return 0;
    case WM_DESTROY:
      Unhook(hwnd_);
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int RunTindra(HINSTANCE instance) {
  // A single-threaded apartment: through it the popups hand their accessible objects
  // to other processes (screen readers).
  ComScope com;
  FrmMainWindow window(instance);
  GuardedHandler([&] {
    window.Create();
    window.form().Form_Load();
  });

  // Closed while it started: the unload has run, and the loop only ends.
  const bool closed = !window.TakesPokes();
  // Pokes are taken only once start-up has finished.
  DdeServer dde(ProgramBaseName(kShippedName), FrmMain::kTopic, FrmMain::kItem,
                [&window](const std::u16string& text) {
                  return window.TakesPokes() && window.form().Poke(text);
                });
  if (!closed && !dde.Start()) {
    // Unreachable by the messenger, a hidden copy would only block every later one.
    GuardedHandler([&] { window.UnloadMainForm(); });
    return 1;
  }

  MSG msg{};
  auto next = [&msg] {
    TimedWork timed(Work::kWaiting);
    return GetMessageW(&msg, nullptr, 0, 0) > 0;
  };
  while (next()) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace tindra::win32
