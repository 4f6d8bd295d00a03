// The popup form on Windows: a borderless, topmost tool window that is never
// activated, and four timers. Its controls have no window of their own: the window
// shows the picture box Picture1 that covers it, with the two labels and the envelope
// picture box on Picture1 (PopupPicture draws them), and tells FrmTindra of the mouse,
// which finds the part a click is on by their boxes. The behaviour lives in FrmTindra;
// this file only carries it out on a real window.
#include "popup/win32/FrmTindra_win32.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "common/errors.h"
#include "common/forms.h"
#include "common/scope_exit.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"
#include "popup/win32/popup_accessibility.h"
#include "popup/win32/popup_picture.h"

namespace tindra {

namespace {

// The user is away from the keyboard, as the shell last said (SetPopupsUserAway).
bool gUserAway = false;

}  // namespace

class FrmTindraWindow;

namespace {
// The popups open now, in the order they opened, for SetPopupsUserAway.
std::vector<FrmTindraWindow*>& OpenPopups() {
  static std::vector<FrmTindraWindow*> open;
  return open;
}
}  // namespace

class FrmTindraWindow final : public Form,
                              private PopupWindow,
                              private win32::TickTarget,
                              public win32::WindowBase<FrmTindraWindow> {
 public:
  FrmTindraWindow(int32_t& popupCount, std::function<void()> onClosed,
                  std::function<void(const AppError&)> onFailed)
      : core_(*this, popupCount, win32::ScreenScale()),
        onClosed_(std::move(onClosed)),
        onFailed_(std::move(onFailed)) {}
  ~FrmTindraWindow() override = default;
  FrmTindraWindow(const FrmTindraWindow&) = delete;
  FrmTindraWindow& operator=(const FrmTindraWindow&) = delete;

  // The popup owns itself from here until it unloads.
  void Open(std::shared_ptr<FrmTindraWindow> self, const std::u16string& sName, int16_t iMode,
            int32_t nSX, int32_t nSY) {
    self_ = std::move(self);
    OpenPopups().push_back(this);
    try {
      if (gUserAway) core_.Form_UserAway();
      core_.Start(sName, iMode, nSX, nSY);
    } catch (...) {
      // A popup that could not be started does not stay loaded (it would hold the
      // stack open for ever): it unloads and deletes itself, and the error goes on.
      Unload();
      throw;
    }
  }

  // --- Form ---
  std::u16string FormName() const override { return u"FrmTindra"; }

  // The user went away from the keyboard or came back (may unload).
  void UserAway(bool away) {
    // Held for the length of the handler, which may unload the popup.
    std::shared_ptr<FrmTindraWindow> keep = self_;
    if (!keep || unloading_) return;
    Handle([&] {
      if (away) {
        core_.Form_UserAway();
      } else {
        core_.Form_UserBack();
      }
    });
  }

  // Unloads the popup (Form and PopupWindow share this): the unload event, the
  // window destroyed, the instance deleted at once or, when a message of this popup
  // is being handled further up the stack, once that handling returns.
  void Unload() override {
    if (unloading_) return;
    unloading_ = true;
    win32::TimedWork timed(win32::Work::kUnload);
    const ScopeExit finish([this] { Teardown(); });
    core_.Form_Unload();
  }

 private:
  // --- PopupWindow ---
  void Create(const PixelRect& rect) override {
    win32::TimedWork timed(win32::Work::kCreate);
    frame_.reset(CreateWindowExW(
        win32::kPopupFrameExStyle,
        RegisteredClass({.name = win32::kPopupClassName, .cursor = IDC_ARROW}), win32::kPopupTitle,
        win32::kPopupFrameStyle, rect.left, rect.top, rect.width, rect.height, nullptr, nullptr,
        GetModuleHandleW(nullptr), this));
    if (!frame_) Raise(kErrInvalidPropertyValue);
    picture_.LayOut(core_.boxes(), win32::TheScreenDpi().x, win32::TheScreenDpi().y);
    Forms().Add(this);
  }

  void Move(const PixelRect& rect) override {
    RequireWindow();
    // Nothing is invalidated: the system keeps the pixels of the part of the window
    // that stays (its top-left part), and only rows the window gains are drawn, here,
    // from the prepared picture.
    {
      win32::TimedWork timed(win32::Work::kMove);
      if (!SetWindowPos(frame_.get(), nullptr, rect.left, rect.top, rect.width, rect.height,
                        win32::kPopupMoveFlags))
        Raise(kErrInvalidPropertyValue);
    }
    picture_.DrawNewRows(frame_.get(), rect.width, rect.height);
  }

  void ShowLook(const PopupLook& look) override {
    RequireWindow();
    picture_.SetLook(look);
    SetWindowTextW(frame_.get(), win32::WidePtr(WindowText(look)));
    // Start shows the look before the window; a shown one is painted again.
    if (shown_) InvalidateRect(frame_.get(), nullptr, FALSE);
  }

  void SetTimerInterval(PopupTimer timer, int32_t milliseconds) override {
    SetInterval(timer, milliseconds);
  }
  void SetTimerEnabled(PopupTimer timer, bool enabled) override {
    SetEnabled(timer, enabled);
    // The hold begins with the window at its full height: it is drawn once more,
    // whole, from the picture, so that rows a growing step drew and the screen lost
    // (seen now and then on the 64-bit build under load) do not stay missing.
    if (timer == PopupTimer::tmrDelay && enabled && frame_) picture_.Redraw(frame_.get());
  }

  void ShowTopmost() override {
    RequireWindow();
    win32::TimedWork timed(win32::Work::kShow);
    // The one way the popup becomes visible; the result is deliberately not checked.
    SetWindowPos(frame_.get(), HWND_TOPMOST, 0, 0, 0, 0, win32::kPopupShowTopmostFlags);
    shown_ = true;
  }

  void Announce(const std::u16string& text) override {
    if (frame_) accessibility_.Announce(frame_.get(), text);
  }

  // Two reads per popup and per change of a setting, never per step. A read that
  // fails counts as the setting's default (animations on, high contrast off).
  DisplayPreferences Preferences() override {
    DisplayPreferences preferences;
    BOOL animations = TRUE;
    if (SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animations, 0))
      preferences.animations = animations != FALSE;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON)) {
      preferences.highContrast =
          SystemColors{GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT),
                       GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_WINDOWFRAME)};
    }
    // Windows' "Show notifications for", in seconds; Wine 8 knows no such setting.
    ULONG duration = 0;
    if (SystemParametersInfoW(SPI_GETMESSAGEDURATION, 0, &duration, 0))
      preferences.messageDurationS = duration;
    return preferences;
  }

  std::optional<ScreenPoint> PointerPosition() override {
    POINT at{};
    if (!GetCursorPos(&at)) return std::nullopt;
    return ScreenPoint{at.x, at.y};
  }

  // Tracks the leave (WM_MOUSELEAVE) without any polling. Not while the pointer is off
  // the window by the time its move is handled (behind a busy queue): some systems then
  // track nothing and report success, and no leave would ever come.
  bool TrackPointerLeave() override {
    if (!frame_ || unloading_) return false;
    if (tracking_) return true;
    HWND h = frame_.get();
    if (!PointerIsOn(h)) return false;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, h, 0};
    if (!TrackMouseEvent(&track)) return false;
    if (!PointerIsOn(h)) {
      track.dwFlags = TME_LEAVE | TME_CANCEL;
      TrackMouseEvent(&track);
      return false;
    }
    tracking_ = true;
    return true;
  }

  // --- helpers ---
  void RequireWindow() const {
    if (!frame_) Raise(kErrInvalidPropertyValue);
  }

  // Destroys the windows and lets the instance go: it is deleted now, or when the
  // messages of this popup being handled further up the stack have returned.
  void Teardown() noexcept {
    std::erase(OpenPopups(), this);
    win32::PopupTicker::Instance().DisarmAll(*this);
    Forms().Remove(this);
    accessibility_.Detach();  // while the window still exists
    frame_.reset();
    picture_.Release();
    if (onClosed_) onClosed_();
    std::shared_ptr<FrmTindraWindow> last = std::move(self_);
    // `last` may be the final owner: nothing after this line touches the instance.
  }

  // Runs one event of the popup. An error in it (the picture that cannot be composed
  // for want of graphics objects, say) closes this popup, which says why; the program
  // and the other popups go on. May unload.
  template <typename F>
  void Handle(F&& handler) {
    try {
      handler();
    } catch (...) {
      const AppError error = CurrentError();
      if (onFailed_) onFailed_(error);
      Unload();  // once unloading, again does nothing
    }
  }

  // Holding the instance keeps it alive while a message is handled, even when the
  // handler unloads it.
  friend class win32::WindowBase<FrmTindraWindow>;
  static constexpr win32::Work WorkOf(UINT message) noexcept {
    return message == WM_PAINT ? win32::Work::kPaint : win32::Work::kNone;
  }
  LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<FrmTindraWindow> keep = self_;
    if (!keep) return DefWindowProcW(h, message, wParam, lParam);
    return keep->OnMessage(h, message, wParam, lParam);
  }

  LRESULT OnMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
      case WM_ERASEBKGND:
        return 1;  // Picture1 covers the whole client area
      case WM_NCPAINT:
        return 0;  // no border, no caption: nothing outside the client area
      case WM_PAINT:
        Handle([&] { picture_.Paint(h); });
        return 0;
      case WM_LBUTTONDOWN:
        SetCapture(h);
        core_.Form_MouseDown(PointOf(lParam));
        return 0;
      case WM_LBUTTONUP: {
        PopupPart clicked = PopupPart::kNone;
        if (GetCapture() == h) {
          clicked = core_.Form_MouseUp(PointOf(lParam));
          ReleaseCapture();
        } else {
          core_.Form_PressLost();
        }
        if (clicked != PopupPart::kNone) OnClick(clicked);
        return 0;
      }
      case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != h) core_.Form_PressLost();
        return 0;
      case WM_MOUSEMOVE:
        // Where the pointer was as the system made the move, on the screen: the client
        // coordinates shift as the window grows or shrinks under a resting pointer. The
        // popup's code tells a move of the user's from the window's own arrival.
        if (!unloading_) {
          const DWORD at = GetMessagePos();
          const ScreenPoint point{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
          Handle([&] { core_.Form_MouseMove(point); });
        }
        return 0;
      case WM_MOUSELEAVE:
        tracking_ = false;
        if (!unloading_) Handle([&] { core_.Form_MouseLeave(); });
        return 0;
      case WM_SETTINGCHANGE:
      case WM_SYSCOLORCHANGE:
        if (!unloading_) Handle([&] { core_.Form_SettingChange(); });
        break;
      case WM_CLOSE:
        Unload();
        return 0;
      case WM_GETOBJECT:
        // The client area answers for itself; everything else is the system's.
        if (static_cast<LONG>(lParam) == OBJID_CLIENT) {
          if (const LRESULT object = accessibility_.ClientObject(h, wParam)) return object;
        }
        break;
      case WM_NCDESTROY:
        accessibility_.Detach();
        (void)frame_.release();
        break;
      default:
        break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
  }

  // --- TickTarget ---
  void OnTick(int timer) override {
    // Held for the length of the handler, which may unload the popup.
    std::shared_ptr<FrmTindraWindow> keep = self_;
    if (!keep || unloading_) return;
    const PopupTimer which = TimerAt(static_cast<size_t>(timer));
    win32::GuardedHandler([&] { Handle([&] { core_.Timer(which); }); });
  }

  // Whether the pointer is on `h` now, not on a window in front of it.
  static bool PointerIsOn(HWND h) {
    POINT at{};
    return GetCursorPos(&at) && WindowFromPoint(at) == h;
  }

  static WindowPoint PointOf(LPARAM lParam) {
    return WindowPoint{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  }

  void OnClick(PopupPart part) {  // may unload
    if (unloading_) return;
    Handle([&] { core_.Form_Click(part); });
  }

  FrmTindra core_;
  win32::UniqueWindow frame_;
  win32::PopupPicture picture_;
  win32::PopupAccessibility accessibility_;
  bool tracking_ = false;  // the pointer is on the window; its leave is tracked
  bool shown_ = false;     // ShowTopmost has run
  bool unloading_ = false;
  // The popup owns itself from Open until it unloads.
  std::shared_ptr<FrmTindraWindow> self_;
  std::function<void()> onClosed_;
  std::function<void(const AppError&)> onFailed_;
};

void OpenPopup(int32_t& popupCount, const std::u16string& sName, int16_t iMode, int32_t nSX,
               int32_t nSY, std::function<void()> onClosed,
               std::function<void(const AppError&)> onFailed) {
  auto popup =
      std::make_shared<FrmTindraWindow>(popupCount, std::move(onClosed), std::move(onFailed));
  FrmTindraWindow& form = *popup;
  form.Open(std::move(popup), sName, iMode, nSX, nSY);
}

void SetPopupsUserAway(bool away) {
  if (away == gUserAway) return;
  gUserAway = away;
  // A copy: a popup may unload as it is told.
  const std::vector<FrmTindraWindow*> open = OpenPopups();
  for (FrmTindraWindow* popup : open) {
    if (std::find(OpenPopups().begin(), OpenPopups().end(), popup) != OpenPopups().end())
      popup->UserAway(away);
  }
}

}  // namespace tindra

namespace tindra::win32 {

namespace {

// The screen's logical pixels per inch on one axis (LOGPIXELSX or LOGPIXELSY); 96
// when it cannot be read.
int ReadScreenDpi(int axis) {
  WindowDc dc;
  const int dpi = dc ? GetDeviceCaps(dc.get(), axis) : 96;
  return dpi > 0 ? dpi : 96;
}

constexpr wchar_t kTickerClassName[] = L"TindraPopupTicker";
constexpr UINT_PTR kSourceTimerId = 1;
constexpr UINT kContinueMessage = WM_APP + 1;
// How often a long run of popup ticks looks for pokes and clicks waiting behind it.
// Each look is a round trip to the window server; half a tick period keeps a waiting
// poke's delay well under the period while most steps make no look at all.
constexpr double kSliceMs = kEffectIntervalMs / 2.0;
constexpr UINT kWaitingMessages = QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT;

// The schedule's clock: the performance counter the step counters read, in ms.
double NowMs() { return static_cast<double>(CounterUs()) / 1000.0; }

}  // namespace

const ScreenDpi& TheScreenDpi() {
  static const ScreenDpi dpi{ReadScreenDpi(LOGPIXELSX), ReadScreenDpi(LOGPIXELSY)};
  return dpi;
}

TickTarget::TickTarget() {
  for (size_t i = 0; i < intervals_.size(); ++i) intervals_[i] = InitialInterval(TimerAt(i));
}

void TickTarget::SetInterval(PopupTimer timer, int32_t milliseconds) {
  intervals_[TimerIndex(timer)] = milliseconds;
  Apply(timer);
}

void TickTarget::SetEnabled(PopupTimer timer, bool enabled) {
  enabled_[TimerIndex(timer)] = enabled;
  Apply(timer);
}

void TickTarget::Apply(PopupTimer timer) {
  const size_t i = TimerIndex(timer);
  const int32_t interval = enabled_[i] ? intervals_[i] : 0;
  auto& ticker = PopupTicker::Instance();
  if (interval > 0) {
    ticker.Arm(*this, static_cast<int>(i), interval);
  } else {
    ticker.Disarm(*this, static_cast<int>(i));
  }
}

PopupTicker& PopupTicker::Instance() {
  static PopupTicker ticker;
  return ticker;
}

PopupTicker::PopupTicker() : schedule_(kEffectIntervalMs) {}

void PopupTicker::Arm(TickTarget& target, int timer, int32_t intervalMs) {
  if (target.tickOwner_ == 0) {
    target.tickOwner_ = schedule_.NewOwner();
    targets_[target.tickOwner_] = &target;
  }
  const TickSchedule::Key key{target.tickOwner_, timer};
  schedule_.Arm(key, intervalMs, NowMs());
  NoteArmed(key, intervalMs);
  Reschedule();
}

void PopupTicker::Disarm(TickTarget& target, int timer) {
  // A target never armed has the number 0, which no owner has.
  const TickSchedule::Key key{target.tickOwner_, timer};
  schedule_.Disarm(key);
  NoteDisarmed(key);
  Reschedule();
}

void PopupTicker::DisarmAll(TickTarget& target) noexcept {
  const uint64_t owner = target.tickOwner_;
  if (owner == 0) return;
  schedule_.DisarmAll(owner);
  targets_.erase(owner);
  dueUs_.erase(dueUs_.lower_bound({owner, INT_MIN}), dueUs_.upper_bound({owner, INT_MAX}));
  // Ticks of its already taken from the schedule find no target and are dropped.
  target.tickOwner_ = 0;
  // A source tick with nothing due costs one message; the next one stops it.
}

void PopupTicker::NoteArmed(TickSchedule::Key key, int32_t intervalMs) {
  if (intervalMs != kEffectIntervalMs || !SharedStepCounters()) {
    NoteDisarmed(key);
    return;
  }
  dueUs_[key] = CounterUs() + kEffectIntervalMs * 1000LL;
}

void PopupTicker::NoteTickBegins(TickSchedule::Key key) {
  const auto it = dueUs_.find(key);
  if (it == dueUs_.end()) return;
  const int64_t now = CounterUs();
  CountTickLateness(now > it->second ? now - it->second : 0);
  it->second = now + kEffectIntervalMs * 1000LL;
}

void PopupTicker::NoteDisarmed(TickSchedule::Key key) noexcept { dueUs_.erase(key); }

void PopupTicker::Reschedule() {
  if (ticking_) return;
  if (!window_) {
    window_.reset(CreateWindowExW(0, RegisteredClass({.name = kTickerClassName}), L"", 0, 0, 0, 0,
                                  0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this));
    if (!window_) Raise(kErrInvalidPropertyValue);
  }
  const double now = NowMs();
  const int32_t delay = schedule_.NextDelayMs(now);
  if (delay < 0) {
    if (sourceDelayMs_ >= 0) KillTimer(window_.get(), kSourceTimerId);
    sourceDelayMs_ = -1;
    return;
  }
  // A running source that already ticks in time is left alone: resetting it would
  // shift the ticks of every other popup.
  if (delay == sourceDelayMs_ && nextSourceTickMs_ <= now + delay + 1) return;
  if (!SetTimer(window_.get(), kSourceTimerId, static_cast<UINT>(delay), nullptr))
    Raise(kErrInvalidPropertyValue);
  sourceDelayMs_ = delay;
  nextSourceTickMs_ = now + delay;
}

void PopupTicker::OnSourceTick() {
  const double now = NowMs();
  nextSourceTickMs_ = now + sourceDelayMs_;
  // Still behind with the last tick: this one is not queued on top of it, as a
  // platform timer is not posted again while its message waits.
  if (!pending_.empty()) return;
  for (const TickSchedule::Key& key : schedule_.TakeDue(now)) pending_.push_back(key);
  RunPending();
}

void PopupTicker::RunPending() {
  ticking_ = true;
  const ScopeExit endTick([this] { ticking_ = false; });
  double sliceStart = NowMs();
  while (!pending_.empty()) {
    if (NowMs() - sliceStart >= kSliceMs) {
      // A poke or a click waiting in the queue goes first, as it would ahead of the
      // timer messages of separate platform timers; the rest of the tick follows it.
      bool waiting = false;
      {
        TimedWork timed(Work::kQueueLook);
        waiting = HIWORD(GetQueueStatus(kWaitingMessages)) != 0;
      }
      if (waiting && PostMessageW(window_.get(), kContinueMessage, 0, 0)) return;
      sliceStart = NowMs();
    }
    const TickSchedule::Key key = pending_.front();
    pending_.pop_front();
    // An earlier handler may have stopped this timer or unloaded its popup (which
    // disarms all of the popup's timers); a popup started meanwhile has a number of its
    // own.
    if (!schedule_.IsArmed(key)) continue;
    const auto target = targets_.find(key.owner);
    if (target == targets_.end()) continue;
    NoteTickBegins(key);
    const TimedWork timed(Work::kPopupLogic);
    target->second->OnTick(key.timer);
  }
}

Work PopupTicker::WorkOf(UINT message) noexcept {
  return message == WM_TIMER || message == kContinueMessage ? Work::kTicker : Work::kNone;
}

LRESULT PopupTicker::HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool tick = message == WM_TIMER && wParam == kSourceTimerId;
  if (!tick && message != kContinueMessage) return DefWindowProcW(h, message, wParam, lParam);
  if (tick) {
    OnSourceTick();
  } else {
    RunPending();
  }
  Reschedule();
  return 0;
}

}  // namespace tindra::win32
