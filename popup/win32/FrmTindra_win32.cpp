// The popup form on Windows: a borderless, topmost tool window that is never
// activated, with the picture box Picture1 covering it, the two labels and the
// envelope picture box on top of Picture1, and four timers. The behaviour lives in
// FrmTindraCore; this file only carries it out on real windows.
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
#include "popup/FrmTindraCore.h"
#include "popup/win32/FrmTindra_controls.h"
#include "popup/win32/popup_accessibility.h"
#include "popup/win32/popup_artwork.h"
#include "popup/win32/popup_ticker.h"

namespace tindra {

using win32::kLblDescId;
using win32::kLblNameId;
using win32::kPicNoteId;
using win32::kPicture1Id;

class FrmTindra final : public Form,
                        private PopupWindow,
                        private win32::TickTarget,
                        public win32::WindowBase<FrmTindra> {
 public:
  FrmTindra() : core_(*this) {
    for (size_t i = 0; i < intervals_.size(); ++i) intervals_[i] = InitialInterval(TimerAt(i));
  }
  ~FrmTindra() override = default;
  FrmTindra(const FrmTindra&) = delete;
  FrmTindra& operator=(const FrmTindra&) = delete;

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
      FrmTindra* self;
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
    dpiX_ = win32::ScreenDpi(LOGPIXELSX);
    dpiY_ = win32::ScreenDpi(LOGPIXELSY);
    tppX_ = 1440.0f / static_cast<float>(dpiX_);
    tppY_ = 1440.0f / static_cast<float>(dpiY_);
    HINSTANCE instance = GetModuleHandleW(nullptr);

    frame_.reset(
        CreateWindowExW(win32::kPopupFrameExStyle, win32::kPopupClassName, win32::kPopupTitle,
                        win32::kPopupFrameStyle, 0, 0, ToWindowPixels(kPopupWidth, tppX_),
                        ToWindowPixels(kPopupMaxHeight, tppY_), nullptr, nullptr, instance, this));
    if (!frame_) Raise(kErrInvalidPropertyValue);
    picture1_ = CreateControl(frame_.get(), kPicture1Id, kPicture1Box, true);
    picNote_ = CreateControl(picture1_, kPicNoteId, kPicNoteBox, false);
    lblName_ = CreateControl(picture1_, kLblNameId, kLblNameBox, true);
    lblDesc_ = CreateControl(picture1_, kLblDescId, kLblDescBox, true);

    // 9.75 points at the screen's real vertical dpi, rounded to whole pixels.
    font_.reset(CreateFontW(-ToInt32(kLabelFontPoints * dpiY_ / 72.0), 0, 0, 0, FW_BOLD, FALSE,
                            FALSE, FALSE, HANGEUL_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"돋움"));
    if (!font_) Raise(kErrInvalidPropertyValue);
    RECT note{};
    GetClientRect(picNote_, &note);
    envelope_ = win32::LoadEnvelopeIcon(note.right);
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
    // The frame's own DC, not clipped by the controls: the picture holds them too.
    win32::WindowDc dc(frame_.get(), DCX_CACHE);
    if (!dc) return;
    BitBlt(dc.get(), 0, from, width, height - from, canvasDc_.get(), 0, from, SRCCOPY);
    drawnHeight_ = height;
  }

  void SetNameText(const std::u16string& text) override { SetLabel(lblName_, nameText_, text); }
  void SetDescText(const std::u16string& text) override { SetLabel(lblDesc_, descText_, text); }
  void SetNameColor(uint32_t color) override { SetLabelColor(lblName_, nameColor_, color); }
  void SetDescColor(uint32_t color) override { SetLabelColor(lblDesc_, descColor_, color); }
  void ShowNote() override {
    RequireWindow();
    noteVisible_ = true;
    composed_ = false;
    drawnHeight_ = 0;
    ShowWindow(picNote_, SW_SHOWNA);
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
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW frame{};
    frame.cbSize = sizeof(frame);
    frame.lpfnWndProc = &Procedure;
    frame.hInstance = instance;
    frame.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /*IDC_ARROW*/);
    frame.lpszClassName = win32::kPopupClassName;
    WNDCLASSEXW control = frame;
    control.lpszClassName = win32::kPopupControlClassName;
    if (!RegisterClassExW(&frame) || !RegisterClassExW(&control)) Raise(kErrInvalidPropertyValue);
    registered = true;
  }

  HWND CreateControl(HWND parent, int id, const TwipsBox& box, bool visible) {
    HWND h = CreateWindowExW(
        0, win32::kPopupControlClassName, L"",
        WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0),
        ToWindowPixels(box.left, tppX_), ToWindowPixels(box.top, tppY_),
        ToWindowPixels(box.width, tppX_), ToWindowPixels(box.height, tppY_), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), this);
    if (!h) Raise(kErrInvalidPropertyValue);
    return h;  // destroyed with its parent
  }

  void RequireWindow() const {
    if (!frame_) Raise(kErrInvalidPropertyValue);
  }

  RECT WindowRect() const {
    RECT r{};
    if (!frame_ || !GetWindowRect(frame_.get(), &r)) Raise(kErrInvalidPropertyValue);
    return r;
  }

  void SetLabel(HWND label, std::u16string& store, const std::u16string& text) {
    RequireWindow();
    store = text;
    SetWindowTextW(label, win32::WidePtr(text));  // readable from outside
    composed_ = false;
    drawnHeight_ = 0;
    InvalidateRect(label, nullptr, FALSE);
  }

  void SetLabelColor(HWND label, uint32_t& store, uint32_t color) {
    store = color;
    composed_ = false;
    drawnHeight_ = 0;
    InvalidateRect(label, nullptr, FALSE);
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
    std::shared_ptr<FrmTindra> last = std::move(self_);
    // `last` may be the final owner: nothing after this line touches the instance.
  }

  // The frame and its controls share one window procedure (WindowBase's). Holding
  // the instance keeps it alive while a message is handled, even when the handler
  // unloads it.
  friend class win32::WindowBase<FrmTindra>;
  LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<FrmTindra> keep = self_;
    if (!keep) return DefWindowProcW(h, message, wParam, lParam);
    const bool control = (GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD) != 0;
    return control ? keep->OnControlMessage(h, message, wParam, lParam)
                   : keep->OnFrameMessage(h, message, wParam, lParam);
  }

  LRESULT OnFrameMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
      case WM_ERASEBKGND:
        return 1;  // Picture1 covers the whole client area
      case WM_NCPAINT:
        return 0;  // no border, no caption: nothing outside the client area
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
    std::shared_ptr<FrmTindra> keep = self_;
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

  LRESULT OnControlMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    const int id = GetDlgCtrlID(h);
    switch (message) {
      case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
      case WM_ERASEBKGND:
        return 1;
      case WM_NCPAINT:
        return 0;
      case WM_PAINT:
        PaintControl(h, id);
        return 0;
      case WM_LBUTTONDOWN:
        // Every control takes its own clicks; those without an action absorb them.
        SetCapture(h);
        pressedId_ = id;
        return 0;
      case WM_LBUTTONUP: {
        const bool pressedHere = pressedId_ == id && GetCapture() == h;
        pressedId_ = 0;
        if (GetCapture() == h) ReleaseCapture();
        RECT client{};
        GetClientRect(h, &client);
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (pressedHere && PtInRect(&client, at)) OnClick(id);  // may unload
        return 0;
      }
      case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != h) pressedId_ = 0;
        return 0;
      default:
        break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
  }

  void OnClick(int id) {
    if (unloading_) return;
    if (id == kPicture1Id) core_.Picture1_Click();
    if (id == kLblNameId) core_.lblName_Click();
  }

  // Picture1 with everything on it, drawn once per popup (again only after a text,
  // a colour or the envelope changed); every paint of a control copies its part.
  void Compose() {
    RECT box{};
    GetClientRect(picture1_, &box);
    if (!canvasDc_) {
      win32::WindowDc screen;
      canvasDc_.reset(CreateCompatibleDC(screen.get()));
      // A DIB section rather than a device bitmap: its memory is mapped for it alone
      // and goes back to the system with the popup, where a burst's worth of device
      // bitmaps would stay in the process heap after the popups have gone.
      const BITMAPINFO info = win32::TopDownBitmapInfo(box.right, box.bottom);
      void* bits = nullptr;
      canvas_.reset(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
      if (!canvasDc_ || !canvas_) Raise(kErrInvalidPropertyValue);
      SelectObject(canvasDc_.get(), canvas_.get());
    }
    HDC dc = canvasDc_.get();
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (background_) win32::DrawBackground(dc, *background_, 0, 0);
    HGDIOBJ oldFont = SelectObject(dc, font_.get());
    SetBkMode(dc, TRANSPARENT);
    for (auto [label, text, color] : {std::tuple{lblName_, &nameText_, nameColor_},
                                      std::tuple{lblDesc_, &descText_, descColor_}}) {
      // A label shows no more of its text than fits in its own box.
      RECT r = BoxInPicture1(label);
      const int saved = SaveDC(dc);
      IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
      SetTextColor(dc, color);
      DrawTextW(dc, win32::WidePtr(*text), static_cast<int>(text->size()), &r,
                DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
      RestoreDC(dc, saved);
    }
    SelectObject(dc, oldFont);
    if (noteVisible_) {
      const RECT note = BoxInPicture1(picNote_);
      win32::UniqueBrush brush(CreateSolidBrush(kNoteBackground));
      FillRect(dc, &note, brush ? brush.get() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      if (envelope_)
        DrawIconEx(dc, note.left, note.top, envelope_.get(), note.right - note.left,
                   note.bottom - note.top, 0, nullptr, DI_NORMAL);
    }
    composed_ = true;
  }

  RECT BoxInPicture1(HWND control) const {
    RECT r{};
    GetClientRect(control, &r);
    MapWindowPoints(control, picture1_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  void PaintControl(HWND h, int id) {
    win32::TimedWork timed(win32::Work::kPaint);
    win32::PaintDc dc(h);
    if (!dc.get()) return;
    if (!composed_) Compose();
    POINT origin{0, 0};
    if (id != kPicture1Id) MapWindowPoints(h, picture1_, &origin, 1);
    const RECT& r = dc.paint().rcPaint;
    BitBlt(dc.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, canvasDc_.get(),
           r.left + origin.x, r.top + origin.y, SRCCOPY);
  }

  FrmTindraCore core_;
  win32::UniqueWindow frame_;
  HWND picture1_ = nullptr;  // children: destroyed with frame_
  HWND picNote_ = nullptr;
  HWND lblName_ = nullptr;
  HWND lblDesc_ = nullptr;
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
  int pressedId_ = 0;
  bool unloading_ = false;
  // The popup owns itself from creation until it unloads.
  std::shared_ptr<FrmTindra> self_;

  friend FrmTindra* NewFrmTindra();
};

FrmTindra* NewFrmTindra() {
  auto form = std::make_shared<FrmTindra>();
  form->self_ = form;
  return form.get();
}

void Start(FrmTindra& form, const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
           const int32_t& nSY) {
  form.Start(sName, iMode, nSX, nSY);
}

}  // namespace tindra
