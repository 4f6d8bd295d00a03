#include "app/quiet_times.h"

namespace tindra {

bool StateHoldsNotifications(UserNotificationState state) {
  switch (state) {
    case UserNotificationState::kNotPresent:
    case UserNotificationState::kBusy:
    case UserNotificationState::kRunningD3DFullScreen:
    case UserNotificationState::kPresentationMode:
      return true;
    default:
      return false;
  }
}

bool ForegroundIsFullScreen(const ForegroundInfo& f) {
  if (!f.exists || f.isDesktopOrShell) return false;
  // The desktop's icons stand in windows of these classes, which cover the screen.
  if (f.windowClass == u"Progman" || f.windowClass == u"WorkerW") return false;
  // A maximized window covers its monitor wherever no taskbar takes part of it (an
  // auto-hidden taskbar, a second monitor), its frame just outside the monitor's edges;
  // it is an ordinary window all the same, and so is any with a title bar.
  if (f.zoomed || f.hasCaption) return false;
  const ScreenRect& w = f.window;
  const ScreenRect& m = f.monitor;
  if (m.right <= m.left || m.bottom <= m.top) return false;
  return w.left <= m.left && w.top <= m.top && w.right >= m.right && w.bottom >= m.bottom;
}

void AwayWatch::Started(const std::optional<InputTimes>& times) {
  if (times) inputAtStart_ = times->lastInput;
}

AwayWatch::Change AwayWatch::Look(const InputTimes& times) {
  if (!inputSeen_) {
    if (!inputAtStart_) {
      inputAtStart_ = times.lastInput;
      return Change::kNone;
    }
    // Only input since the start counts: until then the user has not been here.
    if (times.lastInput == *inputAtStart_) return Change::kNone;
    inputSeen_ = true;
  }
  if (away_) {
    if (times.lastInput == inputWhenAway_) return Change::kNone;
    away_ = false;
    return Change::kBack;
  }
  // Right across the clock's wrap; an input stamped a moment after `now` was read
  // (the two come from separate calls) is input just now.
  const int64_t since = static_cast<int32_t>(times.now - times.lastInput);
  if (since < static_cast<int64_t>(awayAfterMs_)) return Change::kNone;
  away_ = true;
  inputWhenAway_ = times.lastInput;
  return Change::kAway;
}

}  // namespace tindra
