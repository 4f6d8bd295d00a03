#include <gtest/gtest.h>

#include "app/FrmMain.h"

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

TEST(ForegroundIsFullScreen, OnlyAProgramCoveringItsWholeMonitorWithoutCaptionOrMaximizing) {
  const ScreenRect monitor{0, 0, 1280, 1024};
  const ScreenRect second{1280, 0, 3200, 1080};
  const struct {
    const char* what;
    ForegroundInfo f;
    bool full;
  } cases[] = {
      {"covers exactly", {true, false, u"Game", {0, 0, 1280, 1024}, monitor}, true},
      {"borderless, larger than it", {true, false, u"Game", {-8, -8, 1288, 1032}, monitor}, true},
      // Maximized where no taskbar takes part of the monitor (an auto-hidden one, a
      // second monitor without one): the frame lies just outside the monitor.
      {"maximized, taskbar auto-hidden",
       {true, false, u"Doc", {-8, -8, 1288, 1032}, monitor, true, true},
       false},
      {"maximized as Wine lays it out",
       {true, false, u"Doc", {-8, -8, 1284, 1028}, monitor, true, true},
       false},
      {"maximized on a second monitor",
       {true, false, u"Doc", {1272, -8, 3208, 1088}, second, true, true},
       false},
      {"maximized without a caption",
       {true, false, u"Doc", {0, 0, 1280, 1024}, monitor, true},
       false},
      {"a captioned window sized over it",
       {true, false, u"Doc", {-8, -8, 1288, 1032}, monitor, false, true},
       false},
      {"maximized, taskbar free",
       {true, false, u"Doc", {0, 0, 1280, 994}, monitor, true, true},
       false},
      {"one pixel short", {true, false, u"Doc", {1, 0, 1280, 1024}, monitor}, false},
      {"second monitor", {true, false, u"Video", {1280, 0, 3200, 1080}, second}, true},
      {"desktop or shell", {true, true, u"Shell", {0, 0, 1280, 1024}, monitor}, false},
      {"desktop icons", {true, false, u"Progman", {0, 0, 1280, 1024}, monitor}, false},
      {"no foreground", {false, false, u"", {0, 0, 1280, 1024}, monitor}, false},
      {"no monitor", {true, false, u"Game", {0, 0, 1280, 1024}, {}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ForegroundIsFullScreen(c.f), c.full) << c.what;
}

// ---- away from the keyboard ----

namespace {
constexpr uint32_t kAfter = 90000;
using Change = AwayWatch::Change;
}  // namespace

TEST(AwayWatch, AwayOnlyAfterInputSinceTheStartAndAWhileWithoutAny) {
  AwayWatch w(kAfter);
  w.Started(InputTimes{1000, 2000});
  // No input since the start: never away, however long.
  EXPECT_EQ(w.Look({1000, 2000 + 10 * kAfter}), Change::kNone);
  EXPECT_FALSE(w.away());
  // Input, then less than the while without any.
  EXPECT_EQ(w.Look({50000, 50000}), Change::kNone);
  EXPECT_EQ(w.Look({50000, 50000 + kAfter - 1}), Change::kNone);
  EXPECT_EQ(w.Look({50000, 50000 + kAfter}), Change::kAway);
  EXPECT_TRUE(w.away());
  EXPECT_EQ(w.Look({50000, 50000 + 5 * kAfter}), Change::kNone) << "said once";
  // The first input brings the user back, whatever the time.
  EXPECT_EQ(w.Look({50000 + 5 * kAfter, 50000 + 5 * kAfter}), Change::kBack);
  EXPECT_FALSE(w.away());
  EXPECT_EQ(w.Look({50000 + 5 * kAfter, 50000 + 5 * kAfter + 100}), Change::kNone);
  // And away again after another while: input seen once is enough.
  EXPECT_EQ(w.Look({50000 + 5 * kAfter, 50000 + 6 * kAfter}), Change::kAway);
}

TEST(AwayWatch, WithoutAReadingAtTheStartTheFirstLookIsTheStart) {
  AwayWatch w(kAfter);
  w.Started(std::nullopt);
  EXPECT_EQ(w.Look({10, 10 + 2 * kAfter}), Change::kNone);
  EXPECT_EQ(w.Look({10, 10 + 3 * kAfter}), Change::kNone);
  EXPECT_EQ(w.Look({20, 20 + kAfter}), Change::kAway);
}

TEST(AwayWatch, TheClockMayWrapAndAnInputMayBeStampedJustAfterNow) {
  AwayWatch w(kAfter);
  w.Started(InputTimes{0, 0});
  const uint32_t nearWrap = UINT32_MAX - 1000;
  EXPECT_EQ(w.Look({nearWrap, nearWrap}), Change::kNone);
  EXPECT_EQ(w.Look({nearWrap, nearWrap + kAfter - 1}), Change::kNone);  // wrapped
  EXPECT_EQ(w.Look({nearWrap, nearWrap + kAfter}), Change::kAway);
  EXPECT_EQ(w.Look({nearWrap + kAfter + 1, nearWrap + kAfter}), Change::kBack);
  // Input stamped a millisecond after the clock was read is input now, not long ago.
  EXPECT_EQ(w.Look({5000, 4999}), Change::kNone);
  EXPECT_FALSE(w.away());
}

TEST(AwayWatch, TheThresholdIsTheBuildsOwn) {
  AwayWatch w(3000);
  w.Started(InputTimes{0, 0});
  EXPECT_EQ(w.Look({100, 3099}), Change::kNone);
  EXPECT_EQ(w.Look({100, 3100}), Change::kAway);
  EXPECT_EQ(kAwayAfterMs, 90000u) << "about a minute and a half, as the README says";
}
