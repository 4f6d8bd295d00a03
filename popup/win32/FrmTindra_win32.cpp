// The popup form on Windows: a borderless, topmost tool window that is never
// activated, and four timers. Its controls have no window of their own: the window
// shows the picture box Picture1 that covers it, with the two labels and the envelope
// picture box on Picture1 (PopupPicture draws them), and finds which of them a click
// is on by their boxes. The behaviour lives in FrmTindra; this file only carries it out on a
// real window.
#include "popup/win32/FrmTindra_win32.h"

#include <algorithm>
#include <array>
#include <memory>

#include "common/errors.h"
#include "common/forms.h"
#include "common/win32/ansi.h"
#include "common/win32/guard.h"
#include "common/win32/handle.h"
#include "common/win32/screen.h"
#include "common/win32/step_counters.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"
#include "popup/win32/FrmTindra_controls.h"
#include "popup/win32/popup_accessibility.h"
#include "popup/win32/popup_picture.h"
#include "popup/win32/popup_ticker.h"

namespace tindra {

class FrmTindraWindow final : public Form,
                              private PopupWindow,
                              private win32::TickTarget,
                              public win32::WindowBase<FrmTindraWindow> {
 public:
  explicit FrmTindraWindow(int32_t& popupCount) : core_(*this, popupCount) {
    for (size_t i = 0; i < intervals_.size(); ++i) intervals_[i] = InitialInterval(TimerAt(i));
  }
  ~FrmTindraWindow() override = default;
  FrmTindraWindow(const FrmTindraWindow&) = delete;
  FrmTindraWindow& operator=(const FrmTindraWindow&) = delete;

  void Start(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
             const int32_t& nSY) {
    try {
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

  // Unloads the popup (Form and PopupWindow share this): the unload event, the
  // window destroyed, the instance deleted at once or, when a message of this popup
  // is being handled further up the stack, once that handling returns.
  void Unload() override {
    if (unloading_) return;
    unloading_ = true;
    win32::TimedWork timed(win32::Work::kUnload);
    struct Finish {
      FrmTindraWindow* self;
      ~Finish() { self->Teardown(); }
    } finish{this};
    core_.Form_Unload();
  }

 private:
  // --- PopupWindow ---
  void Load() override {
    if (frame_) return;
    win32::TimedWork timed(win32::Work::kCreate);
    RegisterClasses();
    // The screen's dpi is fixed for the life of the process: read once, not through
    // two screen DCs per popup (each costs the window server a visible region).
    static const int screenDpiX = win32::ScreenDpi(LOGPIXELSX);
    static const int screenDpiY = win32::ScreenDpi(LOGPIXELSY);
    tppX_ = 1440.0f / static_cast<float>(screenDpiX);
    tppY_ = 1440.0f / static_cast<float>(screenDpiY);
    HINSTANCE instance = GetModuleHandleW(nullptr);

    frame_.reset(
        CreateWindowExW(win32::kPopupFrameExStyle, win32::kPopupClassName, win32::kPopupTitle,
                        win32::kPopupFrameStyle, 0, 0, ToWindowPixels(kPopupWidth, tppX_),
                        ToWindowPixels(kPopupMaxHeight, tppY_), nullptr, nullptr, instance, this));
    if (!frame_) Raise(kErrInvalidPropertyValue);
    picture_.Create(screenDpiX, screenDpiY);

    Forms().Add(this);
    core_.Form_Load();
  }

  float Left() override { return FromWindowPixels(WindowRect().left, tppX_); }
  float Top() override { return FromWindowPixels(WindowRect().top, tppY_); }
  float Width() override {
    const RECT r = WindowRect();
    return FromWindowPixels(r.right - r.left, tppX_);
  }
  float Height() override {
    const RECT r = WindowRect();
    return FromWindowPixels(r.bottom - r.top, tppY_);
  }

  void Move(float left, float top, float width, float height) override {
    RequireWindow();
    const int x = ToWindowPixels(left, tppX_);
    const int y = ToWindowPixels(top, tppY_);
    const int cx = std::max(0, ToWindowPixels(width, tppX_));
    const int cy = std::max(0, ToWindowPixels(height, tppY_));
    // Nothing is invalidated: the system keeps the pixels of the part of the window
    // that stays (its top-left part), and only rows the window gains are drawn, here,
    // from the prepared picture.
    {
      win32::TimedWork timed(win32::Work::kMove);
      if (!SetWindowPos(frame_.get(), nullptr, x, y, cx, cy, win32::kPopupMoveFlags))
        Raise(kErrInvalidPropertyValue);
    }
    picture_.DrawNewRows(frame_.get(), cx, cy);
  }

  void ShowLook(const PopupLook& look) override {
    RequireWindow();
    picture_.SetLook(look);
    SetWindowTextW(frame_.get(), win32::WidePtr(WindowText(look)));
    // Start shows the look before the window; a shown one is painted again.
    if (IsWindowVisible(frame_.get())) InvalidateRect(frame_.get(), nullptr, FALSE);
  }

  void SetTimerInterval(PopupTimer timer, int32_t milliseconds) override {
    intervals_[TimerIndex(timer)] = milliseconds;
    ApplyTimer(timer);
  }
  void SetTimerEnabled(PopupTimer timer, bool enabled) override {
    enabled_[TimerIndex(timer)] = enabled;
    ApplyTimer(timer);
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
    return preferences;
  }

  // --- helpers ---
  static void RegisterClasses() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW frame{};
    frame.cbSize = sizeof(frame);
    frame.lpfnWndProc = &Procedure;
    frame.hInstance = GetModuleHandleW(nullptr);
    frame.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /*IDC_ARROW*/);
    frame.lpszClassName = win32::kPopupClassName;
    if (!RegisterClassExW(&frame)) Raise(kErrInvalidPropertyValue);
    registered = true;
  }

  void RequireWindow() const {
    if (!frame_) Raise(kErrInvalidPropertyValue);
  }

  RECT WindowRect() const {
    RECT r{};
    if (!frame_ || !GetWindowRect(frame_.get(), &r)) Raise(kErrInvalidPropertyValue);
    return r;
  }

  // The popup's timers are logical ones, ticked by the one timer all popups share.
  void ApplyTimer(PopupTimer timer) {
    if (!frame_) return;
    const size_t i = TimerIndex(timer);
    const int32_t interval = enabled_[i] ? intervals_[i] : 0;
    auto& ticker = win32::PopupTicker::Instance();
    if (interval > 0) {
      ticker.Arm(*this, static_cast<int>(i), interval);
    } else {
      ticker.Disarm(*this, static_cast<int>(i));
    }
  }

  // Destroys the windows and lets the instance go: it is deleted now, or when the
  // messages of this popup being handled further up the stack have returned.
  void Teardown() noexcept {
    win32::PopupTicker::Instance().DisarmAll(*this);
    Forms().Remove(this);
    accessibility_.Detach();  // while the window still exists
    frame_.reset();
    picture_.Release();
    if (onClosed_) onClosed_();
    std::shared_ptr<FrmTindraWindow> last = std::move(self_);
    // `last` may be the final owner: nothing after this line touches the instance.
  }

  // Holding the instance keeps it alive while a message is handled, even when the
  // handler unloads it.
  friend class win32::WindowBase<FrmTindraWindow>;
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
        picture_.Paint(h);
        return 0;
      case WM_LBUTTONDOWN:
        // Every part takes its own clicks; those without an action absorb them.
        SetCapture(h);
        pressed_ = PartAt(PointOf(lParam));
        return 0;
      case WM_LBUTTONUP: {
        const Part pressed = GetCapture() == h ? pressed_ : Part::kNone;
        pressed_ = Part::kNone;
        if (GetCapture() == h) ReleaseCapture();
        // A click: pressed and released on the same part, as a control's own window
        // would count it.
        const POINT at = PointOf(lParam);
        if (pressed != Part::kNone && PtInRect(&BoxOf(pressed), at)) OnClick(pressed);
        return 0;
      }
      case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != h) pressed_ = Part::kNone;
        return 0;
      case WM_MOUSEMOVE:
        // The first move over the window: the system tells of the leave (WM_MOUSELEAVE)
        // without any polling. A popup whose leave could not be tracked is never
        // held, so that it cannot stay for ever.
        if (!tracking_ && !unloading_) {
          TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, h, 0};
          if (TrackMouseEvent(&track)) {
            tracking_ = true;
            core_.Form_MouseEnter();
          }
        }
        return 0;
      case WM_MOUSELEAVE:
        tracking_ = false;
        if (!unloading_) core_.Form_MouseLeave();
        return 0;
      case WM_SETTINGCHANGE:
      case WM_SYSCOLORCHANGE:
        if (!unloading_) core_.Form_SettingChange();
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
    win32::TimedWork timed(win32::Work::kPopupLogic);
    win32::GuardedHandler([&] { core_.Timer(which); });
  }

  // The parts of the window that take clicks, each where its control would stand.
  enum class Part { kNone, kPicture1, kPicNote, kLblName, kLblDesc };

  static POINT PointOf(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  }

  const RECT& BoxOf(Part part) const {
    switch (part) {
      case Part::kPicNote:
        return picture_.boxes().note;
      case Part::kLblName:
        return picture_.boxes().name;
      case Part::kLblDesc:
        return picture_.boxes().desc;
      default:
        return picture_.boxes().picture1;
    }
  }

  // The part on top at `at`, in the order the controls stack: the envelope (only
  // while it is shown), the name line, the description line, then Picture1, which
  // covers the whole window.
  Part PartAt(POINT at) const {
    for (Part part : {Part::kPicNote, Part::kLblName, Part::kLblDesc}) {
      if (part == Part::kPicNote && !picture_.noteVisible()) continue;
      if (PtInRect(&BoxOf(part), at)) return part;
    }
    return PtInRect(&picture_.boxes().picture1, at) ? Part::kPicture1 : Part::kNone;
  }

  void OnClick(Part part) {  // may unload
    if (unloading_) return;
    if (part == Part::kPicture1) core_.Picture1_Click();
    if (part == Part::kLblName) core_.lblName_Click();
  }

  FrmTindra core_;
  win32::UniqueWindow frame_;
  win32::PopupPicture picture_;
  float tppX_ = 15.0f, tppY_ = 15.0f;
  win32::PopupAccessibility accessibility_;
  std::array<int32_t, kPopupTimerCount> intervals_{};
  std::array<bool, kPopupTimerCount> enabled_{};
  Part pressed_ = Part::kNone;  // where the button went down, while it is held
  bool tracking_ = false;       // the pointer is on the window; its leave is tracked
  bool unloading_ = false;
  // The popup owns itself from creation until it unloads.
  std::shared_ptr<FrmTindraWindow> self_;
  std::function<void()> onClosed_;

  friend FrmTindraWindow* NewFrmTindraWindow(int32_t& popupCount, std::function<void()> onClosed);
};

FrmTindraWindow* NewFrmTindraWindow(int32_t& popupCount, std::function<void()> onClosed) {
  auto form = std::make_shared<FrmTindraWindow>(popupCount);
  form->self_ = form;
  form->onClosed_ = std::move(onClosed);
  return form.get();
}

void Start(FrmTindraWindow& form, const std::u16string& sName, const int16_t& iMode,
           const int32_t& nSX, const int32_t& nSY) {
  form.Start(sName, iMode, nSX, nSY);
}

}  // namespace tindra
