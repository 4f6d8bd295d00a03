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
  const ScreenRect& w = f.window;
  const ScreenRect& m = f.monitor;
  if (m.right <= m.left || m.bottom <= m.top) return false;
  return w.left <= m.left && w.top <= m.top && w.right >= m.right && w.bottom >= m.bottom;
}

}  // namespace tindra
