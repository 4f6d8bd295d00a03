#include "popup/FrmTindra.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "common/errors.h"
#include "popup/tests/fake_popup_window.h"

namespace tindra {
namespace {

using testing::FakePopupWindow;
using T = PopupTimer;

// A 1280 x 994 work area at 96 dpi: bottom edge 14910 twips, popup column at 16415.
constexpr int32_t kSX = 16415;
constexpr int32_t kSY = 14910;

class PopupTest : public ::testing::Test {
 protected:
  // The program's count of loaded popups, as the popups under test keep it.
  int32_t popupCount = 0;
  static void StartPopup(FakePopupWindow& w, int16_t mode, std::u16string name = u"test",
                         int32_t sx = kSX, int32_t sy = kSY) {
    w.core().Start(name, mode, sx, sy);
  }
  // Runs a started popup in 10 ms steps until it has unloaded or `untilMs` has passed,
  // calling `at(now)` before each step; when it began to close (-1: never). A popup
  // that holds or waits at the end of its hold stands still until then.
  template <typename At>
  static int64_t ClosingAt(FakePopupWindow& w, At at, int64_t untilMs = 12000) {
    int64_t closingAt = -1;
    size_t movesAtHold = 0;
    while (!w.unloaded() && w.now() < untilMs) {
      at(w.now());
      if (w.TimerRunning(T::tmrDelay) && movesAtHold == 0) movesAtHold = w.moves.size();
      if (closingAt < 0 && (w.TimerRunning(T::tmrEffect2) || w.TimerRunning(T::tmrEffect3)))
        closingAt = w.now();
      EXPECT_TRUE(closingAt >= 0 || movesAtHold == 0 || w.moves.size() == movesAtHold);
      w.RunFor(10);
    }
    return closingAt;
  }
};

// ---- texts and colours per mode ----

TEST(PopupLookTest, LoginAndLogoutAddTheSubjectEnding) {
  PopupLook login = LookForMode(u"홍길동", 0);
  EXPECT_EQ(login.nameText, u"홍길동님이");
  EXPECT_EQ(login.descText, u"로그인 하였습니다.");
  EXPECT_EQ(login.nameColor, Rgb(32, 135, 249));
  EXPECT_EQ(login.descColor, Rgb(32, 135, 249));
  EXPECT_FALSE(login.noteVisible);

  PopupLook logout = LookForMode(u"test", 1);
  EXPECT_EQ(logout.nameText, u"test님이");
  EXPECT_EQ(logout.descText, u"로그아웃 하였습니다.");
  EXPECT_EQ(logout.nameColor, Rgb(32, 135, 249));
  EXPECT_EQ(logout.descColor, 0x0000FFu);  // red in 0x00BBGGRR
  EXPECT_FALSE(logout.noteVisible);

  EXPECT_EQ(LookForMode(u"", 0).nameText, u"님이");
  EXPECT_EQ(LookForMode(u"a;b c", 0).nameText, u"a;b c님이");
}

TEST(PopupLookTest, EveryOtherModeIsAPlainGreenNotice) {
  for (int16_t mode : {2, 3, 7, 9, -1, INT16_MIN, INT16_MAX}) {
    SCOPED_TRACE(mode);
    PopupLook look = LookForMode(u"공지 사항", mode);
    EXPECT_EQ(look.nameText, u"공지 사항");
    EXPECT_EQ(look.descText, u"");
    EXPECT_EQ(look.nameColor, 0x00C000u);  // RGB(0,192,0)
    EXPECT_EQ(look.descColor, Rgb(32, 135, 249));
    EXPECT_TRUE(look.noteVisible);
  }
}

// ---- Start ----

TEST_F(PopupTest, StartLoadsTheWindowAndCountsIt) {
  popupCount = 5;
  FakePopupWindow w(15.0f, popupCount);
  EXPECT_EQ(popupCount, 5);  // created, not yet loaded
  StartPopup(w, 0);
  EXPECT_EQ(popupCount, 6);
  EXPECT_EQ(w.shownTopmost, 1);
  w.core().Picture1_Click();
  EXPECT_EQ(popupCount, 5);
}

TEST_F(PopupTest, StartRaisesOverflowWhenTheCountIsFull) {
  popupCount = INT32_MAX;
  FakePopupWindow w(15.0f, popupCount);
  try {
    StartPopup(w, 0);
    FAIL() << "no error";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
  EXPECT_EQ(popupCount, INT32_MAX);
  EXPECT_EQ(w.shownTopmost, 0);
}

TEST_F(PopupTest, LoginStartsAtHeightZeroOnTheBottomEdge) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 0, u"");
  EXPECT_EQ(w.look.nameText, u"님이");
  EXPECT_EQ(w.look.descText, u"로그인 하였습니다.");
  EXPECT_FALSE(w.look.noteVisible);
  // 16415 / 15 = 1094.3; 14910 / 15 = 994; the width keeps its 179 pixels.
  EXPECT_EQ(w.rect(), (PixelRect{1094, 994, 179, 0}));
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect1));
  EXPECT_EQ(w.TimerInterval(T::tmrEffect1), 10);
  EXPECT_FALSE(w.TimerRunning(T::tmrDelay));
}

TEST_F(PopupTest, LogoutStandsAtFullHeightAndHolds) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 1);
  EXPECT_EQ(w.look.descColor, Rgb(255, 0, 0));
  EXPECT_EQ(w.look.nameColor, Rgb(32, 135, 249));
  // Full height 131 px (1965 twips) with its bottom edge at 994 px.
  EXPECT_EQ(w.rect(), (PixelRect{1094, 863, 179, 131}));
  EXPECT_FALSE(w.TimerRunning(T::tmrEffect1));
  EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
  EXPECT_EQ(w.TimerInterval(T::tmrDelay), 2000);
}

TEST_F(PopupTest, NoticeModesShowTheEnvelopeInGreen) {
  for (int16_t mode : {2, 7, -1}) {
    SCOPED_TRACE(mode);
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, mode, u"서버 점검");
    EXPECT_EQ(w.look.nameText, u"서버 점검");
    EXPECT_EQ(w.look.descText, u"");
    EXPECT_EQ(w.look.nameColor, Rgb(0, 192, 0));
    EXPECT_TRUE(w.look.noteVisible);
    EXPECT_EQ(w.rect().height, 0);
    EXPECT_EQ(w.rect().bottom(), 994);
    EXPECT_TRUE(w.TimerRunning(T::tmrEffect1));
    w.core().Picture1_Click();
  }
  EXPECT_EQ(popupCount, 0);
}

// What a screen reader is given: the popup's own lines, once, after it is shown; a
// popup that fails to start announces nothing (StartRaisesOverflowWhenTheCountIsFull).
// The window's own text holds the same lines, for tools.
TEST_F(PopupTest, StartAnnouncesWhatThePopupSaysOnceItIsShown) {
  struct Case {
    int16_t mode;
    std::u16string name, spoken, windowText;
  };
  for (const Case& c :
       {Case{0, u"김민준", u"김민준님이 로그인 하였습니다.", u"김민준님이\r\n로그인 하였습니다."},
        Case{1, u"김민준", u"김민준님이 로그아웃 하였습니다.",
             u"김민준님이\r\n로그아웃 하였습니다."},
        Case{0, u"", u"님이 로그인 하였습니다.", u"님이\r\n로그인 하였습니다."},
        Case{2, u"새 쪽지가 도착했습니다", u"새 쪽지가 도착했습니다", u"새 쪽지가 도착했습니다"},
        Case{-1, u"a;b c", u"a;b c", u"a;b c"}, Case{7, u"", u"", u""}}) {
    SCOPED_TRACE(c.mode);
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, c.mode, c.name);
    EXPECT_EQ(SpokenText(LookForMode(c.name, c.mode)), c.spoken);
    EXPECT_EQ(w.caption, c.windowText);
    EXPECT_EQ(w.announcements, std::vector<std::u16string>{c.spoken});
    // Nothing of the sequence or the unload announces it again.
    w.RunFor(500);
    w.core().Picture1_Click();
    w.RunFor(10000);
    EXPECT_EQ(w.announcements.size(), 1u);
  }
  FakePopupWindow failed(15.0f, popupCount);
  popupCount = INT32_MAX;
  EXPECT_THROW(StartPopup(failed, 0), AppError);
  EXPECT_TRUE(failed.announcements.empty());
}

// ---- the end of each effect ----

// One tick at each effect's end height or size and just past it. A tick at the boundary
// ends the effect without a move (the opening starts the hold, a closing unloads); one just
// past it makes one more move, to `to`, and the tick after that ends the effect.
TEST(PopupStepTest, EachEffectEndsAtItsBoundaryWithoutAMove) {
  using Step = std::optional<PopupRect> (*)(const PopupRect&);
  struct Case {
    const char* what;
    Step step;
    PopupRect from;
    std::optional<PopupRect> to;
  };
  for (const Case& c : {
           Case{"opening at 1950", &OpeningStep, {100, 1000, 2685, 1950}, std::nullopt},
           Case{"opening at 1949 does not clamp",
                &OpeningStep,
                {100, 1001, 2685, 1949},
                PopupRect{100, 951, 2685, 1999}},
           Case{"collapse at 50", &CollapseStep, {100, 4950, 2685, 50}, std::nullopt},
           Case{"collapse at 51",
                &CollapseStep,
                {100, 4949, 2685, 51},
                PopupRect{100, 4999, 2685, 1}},
           Case{"shrink 150 x 150 (50 + 50)", &ShrinkStep, {100, 200, 150, 150}, std::nullopt},
           Case{"shrink 151 x 150", &ShrinkStep, {100, 200, 151, 150}, PopupRect{150, 250, 51, 50}},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.step(c.from), c.to);
    if (c.to) {
      EXPECT_EQ(c.step(*c.to), std::nullopt);
    }
  }
}

TEST_F(PopupTest, FullSizeShrinkWithExactArithmeticTakes25Moves) {
  FakePopupWindow w(1.0f, popupCount);
  StartPopup(w, 1, u"x", 0, 1965);
  w.moves.clear();
  w.RunFor(2000 + 26 * 10);
  EXPECT_EQ(w.moves.size(), 25u);
  // 2685 - 25 * 100 = 185 wide; the height reached 0 at the 20th move.
  EXPECT_EQ(w.moves.back(), (PixelRect{1250, 1250, 185, 0}));
  EXPECT_TRUE(w.unloaded());
}

// ---- whole sequences at real pixel factors ----

TEST_F(PopupTest, LoginAt96DpiGrowsThreePixelsATickThenCollapses) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 0);
  // +50 twips is 3.33 pixels, so every move adds 3 pixels: 44 moves reach 132 pixels
  // (1980 twips), and the 45th tick starts the hold.
  w.RunFor(45 * 10);
  EXPECT_EQ(w.moves.size(), 1u + 44u);  // Start's move plus the opening
  EXPECT_EQ(w.rect(), (PixelRect{1094, 862, 179, 132}));
  EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
  for (const PixelRect& r : w.moves) EXPECT_EQ(r.bottom(), 994);

  // The hold: nothing moves for 2000 ms.
  w.RunFor(1990);
  EXPECT_EQ(w.moves.size(), 45u);
  w.RunFor(10);
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect2));
  EXPECT_EQ(w.TimerInterval(T::tmrEffect2), 10);

  // Collapse: -3 pixels a tick while the height is above 50 twips (3 pixels):
  // 43 moves, and the 44th tick unloads.
  w.RunFor(43 * 10);
  EXPECT_EQ(w.moves.size(), 45u + 43u);
  EXPECT_EQ(w.rect(), (PixelRect{1094, 991, 179, 3}));
  EXPECT_FALSE(w.unloaded());
  w.RunFor(10);
  EXPECT_TRUE(w.unloaded());
  EXPECT_EQ(popupCount, 0);
  for (const PixelRect& r : w.moves) EXPECT_EQ(r.bottom(), 994);
  w.RunFor(5000);
  EXPECT_EQ(w.ticksAfterUnload, 0);
  EXPECT_EQ(w.TickCount(T::tmrEffect2), 44);
}

TEST_F(PopupTest, LogoutAt96DpiShrinksIn24Moves) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 1);
  w.RunFor(1990);
  EXPECT_EQ(w.moves.size(), 1u);  // no opening
  w.RunFor(10);
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect3));
  // Each move: left and top +3 px (3.33), width and height -7 px (6.67). After 18
  // moves the window is 53 x 5; the 19th takes the height to 0 (width 46); then
  // 46 -> 39 -> 32 -> 25 -> 18 -> 11, and 11 px (165 - 100 = 65 twips) unloads.
  w.RunFor(18 * 10);
  EXPECT_EQ(w.rect(), (PixelRect{1094 + 54, 863 + 54, 53, 5}));
  w.RunFor(10);
  EXPECT_EQ(w.rect().height, 0);
  EXPECT_EQ(w.rect().width, 46);
  w.RunFor(5 * 10);
  EXPECT_EQ(w.rect().width, 11);
  EXPECT_FALSE(w.unloaded());
  w.RunFor(10);
  EXPECT_TRUE(w.unloaded());
  EXPECT_EQ(w.moves.size(), 1u + 24u);
  EXPECT_EQ(popupCount, 0);
}

TEST_F(PopupTest, NonIntegerFactorOpensAndCollapsesFourPixelsATick) {
  // 108 dpi: 13.33 twips per pixel; 50 twips is 3.75 pixels, rounded to 4.
  FakePopupWindow w(1440.0f / 108.0f, popupCount);
  StartPopup(w, 2, u"n", 16000, 13000);  // 13000 / 13.33 = 975 px
  ASSERT_EQ(w.rect().top, 975);
  // 148 px (1973 twips) is the first multiple of 4 at or above 1950 twips: 37 moves.
  w.RunFor(38 * 10);
  EXPECT_EQ(w.rect().height, 148);
  EXPECT_EQ(w.moves.size(), 1u + 37u);
  EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
  w.RunFor(2000);
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect2));  // mode 2 collapses
  // 148 -> 4 in 36 moves; 4 px is 53 twips, so one more move to 0; then unload.
  w.RunFor(37 * 10);
  EXPECT_EQ(w.rect().height, 0);
  EXPECT_FALSE(w.unloaded());
  w.RunFor(10);
  EXPECT_TRUE(w.unloaded());
  for (const PixelRect& r : w.moves) EXPECT_EQ(r.bottom(), 975);
}

TEST_F(PopupTest, ClosingEffectDependsOnTheMode) {
  struct Case {
    int16_t mode;
    PopupTimer closing;
  };
  for (Case c : {Case{0, T::tmrEffect2}, Case{1, T::tmrEffect3}, Case{2, T::tmrEffect2},
                 Case{3, T::tmrEffect3}, Case{-1, T::tmrEffect3}, Case{9, T::tmrEffect3}}) {
    SCOPED_TRACE(c.mode);
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, c.mode);
    while (w.TickCount(T::tmrDelay) == 0) w.RunFor(10);
    EXPECT_TRUE(w.TimerRunning(c.closing));
    EXPECT_FALSE(w.TimerRunning(c.closing == T::tmrEffect2 ? T::tmrEffect3 : T::tmrEffect2));
    w.RunFor(10000);
    EXPECT_TRUE(w.unloaded());
  }
  EXPECT_EQ(popupCount, 0);
}

// ---- the pointer on a popup ----

// When the popup begins to close: the hold (2000 ms) does not end while a pointer that
// the user moved onto the popup is on it, and starts again in full when it leaves. A
// login holds from 450 ms (its 45th opening tick), a logout from 0. A waiting popup
// stands still. The pointer rests at (0, 0) as the popup appears and comes onto it at
// (1100, 980).
TEST_F(PopupTest, APopupThatTheUserMovesOntoDoesNotStartToClose) {
  struct Case {
    const char* what;
    int16_t mode;
    int64_t enterAt, leaveAt, closingAt;
  };
  const ScreenPoint on{1100, 980};
  for (const Case& c : {Case{"never on it", 1, -1, -1, 2000},
                        Case{"on it and off again within the hold", 1, 500, 1500, 3500},
                        Case{"resting past the end of the hold", 1, 1000, 7000, 9000},
                        Case{"from the opening to well after the hold", 0, 100, 8000, 10000},
                        Case{"on and off during the opening", 0, 50, 200, 2450},
                        Case{"onto a closing popup", 1, 2050, 9000, 2000}}) {
    SCOPED_TRACE(c.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, c.mode);
    const int64_t closingAt = ClosingAt(w, [&](int64_t now) {
      if (now == c.enterAt) w.core().Form_MouseMove(on);
      // The window system tells of more moves while the pointer is on it.
      if (c.enterAt >= 0 && now > c.enterAt && now < c.leaveAt && now % 500 == 0)
        w.core().Form_MouseMove({on.x, on.y - 1 + static_cast<int32_t>(now / 500 % 2)});
      if (now == c.leaveAt) w.core().Form_MouseLeave();
    });
    EXPECT_EQ(closingAt, c.closingAt);
    EXPECT_EQ(popupCount, 0) << "closes by itself";
    EXPECT_EQ(w.pointerReads, 1) << "once, as it appears";
    EXPECT_EQ(w.leaveTracks, c.enterAt >= 0 ? 1 : 0);
  }
  // A click still closes a popup under the pointer at once.
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 1);
  w.core().Form_MouseMove(on);
  w.RunFor(3000);
  w.core().Picture1_Click();
  w.core().Form_MouseLeave();  // the leave that follows does nothing
  EXPECT_EQ(w.unloadCalls, 1);
  EXPECT_EQ(popupCount, 0);
}

// The window system tells a window that comes to stand under a resting pointer of a
// move, and may tell of more as the window grows or shrinks under it: none of them
// holds the popup, which runs its sequence exactly as specified. A move of the
// pointer by a single pixel, once the popup stands under it, is the user's: it holds.
TEST_F(PopupTest, APointerRestingWhereAPopupAppearsHoldsNothing) {
  const ScreenPoint resting{1100, 980};
  struct Case {
    const char* what;
    int16_t mode;
    std::optional<ScreenPoint> atStart;  // where the window finds the pointer at Start
    int64_t userMovesAt;                 // the user moves the pointer one pixel, or never
    int64_t closingAt;
    int leaveTracks;
  };
  for (const Case& c : {
           Case{"a login growing under it", 0, resting, -1, 2450, 0},
           Case{"a logout appearing under it", 1, resting, -1, 2000, 0},
           Case{"a notice growing under it", 3, resting, -1, 2450, 0},
           Case{"the user moves it on the popup", 1, resting, 1500, 4000, 1},
           Case{"where the pointer is cannot be told", 1, std::nullopt, -1, 2000, 0},
           Case{"cannot be told, then the user moves it", 1, std::nullopt, 1500, 4000, 1},
       }) {
    SCOPED_TRACE(c.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    w.pointer = c.atStart;
    StartPopup(w, c.mode);
    ScreenPoint at = resting;
    const int64_t closingAt = ClosingAt(w, [&](int64_t now) {
      // The window reports the resting pointer now and then.
      if (now % 30 == 0) w.core().Form_MouseMove(at);
      if (now == c.userMovesAt) {
        at.x += 1;
        w.core().Form_MouseMove(at);
      }
      if (now == c.userMovesAt + 500) w.core().Form_MouseLeave();
    });
    EXPECT_EQ(closingAt, c.closingAt);
    EXPECT_EQ(w.leaveTracks, c.leaveTracks);
    EXPECT_EQ(popupCount, 0);
  }

  // Exactly the sequence of a popup that nothing touches: the same moves and timers.
  for (int16_t mode : {0, 1, 2, 3}) {
    SCOPED_TRACE(mode);
    FakePopupWindow alone(15.0f, popupCount), rested(15.0f, popupCount);
    rested.pointer = resting;
    StartPopup(alone, mode);
    StartPopup(rested, mode);
    while (!rested.unloaded()) {
      rested.core().Form_MouseMove(resting);
      rested.RunFor(10);
    }
    alone.RunFor(rested.now());
    EXPECT_TRUE(alone.unloaded());
    EXPECT_EQ(rested.moves, alone.moves);
    EXPECT_EQ(rested.timerLog, alone.timerLog);
  }

  // A popup whose leave the system cannot track is not held.
  FakePopupWindow w(15.0f, popupCount);
  w.leaveTrackable = false;
  StartPopup(w, 1);
  w.core().Form_MouseMove(resting);
  w.RunFor(2000);
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect3));
  EXPECT_EQ(w.leaveTracks, 1);
}

// ---- the user away from the keyboard ----

// While the user is away no hold ends: the popup waits at full size. When the user
// comes back, the hold starts again in full (2000 ms), whether it had ended meanwhile
// or was still running; an opening or a closing goes on. A login holds from 450 ms, a
// logout from 0; "back" at 5000 gives closing at 7000.
TEST_F(PopupTest, WhileTheUserIsAwayNoHoldEnds) {
  struct Case {
    const char* what;
    int16_t mode;
    int64_t awayAt, backAt, closingAt;
  };
  for (const Case& c :
       {Case{"away before it starts", 1, -10, 5000, 7000},
        Case{"away during the hold", 1, 1000, 5000, 7000},
        Case{"away during the opening", 0, 100, 5000, 7000},
        Case{"away and back within the hold", 1, 500, 1500, 3500},
        Case{"back during the opening", 0, -10, 200, 2450},
        Case{"away while it closes", 1, 2050, 5000, 2000}, Case{"never back", 0, -10, -1, -1}}) {
    SCOPED_TRACE(c.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    if (c.awayAt < 0) w.core().Form_UserAway();
    StartPopup(w, c.mode);
    const int64_t closingAt = ClosingAt(w, [&](int64_t now) {
      if (now == c.awayAt) w.core().Form_UserAway();
      if (now == c.backAt) w.core().Form_UserBack();
    });
    EXPECT_EQ(closingAt, c.closingAt);
    if (c.closingAt < 0) {
      EXPECT_FALSE(w.unloaded());
      EXPECT_GE(w.rect().height, 131) << "waits at full size";
      // A click closes it at once, away or not.
      w.core().Picture1_Click();
    }
    EXPECT_EQ(popupCount, 0);
  }

  // Away and the pointer on it: neither its leave nor the user's return alone lets the
  // hold end; the hold starts in full once both have gone.
  for (bool leaveFirst : {true, false}) {
    SCOPED_TRACE(leaveFirst ? "leaves, then back" : "back, then leaves");
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, 1);
    w.core().Form_MouseMove({1100, 980});
    w.core().Form_UserAway();
    w.RunFor(3000);
    if (leaveFirst)
      w.core().Form_MouseLeave();
    else
      w.core().Form_UserBack();
    w.RunFor(3000);
    EXPECT_FALSE(w.TimerRunning(T::tmrEffect3));
    EXPECT_FALSE(w.TimerRunning(T::tmrDelay));
    if (leaveFirst)
      w.core().Form_UserBack();
    else
      w.core().Form_MouseLeave();
    w.RunFor(1990);
    EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
    w.RunFor(10);
    EXPECT_TRUE(w.TimerRunning(T::tmrEffect3));
    w.RunFor(1000);
    EXPECT_TRUE(w.unloaded());
  }
  EXPECT_EQ(popupCount, 0);
}

// ---- the user's own display time ----

// Windows' "Show notifications for": up to its default of 5 s the hold is the
// specified 2 s and tmrDelay keeps its design interval (never set); longer, the hold
// is that long, at most 5 minutes. Read at Start and on a change; a hold that begins
// after a change (a new popup, or a hold that starts again) takes the new length.
TEST_F(PopupTest, AMessageDurationLongerThanWindowsDefaultIsTheHold) {
  for (auto [seconds, hold] : {std::pair<uint32_t, int32_t>{0, 2000},
                               {1, 2000},
                               {5, 2000},
                               {6, 6000},
                               {7, 7000},
                               {15, 15000},
                               {300, 300000},
                               {301, 300000},
                               {UINT32_MAX, 300000}}) {
    SCOPED_TRACE(seconds);
    DisplayPreferences preferences;
    preferences.messageDurationS = seconds;
    EXPECT_EQ(HoldMs(preferences), hold);
  }
  EXPECT_EQ(HoldMs(DisplayPreferences{}), 2000) << "as Windows ships it";

  struct Case {
    const char* what;
    int16_t mode;
    uint32_t seconds;
    int64_t closingAt;
  };
  for (const Case& c : {Case{"logout, as shipped", 1, 5, 2000}, Case{"logout, 7 s", 1, 7, 7000},
                        Case{"login, 30 s", 0, 30, 30450}, Case{"notice, 5 min", 2, 300, 300450},
                        Case{"login, 0 (Wine)", 0, 0, 2450}}) {
    SCOPED_TRACE(c.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    w.preferences.messageDurationS = c.seconds;
    StartPopup(w, c.mode);
    EXPECT_EQ(ClosingAt(
                  w, [](int64_t) {}, 400000),
              c.closingAt);
    EXPECT_EQ(w.TimerInterval(T::tmrDelay), HoldMs(w.preferences));
    EXPECT_EQ(w.TickCount(T::tmrDelay), 1);
    EXPECT_EQ(w.preferenceReads, 1);
  }

  // Changed while a popup holds: that hold keeps its length; the hold that starts again
  // once the pointer has left takes the new one.
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 1);
  w.core().Form_MouseMove({1100, 980});
  w.preferences.messageDurationS = 10;
  w.core().Form_SettingChange();
  EXPECT_EQ(w.TimerInterval(T::tmrDelay), 2000);
  w.RunFor(4000);
  w.core().Form_MouseLeave();
  w.RunFor(9990);
  EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
  w.RunFor(10);
  EXPECT_TRUE(w.TimerRunning(T::tmrEffect3));
  EXPECT_EQ(w.preferenceReads, 2);
}

// ---- animations off ----

// Without animations a popup stands at full size at once (where a logout stands: 131 px
// with its bottom edge at 994 px) and goes at once at the end of its hold, with no
// closing ticks; its look and announcement are those of its kind. The setting is read at
// Start and on a change, never per step: a hold that ends after a change ends as the
// setting now says, an effect under way finishes. A login opens until 450 ms, holds until
// 2450 ms and then collapses in 44 ticks; from full size, it collapses in 44 as well.
TEST_F(PopupTest, AnimationsOffAtStartOrWhileAPopupIsOpen) {
  struct Case {
    const char* what;
    int16_t mode;
    bool animationsAtStart;
    int64_t changeAt, goneAt;
  };
  for (const Case& c : {Case{"login", 0, false, -1, 2000}, Case{"logout", 1, false, -1, 2000},
                        Case{"notice 2", 2, false, -1, 2000}, Case{"notice 3", 3, false, -1, 2000},
                        Case{"off during the hold", 0, true, 1000, 2450},
                        Case{"off during the opening", 0, true, 100, 2450},
                        Case{"off during the closing", 0, true, 2500, 2450 + 440},
                        Case{"on during the hold", 0, false, 1000, 2000 + 440}}) {
    SCOPED_TRACE(c.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    w.preferences.animations = c.animationsAtStart;
    StartPopup(w, c.mode, u"김민준");
    if (!c.animationsAtStart) {
      EXPECT_EQ(w.moves, (std::vector<PixelRect>{{1094, 863, 179, 131}}));
      EXPECT_TRUE(w.TimerRunning(T::tmrDelay));
    }
    EXPECT_EQ(w.look, LookForMode(u"김민준", c.mode));
    EXPECT_EQ(w.announcements, std::vector<std::u16string>{SpokenText(w.look)});
    while (!w.unloaded() && w.now() < 6000) {
      if (w.now() == c.changeAt) {
        w.preferences.animations = !c.animationsAtStart;
        w.core().Form_SettingChange();
      }
      w.RunFor(10);
    }
    EXPECT_EQ(w.now(), c.goneAt);
    EXPECT_EQ(popupCount, 0);
    EXPECT_TRUE(c.changeAt >= 0 || w.moves.size() == 1u) << "nothing moves";
    EXPECT_EQ(w.preferenceReads, c.changeAt < 0 ? 1 : 2);
    EXPECT_EQ(w.looksShown, 1) << "the look stays";
  }
}

// ---- high contrast ----

// In high contrast each kind takes the system's colours, what its mode colours (a
// logout's red line, a notice's green one) in the highlight colour; texts and envelope
// stay. A popup shows the colours of the moment it starts, and again whenever high
// contrast is switched or its colours change while it is open; other changes redraw
// nothing.
TEST_F(PopupTest, HighContrastTakesTheSystemColoursAtStartAndWhenTheyChange) {
  const SystemColors black{Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(26, 235, 255), Rgb(0, 255, 0)};
  const SystemColors white{Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(55, 0, 110), Rgb(9, 9, 9)};
  const uint32_t text = black.windowText, highlight = black.highlight;
  struct Kind {
    int16_t mode;
    uint32_t name, desc;
  };
  for (const Kind& k : {Kind{0, text, text}, Kind{1, text, highlight}, Kind{2, highlight, text},
                        Kind{-1, highlight, text}}) {
    SCOPED_TRACE(k.mode);
    const PopupLook designed = LookForMode(u"김민준", k.mode);
    EXPECT_EQ(designed.background, std::nullopt) << "the artwork";
    EXPECT_EQ(designed.frame, std::nullopt);
    PopupLook expected = designed;
    expected.nameColor = k.name;
    expected.descColor = k.desc;
    expected.background = expected.noteBackground = black.window;
    expected.frame = black.windowFrame;
    EXPECT_EQ(InSystemColors(designed, black), expected);
  }

  FakePopupWindow w(15.0f, popupCount);
  w.preferences.highContrast = black;
  StartPopup(w, 1);
  EXPECT_EQ(w.look, InSystemColors(LookForMode(u"test", 1), black));
  struct Step {
    const char* what;
    std::optional<SystemColors> highContrast;
    bool animations;
    int looksShown;
  };
  for (const Step& s :
       {Step{"nothing changed", black, true, 1}, Step{"animations off", black, false, 1},
        Step{"other colours", white, false, 2}, Step{"off", std::nullopt, false, 3},
        Step{"on again", black, false, 4}}) {
    SCOPED_TRACE(s.what);
    w.preferences = {s.animations, s.highContrast};
    w.core().Form_SettingChange();
    EXPECT_EQ(w.looksShown, s.looksShown);
    const PopupLook designed = LookForMode(u"test", 1);
    EXPECT_EQ(w.look, s.highContrast ? InSystemColors(designed, *s.highContrast) : designed);
  }
  EXPECT_EQ(w.announcements.size(), 1u);
  w.core().Picture1_Click();
  w.core().Form_SettingChange();  // after the unload: nothing
  EXPECT_EQ(w.looksShown, 4);
}

// ---- clicks and unload ----

TEST_F(PopupTest, ClickDuringTheHoldClosesAtOnce) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 0);
  w.RunFor(45 * 10 + 500);
  ASSERT_TRUE(w.TimerRunning(T::tmrDelay));
  const size_t moves = w.moves.size();
  w.timerLog.clear();
  w.core().lblName_Click();
  EXPECT_TRUE(w.unloaded());
  EXPECT_EQ(popupCount, 0);
  // The unload stops the four timers in its own order.
  using C = FakePopupWindow::TimerChange;
  EXPECT_EQ(w.timerLog, (std::vector<C>{{T::tmrEffect1, false},
                                        {T::tmrEffect2, false},
                                        {T::tmrEffect3, false},
                                        {T::tmrDelay, false}}));
  w.RunFor(10000);
  EXPECT_EQ(w.moves.size(), moves);
  EXPECT_EQ(w.TickCount(T::tmrEffect2) + w.TickCount(T::tmrEffect3), 0);
}

// The controls' boxes, worked out by hand from their twips: left, top, width and
// height each divided by the factor and rounded, halves to even (765 / 18 = 42.5 -> 42).
TEST(PopupBoxesTest, EachControlIsLaidOutAsAChildWindowOfItsSize) {
  EXPECT_EQ(LayOutBoxes({15.0f, 15.0f}),
            (PopupBoxes{{0, 0, 181, 132}, {19, 81, 51, 113}, {6, 31, 172, 45}, {3, 51, 169, 67}}));
  EXPECT_EQ(LayOutBoxes({18.0f, 18.0f}),
            (PopupBoxes{{0, 0, 151, 110}, {16, 68, 43, 95}, {5, 26, 143, 38}, {2, 42, 140, 55}}));
}

// A click at 96 dpi (boxes above): pressed and released on the same part, which the
// envelope takes only while it shows; Picture1 and the name line close the popup.
TEST_F(PopupTest, AClickIsAPressAndAReleaseOnTheSamePart) {
  struct Row {
    const char* what;
    int16_t mode;
    WindowPoint down, up;
    bool pressLost;
    PopupPart clicked;
    bool closes;
  };
  const Row rows[] = {
      {"the name line", 0, {10, 35}, {171, 44}, false, PopupPart::kLblName, true},
      {"from the name line onto the description",
       0,
       {10, 35},
       {10, 55},
       false,
       PopupPart::kNone,
       false},
      {"the description line, no action",
       0,
       {10, 55},
       {168, 66},
       false,
       PopupPart::kLblDesc,
       false},
      {"a notice's envelope, no action", 2, {20, 90}, {50, 112}, false, PopupPart::kPicNote, false},
      {"where a login hides its envelope: Picture1",
       0,
       {20, 90},
       {20, 90},
       false,
       PopupPart::kPicture1,
       true},
      {"Picture1's last pixel", 0, {180, 131}, {180, 131}, false, PopupPart::kPicture1, true},
      {"released just outside the window", 0, {2, 2}, {181, 2}, false, PopupPart::kNone, false},
      {"a press that another window took away", 0, {2, 2}, {2, 2}, true, PopupPart::kNone, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    popupCount = 0;
    FakePopupWindow w(15.0f, popupCount);
    StartPopup(w, row.mode);
    w.core().Form_MouseDown(row.down);
    if (row.pressLost) w.core().Form_PressLost();
    const PopupPart clicked = w.core().Form_MouseUp(row.up);
    EXPECT_EQ(clicked, row.clicked);
    w.core().Form_Click(clicked);
    EXPECT_EQ(w.unloaded(), row.closes);
  }
  // A release with no press before it clicks nothing.
  popupCount = 0;
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 0);
  EXPECT_EQ(w.core().Form_MouseUp({10, 35}), PopupPart::kNone);
}

TEST_F(PopupTest, NoStepRunsAfterTheUnload) {
  FakePopupWindow w(15.0f, popupCount);
  StartPopup(w, 0);
  w.RunFor(50);
  w.core().Picture1_Click();
  // A tick or click that was already on its way does nothing.
  w.Fire(T::tmrEffect1);
  w.Fire(T::tmrDelay);
  w.Fire(T::tmrEffect2);
  w.Fire(T::tmrEffect3);
  w.core().Picture1_Click();
  w.core().Form_Unload();
  EXPECT_EQ(w.movesAfterUnload, 0);
  EXPECT_EQ(w.unloadCalls, 1);
  EXPECT_EQ(popupCount, 0);
  EXPECT_FALSE(w.TimerRunning(T::tmrEffect2));
}

}  // namespace
}  // namespace tindra
