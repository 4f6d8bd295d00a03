// The popup form on Windows: a borderless, topmost tool window that is never
// activated, and four timers. Its controls have no window of their own: the window
// draws the picture box Picture1 that covers it, with the two labels and the
// envelope picture box on Picture1, and finds which of them a click is on by their
// boxes. The behaviour lives in FrmTindra; this file only carries it out on a
// real window.
#include "popup/win32/FrmTindra_win32.h"

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>

#include "common/errors.h"
#include "common/forms.h"
#include "common/numeric.h"
#include "common/win32/ansi.h"
#include "common/win32/guard.h"
#include "common/win32/handle.h"
#include "common/win32/screen.h"
#include "common/win32/step_counters.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"
#include "popup/win32/FrmTindra_controls.h"
#include "popup/win32/popup_accessibility.h"
#include "popup/win32/popup_artwork.h"
#include "popup/win32/popup_ticker.h"

namespace tindra {

class FrmTindraWindow final : public Form,
                              private PopupWindow,
                              private win32::TickTarget,
                              public win32::WindowBase<FrmTindraWindow> {
 public:
  FrmTindraWindow() : core_(*this) {
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
    dpiX_ = screenDpiX;
    dpiY_ = screenDpiY;
    tppX_ = 1440.0f / static_cast<float>(dpiX_);
    tppY_ = 1440.0f / static_cast<float>(dpiY_);
    HINSTANCE instance = GetModuleHandleW(nullptr);

    frame_.reset(
        CreateWindowExW(win32::kPopupFrameExStyle, win32::kPopupClassName, win32::kPopupTitle,
                        win32::kPopupFrameStyle, 0, 0, ToWindowPixels(kPopupWidth, tppX_),
                        ToWindowPixels(kPopupMaxHeight, tppY_), nullptr, nullptr, instance, this));
    if (!frame_) Raise(kErrInvalidPropertyValue);
    // Picture1 stands at the window's top-left corner, so its coordinates are the
    // window's; the others stand on Picture1.
    picture1Box_ = PixelBox(kPicture1Box);
    noteBox_ = PixelBox(kPicNoteBox);
    nameBox_ = PixelBox(kLblNameBox);
    descBox_ = PixelBox(kLblDescBox);

    // 9.75 points at the screen's real vertical dpi, rounded to whole pixels.
    font_.reset(CreateFontW(-ToInt32(kLabelFontPoints * dpiY_ / 72.0), 0, 0, 0, FW_BOLD, FALSE,
                            FALSE, FALSE, HANGEUL_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"돋움"));
    if (!font_) Raise(kErrInvalidPropertyValue);
    background_ = &win32::PopupBackground(dpiX_, dpiY_);

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
    DrawNewRows(cx, cy);
  }

  // Draws the rows below drawnHeight_ of a window now `width` x `height` pixels. The
  // rows above it already show the picture: a move keeps them, as a step never
  // widens the window. A shrinking step draws nothing.
  void DrawNewRows(int width, int height) {
    const bool visible = IsWindowVisible(frame_.get()) != FALSE;
    const int from = visible ? std::min(drawnHeight_, height) : 0;
    drawnHeight_ = from;
    if (!visible || width <= 0 || height <= from) return;
    win32::TimedWork timed(win32::Work::kDraw);
    if (!composed_) Compose();
    win32::WindowDc dc(frame_.get(), DCX_CACHE);
    if (!dc) return;
    BitBlt(dc.get(), 0, from, width, height - from, canvasDc_.get(), 0, from, SRCCOPY);
    drawnHeight_ = height;
  }

  void SetNameText(const std::u16string& text) override { SetPart(nameText_, text); }
  void SetDescText(const std::u16string& text) override { SetPart(descText_, text); }
  void SetNameColor(uint32_t color) override { SetPart(nameColor_, color); }
  void SetDescColor(uint32_t color) override { SetPart(descColor_, color); }
  void ShowNote() override { SetPart(noteVisible_, true); }
  void SetCaption(const std::u16string& text) override {
    RequireWindow();
    SetWindowTextW(frame_.get(), win32::WidePtr(text));
  }

  void SetTimerInterval(PopupTimer timer, int32_t milliseconds) override {
    intervals_[TimerIndex(timer)] = milliseconds;
    ApplyTimer(timer);
  }
  void SetTimerEnabled(PopupTimer timer, bool enabled) override {
    enabled_[TimerIndex(timer)] = enabled;
    ApplyTimer(timer);
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

  // A control's box in pixels, laid out as a child window of that size would be:
  // left, top, width and height each rounded from twips.
  RECT PixelBox(const TwipsBox& box) const {
    const int left = ToWindowPixels(box.left, tppX_);
    const int top = ToWindowPixels(box.top, tppY_);
    return RECT{left, top, left + ToWindowPixels(box.width, tppX_),
                top + ToWindowPixels(box.height, tppY_)};
  }

  void RequireWindow() const {
    if (!frame_) Raise(kErrInvalidPropertyValue);
  }

  RECT WindowRect() const {
    RECT r{};
    if (!frame_ || !GetWindowRect(frame_.get(), &r)) Raise(kErrInvalidPropertyValue);
    return r;
  }

  // A text, a colour or the envelope changed: the picture is composed again, and a
  // shown window painted again (Start sets them all before the window is shown).
  template <typename T>
  void SetPart(T& store, const T& value) {
    RequireWindow();
    store = value;
    composed_ = false;
    drawnHeight_ = 0;
    if (IsWindowVisible(frame_.get())) InvalidateRect(frame_.get(), nullptr, FALSE);
  }

  // The popup's timers are logical ones, ticked by the one timer all popups share.
  void ApplyTimer(PopupTimer timer) {
    if (!frame_) return;
    const size_t i = TimerIndex(timer);
    const int32_t interval = enabled_[i] ? intervals_[i] : 0;
    auto& ticker = win32::PopupTicker::Instance();
    if (interval > 0 && win32::SharedStepCounters())
      tickDueUs_ = timer == PopupTimer::tmrDelay ? 0 : win32::CounterUs() + interval * 1000LL;
    if (interval > 0) {
      ticker.Arm(*this, static_cast<int>(TimerIndex(timer)), interval);
    } else {
      ticker.Disarm(*this, static_cast<int>(TimerIndex(timer)));
    }
  }

  // Destroys the windows and lets the instance go: it is deleted now, or when the
  // messages of this popup being handled further up the stack have returned.
  void Teardown() noexcept {
    win32::PopupTicker::Instance().DisarmAll(*this);
    Forms().Remove(this);
    accessibility_.Detach();  // while the window still exists
    frame_.reset();
    font_.reset();
    envelope_.reset();
    canvasDc_.reset();
    canvas_.reset();
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
        Paint(h);
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
    if (which != PopupTimer::tmrDelay && win32::SharedStepCounters()) {
      const int64_t now = win32::CounterUs();
      if (tickDueUs_) win32::CountTickLateness(now > tickDueUs_ ? now - tickDueUs_ : 0);
      tickDueUs_ = now + intervals_[TimerIndex(which)] * 1000LL;
    }
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
        return noteBox_;
      case Part::kLblName:
        return nameBox_;
      case Part::kLblDesc:
        return descBox_;
      default:
        return picture1Box_;
    }
  }

  // The part on top at `at`, in the order the controls stack: the envelope (only
  // while it is shown), the name line, the description line, then Picture1, which
  // covers the whole window.
  Part PartAt(POINT at) const {
    for (Part part : {Part::kPicNote, Part::kLblName, Part::kLblDesc}) {
      if (part == Part::kPicNote && !noteVisible_) continue;
      if (PtInRect(&BoxOf(part), at)) return part;
    }
    return PtInRect(&picture1Box_, at) ? Part::kPicture1 : Part::kNone;
  }

  void OnClick(Part part) {  // may unload
    if (unloading_) return;
    if (part == Part::kPicture1) core_.Picture1_Click();
    if (part == Part::kLblName) core_.lblName_Click();
  }

  // Picture1 with everything on it, drawn once per popup (again only after a text,
  // a colour or the envelope changed); every paint copies its part.
  void Compose() {
    const RECT& box = picture1Box_;
    if (!canvasDc_) {
      // A memory DC like the screen's, and a DIB section that needs no DC: neither
      // takes a screen DC of its own.
      canvasDc_.reset(CreateCompatibleDC(nullptr));
      // A DIB section rather than a device bitmap: its memory is mapped for it alone
      // and goes back to the system with the popup, where a burst's worth of device
      // bitmaps would stay in the process heap after the popups have gone.
      const BITMAPINFO info = win32::TopDownBitmapInfo(box.right, box.bottom);
      void* bits = nullptr;
      canvas_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
      if (!canvasDc_ || !canvas_) Raise(kErrInvalidPropertyValue);
      SelectObject(canvasDc_.get(), canvas_.get());
    }
    HDC dc = canvasDc_.get();
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (background_) win32::DrawBackground(dc, *background_, 0, 0);
    HGDIOBJ oldFont = SelectObject(dc, font_.get());
    SetBkMode(dc, TRANSPARENT);
    for (auto [label, text, color] : {std::tuple{&nameBox_, &nameText_, nameColor_},
                                      std::tuple{&descBox_, &descText_, descColor_}}) {
      // A label shows no more of its text than fits in its own box.
      RECT r = *label;
      const int saved = SaveDC(dc);
      IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
      SetTextColor(dc, color);
      DrawTextW(dc, win32::WidePtr(*text), static_cast<int>(text->size()), &r,
                DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
      RestoreDC(dc, saved);
    }
    SelectObject(dc, oldFont);
    if (noteVisible_) {
      const RECT& note = noteBox_;
      // Loaded only by a popup that shows it.
      if (!envelope_) envelope_ = win32::LoadEnvelopeIcon(note.right - note.left);
      win32::UniqueBrush brush(CreateSolidBrush(kNoteBackground));
      FillRect(dc, &note, brush ? brush.get() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      if (envelope_)
        DrawIconEx(dc, note.left, note.top, envelope_.get(), note.right - note.left,
                   note.bottom - note.top, 0, nullptr, DI_NORMAL);
    }
    composed_ = true;
  }

  void Paint(HWND h) {
    win32::TimedWork timed(win32::Work::kPaint);
    win32::PaintDc dc(h);
    if (!dc.get()) return;
    if (!composed_) Compose();
    const RECT& r = dc.paint().rcPaint;
    BitBlt(dc.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, canvasDc_.get(), r.left,
           r.top, SRCCOPY);
  }

  FrmTindra core_;
  win32::UniqueWindow frame_;
  // The controls' boxes, in the window's pixels.
  RECT picture1Box_{}, noteBox_{}, nameBox_{}, descBox_{};
  win32::UniqueFont font_;
  win32::UniqueIcon envelope_;
  const win32::BackgroundImage* background_ = nullptr;
  win32::UniqueDc canvasDc_;
  win32::UniqueBitmap canvas_;
  bool composed_ = false;
  // Rows of the frame, from its top, that show the current picture (drawn by a step).
  int drawnHeight_ = 0;
  // For the benchmark's counters: when this popup's next effect tick is due.
  int64_t tickDueUs_ = 0;
  bool noteVisible_ = false;
  std::u16string nameText_, descText_;
  uint32_t nameColor_ = kLabelBlue;
  uint32_t descColor_ = kLabelBlue;
  int dpiX_ = 96, dpiY_ = 96;
  float tppX_ = 15.0f, tppY_ = 15.0f;
  win32::PopupAccessibility accessibility_;
  std::array<int32_t, kPopupTimerCount> intervals_{};
  std::array<bool, kPopupTimerCount> enabled_{};
  Part pressed_ = Part::kNone;  // where the button went down, while it is held
  bool unloading_ = false;
  // The popup owns itself from creation until it unloads.
  std::shared_ptr<FrmTindraWindow> self_;

  friend FrmTindraWindow* NewFrmTindraWindow();
};

FrmTindraWindow* NewFrmTindraWindow() {
  auto form = std::make_shared<FrmTindraWindow>();
  form->self_ = form;
  return form.get();
}

void Start(FrmTindraWindow& form, const std::u16string& sName, const int16_t& iMode,
           const int32_t& nSX, const int32_t& nSY) {
  form.Start(sName, iMode, nSX, nSY);
}

}  // namespace tindra
