#pragma once
// When the user should not be disturbed: the rules behind holding notifications back
// while the user presents, plays or watches full screen, or is away. Portable; the
// Win32 side (app/win32/quiet_times_win32.cpp) gathers what they look at.
#include <cstdint>
#include <string_view>

namespace tindra {

// The platform's answer about the user (QUERY_USER_NOTIFICATION_STATE's values).
enum class UserNotificationState : int32_t {
  kUnknown = 0,  // the question could not be asked
  kNotPresent = 1,
  kBusy = 2,
  kRunningD3DFullScreen = 3,
  kPresentationMode = 4,
  kAcceptsNotifications = 5,
  kQuietTime = 6,
  kApp = 7,
};

// True for the answers that hold notifications back: away (locked, screen saver),
// busy, a full-screen Direct3D program, presentation mode.
bool StateHoldsNotifications(UserNotificationState state);

struct ScreenRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The foreground window as the full-screen check sees it.
struct ForegroundInfo {
  bool exists = false;
  // The desktop window or the shell's window: they cover the screen without being a
  // program the user is absorbed in.
  bool isDesktopOrShell = false;
  std::u16string_view windowClass;
  ScreenRect window;   // its rectangle, screen pixels
  ScreenRect monitor;  // the whole monitor it is on (not its work area)
};

// True when the foreground window covers the whole of its monitor and is not the
// desktop or the shell (the desktop's own classes, "Progman" and "WorkerW", included).
bool ForegroundIsFullScreen(const ForegroundInfo& foreground);

}  // namespace tindra
