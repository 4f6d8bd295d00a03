#pragma once
// The notification popup's window (Windows): FrmTindra carried out on a real window.
// One instance per notification, which owns itself and deletes itself when it unloads.
// Last, the one platform timer that ticks every popup (PopupTicker).
#include <windows.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "common/errors.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"

namespace tindra {

// Creates a popup that keeps `popupCount` (the program's gPopupCount, which must outlive
// it) and starts it (FrmTindra::Start): loaded (the count += 1), filled in for iMode,
// placed with its left edge at nSX and its bottom edge at nSY (screen twips), its first
// effect timer running, shown topmost without being activated. The caller keeps nothing:
// the popup deletes itself when it unloads. `onClosed`, when given, runs once the popup
// has unloaded and lowered the count; it must not raise. Raises AppError when a window
// operation fails (kErrInvalidPropertyValue) or the count overflows; the popup has then
// already unloaded and deleted itself.
// An error in one of the popup's own events later on (its picture cannot be composed
// for want of graphics objects, say) closes that popup and nothing else: `onFailed`,
// when given, is told the error first; it must not raise.
void OpenPopup(int32_t& popupCount, const std::u16string& sName, int16_t iMode, int32_t nSX,
               int32_t nSY, std::function<void()> onClosed = {},
               std::function<void(const AppError&)> onFailed = {});

// Whether the user is away from the keyboard: told to every open popup
// (FrmTindra::Form_UserAway, Form_UserBack) and to every popup opened from now on.
void SetPopupsUserAway(bool away);

}  // namespace tindra

// How the popup's window can be recognised from outside (tests, tools): its class, its
// styles and window operations. It has no child windows: its controls are drawn by the
// window itself, and its window text holds what the labels show, the two lines joined by
// CR LF, or a notice's text alone (WindowText in FrmTindra.h).
namespace tindra::win32 {

// The screen's logical pixels per inch on each axis, read once: the process is DPI-aware,
// and the screen's dpi is fixed for its life (each read costs the window server a
// screen DC). 96 when it cannot be read.
struct ScreenDpi {
  int x, y;
};
const ScreenDpi& TheScreenDpi();
// The screen's twips per pixel, from TheScreenDpi.
inline PixelScale ScreenScale() { return PixelScale::OfDpi(TheScreenDpi().x, TheScreenDpi().y); }

inline constexpr wchar_t kPopupClassName[] = L"TindraPopup";
// The window's text from its creation until Start sets what it shows.
inline constexpr wchar_t kPopupTitle[] = L"Form1";

// The frame: a borderless tool window that is never activated.
inline constexpr DWORD kPopupFrameStyle = WS_POPUP | WS_CLIPCHILDREN;
inline constexpr DWORD kPopupFrameExStyle = WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
// The one call of each effect step: position and size together, nothing redrawn by
// the system (the popup draws its contents itself).
inline constexpr UINT kPopupMoveFlags =
    SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE | SWP_NOREDRAW;
// The one way the popup becomes visible: topmost, shown, not activated.
inline constexpr UINT kPopupShowTopmostFlags =
    SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
static_assert(kPopupShowTopmostFlags == 0x0053);

// Receives the ticks of its logical timers, which it keeps as a form keeps its timers:
// an interval and a switch each, armed on the ticker while the timer is on with an
// interval above 0. Must disarm them all (PopupTicker::DisarmAll) before it goes away.
class TickTarget {
 public:
  virtual void OnTick(int timer) = 0;

  // A timer's interval, and whether it runs. Raise AppError (kErrInvalidPropertyValue)
  // when the platform timer cannot be set.
  void SetInterval(PopupTimer timer, int32_t milliseconds);
  void SetEnabled(PopupTimer timer, bool enabled);

 protected:
  TickTarget();
  ~TickTarget() = default;

 private:
  friend class PopupTicker;
  void Apply(PopupTimer timer);

  std::array<int32_t, kPopupTimerCount> intervals_{};
  std::array<bool, kPopupTimerCount> enabled_{};
  // Its number in the schedule while it has timers there (0: none yet): a new target
  // at the address of one that has gone gets a number of its own.
  uint64_t tickOwner_ = 0;
};

// The one platform timer behind the logical timers of every popup (TickSchedule): a
// message-only window whose timer runs only while some popup timer is armed.
// User-interface thread only.
class PopupTicker : public WindowBase<PopupTicker> {
 public:
  static PopupTicker& Instance();

  // Starts (or restarts) `timer` of `target` with `intervalMs`; 0 or less stops it.
  // Raises AppError (kErrInvalidPropertyValue) when the platform timer cannot be set.
  void Arm(TickTarget& target, int timer, int32_t intervalMs);
  void Disarm(TickTarget& target, int timer);
  void DisarmAll(TickTarget& target) noexcept;

 private:
  PopupTicker();
  friend class WindowBase<PopupTicker>;
  LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
  // Its ticks and the rest of a tick are the ticker's work; each popup's part of a tick
  // is counted as the popup's logic, as it begins (RunPending).
  static Work WorkOf(UINT message) noexcept;
  void OnSourceTick();
  void RunPending();
  void Reschedule();
  // For the benchmark's counters, when some benchmark made them: how late each tick
  // of an effect timer (one of the source's period) began against one interval after
  // the previous tick of that timer began, or after it was armed.
  void NoteArmed(TickSchedule::Key key, int32_t intervalMs);
  void NoteTickBegins(TickSchedule::Key key);
  void NoteDisarmed(TickSchedule::Key key) noexcept;

  TickSchedule schedule_;
  // The targets by their numbers in the schedule, from their first Arm to DisarmAll.
  std::map<uint64_t, TickTarget*> targets_;
  // Ticks taken from the schedule but not yet handled: a busy tick hands the rest
  // over to a message of its own so that pokes waiting in the queue come first.
  std::deque<TickSchedule::Key> pending_;
  UniqueWindow window_;
  bool ticking_ = false;  // running ticks: the platform timer is reset once, after them
  int32_t sourceDelayMs_ = -1;
  double nextSourceTickMs_ = 0;
  // When each effect timer's next tick is due, on the benchmark's counter.
  std::map<TickSchedule::Key, int64_t> dueUs_;
};

}  // namespace tindra::win32
