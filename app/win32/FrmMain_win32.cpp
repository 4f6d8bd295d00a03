#include "app/win32/FrmMain_win32.h"

#include <cstring>

// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "app/win32/popup_log.h"
#include "app/win32/program_build.h"
#include "app/win32/startup_update.h"
#include "common/errors.h"
#include "common/numeric.h"
#include "common/scope_exit.h"
#include "common/win32/ansi.h"
#include "common/win32/program_path.h"
#include "common/win32/window.h"
#include "popup/win32/FrmTindra_win32.h"
#include "update/win32/processes_win32.h"

namespace tindra::win32 {

namespace {

// Design of the main form, in twips.
constexpr int kClientWidth = 3420, kClientHeight = 2115;
constexpr int kCommand1Left = 135, kCommand1Top = 630, kCommand1Width = 1185, kCommand1Height = 510;
constexpr int kLblLeft = 90, kLblTop = 90, kLblWidth = 2490, kLblHeight = 375;

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

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

ScreenRect ToScreenRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

bool ForegroundCoversItsMonitor() {
  HWND fg = GetForegroundWindow();
  // A hidden or minimized window covers nothing, whatever its rectangle says.
  if (!fg || !IsWindowVisible(fg) || IsIconic(fg)) return false;
  ForegroundInfo info;
  info.exists = true;
  info.isDesktopOrShell = fg == GetDesktopWindow() || fg == GetShellWindow();
  if (info.isDesktopOrShell) return false;
  RECT window{};
  if (!GetWindowRect(fg, &window)) return false;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  HMONITOR on = MonitorFromWindow(fg, MONITOR_DEFAULTTONULL);
  if (!on || !GetMonitorInfoW(on, &monitor)) return false;
  wchar_t name[64] = {};
  const int n = GetClassNameW(fg, name, 64);
  const std::u16string windowClass = FromWide(std::wstring_view(name, n > 0 ? n : 0));
  info.windowClass = windowClass;
  info.window = ToScreenRect(window);
  info.monitor = ToScreenRect(monitor.rcMonitor);
  info.zoomed = IsZoomed(fg) != FALSE;
  info.hasCaption = (GetWindowLongW(fg, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
  return ForegroundIsFullScreen(info);
}

// True while the user should not be disturbed: the platform's notification state says
// so (away, busy, full-screen Direct3D, presenting), or the foreground window covers
// its whole monitor, is neither maximized nor captioned, and is not the desktop or the
// shell (which that state leaves out on some systems). A few calls into the window
// system, no waiting.
bool UserShouldNotBeDisturbed() {
  QUERY_USER_NOTIFICATION_STATE state{};
  if (SUCCEEDED(SHQueryUserNotificationState(&state)) &&
      StateHoldsNotifications(static_cast<UserNotificationState>(state)))
    return true;
  return ForegroundCoversItsMonitor();
}

}  // namespace

FrmMainWindow::FrmMainWindow(HINSTANCE instance)
    : instance_(instance), form_(*this, ProgramAwayAfterMs()) {}

FrmMainWindow::~FrmMainWindow() {
  dde_.reset();  // no poke reaches the form any more
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

bool FrmMainWindow::StartDdeLink() {
  dde_ = std::make_unique<DdeServer>(
      ProgramBaseName(kShippedName), FrmMain::kTopic, FrmMain::kItem,
      [this](const std::u16string& text) { return TakesPokes() && form_.Poke(text); });
  return dde_->Start();
}

bool FrmMainWindow::AnotherInstanceRunning() {
  return singleInstance_.AnotherCopyRunning(ProgramBaseName(kShippedName));
}

// Ended at once, as the update ends it: the update's thread may be anywhere, holding any
// lock that an orderly exit's clean-up would wait for.
void FrmMainWindow::EndProcessNow() { Win32Processes().EndProcess(); }

std::u16string FrmMainWindow::BuiltInUpdateHost() { return ProgramUpdateHost(); }

// On a thread of its own, while this one takes messages: see startup_update.h.
void FrmMainWindow::UpdateAtStartup(const std::u16string& serverHost,
                                    const int16_t& skipSelfUpdate) {
  StartupUpdate update(hwnd_);
  startupUpdate_ = &update;
  const ScopeExit over([this] { startupUpdate_ = nullptr; });
  update.Run(serverHost, skipSelfUpdate);
}

void FrmMainWindow::GetWorkArea(WorkArea& rc) {
  // The ANSI form, as the program has always called it; a failure leaves rc alone.
  RECT r{};
  if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) rc = {r.left, r.top, r.right, r.bottom};
}

// The popups' scale: the work area is measured in the twips they are placed in.
float FrmMainWindow::TwipsPerPixelX() { return ScreenScale().x; }
float FrmMainWindow::TwipsPerPixelY() { return ScreenScale().y; }

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
      [](const AppError& error) noexcept { LogPopupFailure(u"closed", error); });
}

void FrmMainWindow::LogSkippedPopup(const AppError& error) { LogPopupFailure(u"skipped", error); }

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
      if (startupUpdate_) startupUpdate_->ShowSentBox(lParam);
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

namespace {
// DDEML's callback carries no context; the one running server.
DdeServer* g_server = nullptr;
}  // namespace

bool DecodePokedText(UINT format, const BYTE* data, size_t size, std::u16string& text) {
  text.clear();
  if (format == CF_TEXT) {
    const void* nul = size ? std::memchr(data, 0, size) : nullptr;
    size_t n = nul ? static_cast<size_t>(static_cast<const BYTE*>(nul) - data) : size;
    text = FromAnsi(std::string_view(reinterpret_cast<const char*>(data), n));
    return true;
  }
  if (format == CF_UNICODETEXT) {
    // The data may be unaligned and of odd length: copy whole code units only.
    size_t units = size / 2;
    std::u16string all(units, u'\0');
    if (units) std::memcpy(all.data(), data, units * 2);
    size_t end = all.find(u'\0');
    text = end == std::u16string::npos ? std::move(all) : all.substr(0, end);
    return true;
  }
  return false;
}

DdeServer::DdeServer(std::u16string service, std::u16string topic, std::u16string item,
                     PokeHandler onPoke)
    : serviceName_(std::move(service)),
      topicName_(std::move(topic)),
      itemName_(std::move(item)),
      onPoke_(std::move(onPoke)) {}

bool DdeServer::Start() {
  if (g_server) return false;
  // Advises, requests and executes are refused by DDEML itself.
  const DWORD flags = APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_EXECUTES |
                      CBF_SKIP_ALLNOTIFICATIONS;
  if (DdeInitializeW(&inst_, &DdeServer::Callback, flags, 0) != DMLERR_NO_ERROR) {
    inst_ = 0;
    return false;
  }
  g_server = this;
  service_ = win32::DdeString(inst_, serviceName_);
  topic_ = win32::DdeString(inst_, topicName_);
  item_ = win32::DdeString(inst_, itemName_);
  if (!service_ || !topic_ || !item_) return false;
  registered_ = DdeNameService(inst_, service_.get(), nullptr, DNS_REGISTER) != nullptr;
  return registered_;
}

DdeServer::~DdeServer() {
  if (!inst_) return;
  if (registered_) DdeNameService(inst_, service_.get(), nullptr, DNS_UNREGISTER);
  for (win32::DdeString* s : {&service_, &topic_, &item_}) s->reset();
  DdeUninitialize(inst_);
  if (g_server == this) g_server = nullptr;
}

bool DdeServer::Is(HSZ a, HSZ b) const {
  // DDE names compare without regard to letter case.
  return a && b && DdeCmpStringHandles(a, b) == 0;
}

HDDEDATA CALLBACK DdeServer::Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  return GuardedHandler([&]() -> HDDEDATA {
    DdeServer* self = g_server;
    if (!self) return nullptr;
    switch (type) {
      case XTYP_CONNECT:
        // hsz1 is the topic, hsz2 the service.
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(
            self->Is(hsz1, self->topic_.get()) && self->Is(hsz2, self->service_.get())));
      case XTYP_POKE:
        return self->OnPoke(format, hsz1, hsz2, data);
      case XTYP_EXECUTE:
        return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
      default:
        // Wildcard connects, requests, advises and everything else: nothing.
        return nullptr;
    }
  });
}

HDDEDATA DdeServer::OnPoke(UINT format, HSZ topic, HSZ item, HDDEDATA data) {
  TimedWork timed(Work::kPoke);
  const auto refused = reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
  if (!Is(topic, topic_.get()) || !Is(item, item_.get()) || !data) return refused;
  if (format != CF_TEXT && format != CF_UNICODETEXT) return refused;

  DWORD size = 0;
  BYTE* bytes = DdeAccessData(data, &size);
  if (!bytes) return refused;
  std::u16string text;
  bool ok = size <= kMaxPokeBytes && DecodePokedText(format, bytes, size, text);
  // The data belongs to DDEML; release our view of it before running any handler.
  DdeUnaccessData(data);
  if (!ok) return refused;
  return reinterpret_cast<HDDEDATA>(onPoke_(text) ? DDE_FACK : DDE_FNOTPROCESSED);
}

}  // namespace tindra::win32
