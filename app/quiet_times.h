#pragma once
// When the user should not be disturbed: the rules behind holding notifications back
// while the user presents, plays or watches full screen, or is away. Portable; the
// Win32 side (app/win32/quiet_times_win32.cpp) gathers what they look at.
#include <cstdint>
#include <optional>
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
  // Maximized (IsZoomed): an ordinary window laid out over its monitor's work area,
  // which covers the whole monitor where no taskbar takes part of it.
  bool zoomed = false;
  // It has a title bar (WS_CAPTION): a window the user moves and sizes, not a
  // full-screen program.
  bool hasCaption = false;
};

// True when the foreground window covers the whole of its monitor, is neither
// maximized nor captioned, and is not the desktop or the shell (the desktop's own
// classes, "Progman" and "WorkerW", included): a full-screen video, game or slide show.
bool ForegroundIsFullScreen(const ForegroundInfo& foreground);

// After how long without input the user counts as away from the keyboard (a test copy
// of the program is built with a shorter one).
inline constexpr uint32_t kAwayAfterMs = 90000;

// The platform's clock and the time of the user's last keyboard or mouse input on that
// clock, in milliseconds (GetTickCount's, which wraps after 49.7 days).
struct InputTimes {
  uint32_t lastInput = 0;
  uint32_t now = 0;
};

// Whether the user is away from the keyboard: no input for `awayAfterMs`, counted only
// once some input has come since the program started, so that a display no one uses (a
// test's, a demo's, a wall screen) never counts as away. Back at the first input after.
class AwayWatch {
 public:
  enum class Change { kNone, kAway, kBack };

  explicit AwayWatch(uint32_t awayAfterMs) : awayAfterMs_(awayAfterMs) {}

  // The last input as the program starts (nothing: the platform could not tell; the
  // first Look counts as the start then): it is not yet the user's.
  void Started(const std::optional<InputTimes>& times);
  // A look at the input times now: whether the user has just gone away or come back.
  Change Look(const InputTimes& times);
  bool away() const { return away_; }

 private:
  uint32_t awayAfterMs_;
  std::optional<uint32_t> inputAtStart_;
  bool inputSeen_ = false;
  bool away_ = false;
  uint32_t inputWhenAway_ = 0;
};

}  // namespace tindra
