#include "app/win32/quiet_times_win32.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "app/quiet_times.h"
#include "common/win32/ansi.h"

namespace tindra::win32 {

namespace {

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

}  // namespace

bool UserShouldNotBeDisturbed() {
  QUERY_USER_NOTIFICATION_STATE state{};
  if (SUCCEEDED(SHQueryUserNotificationState(&state)) &&
      StateHoldsNotifications(static_cast<UserNotificationState>(state)))
    return true;
  return ForegroundCoversItsMonitor();
}

}  // namespace tindra::win32
