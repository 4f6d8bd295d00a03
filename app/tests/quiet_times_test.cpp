#include "app/quiet_times.h"

#include <gtest/gtest.h>

using namespace tindra;
using State = UserNotificationState;

TEST(StateHoldsNotifications, AwayBusyFullScreenAndPresentingHoldThemBack) {
  const struct {
    State state;
    bool holds;
  } cases[] = {
      {State::kUnknown, false},
      {State::kNotPresent, true},
      {State::kBusy, true},
      {State::kRunningD3DFullScreen, true},
      {State::kPresentationMode, true},
      {State::kAcceptsNotifications, false},
      {State::kQuietTime, false},
      {State::kApp, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StateHoldsNotifications(c.state), c.holds) << static_cast<int>(c.state);
}

TEST(ForegroundIsFullScreen, OnlyAProgramCoveringItsWholeMonitor) {
  const ScreenRect monitor{0, 0, 1280, 1024};
  const ScreenRect second{1280, 0, 3200, 1080};
  const struct {
    const char* what;
    ForegroundInfo f;
    bool full;
  } cases[] = {
      {"covers exactly", {true, false, u"Game", {0, 0, 1280, 1024}, monitor}, true},
      {"larger than it", {true, false, u"Game", {-8, -8, 1288, 1032}, monitor}, true},
      {"maximized, taskbar free", {true, false, u"Doc", {0, 0, 1280, 994}, monitor}, false},
      {"one pixel short", {true, false, u"Doc", {1, 0, 1280, 1024}, monitor}, false},
      {"second monitor", {true, false, u"Video", {1280, 0, 3200, 1080}, second}, true},
      {"desktop or shell", {true, true, u"Shell", {0, 0, 1280, 1024}, monitor}, false},
      {"desktop icons", {true, false, u"Progman", {0, 0, 1280, 1024}, monitor}, false},
      {"no foreground", {false, false, u"", {0, 0, 1280, 1024}, monitor}, false},
      {"no monitor", {true, false, u"Game", {0, 0, 1280, 1024}, {}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ForegroundIsFullScreen(c.f), c.full) << c.what;
}
