#include <gtest/gtest.h>

#include <climits>

#include "app/FrmMain.h"
#include "common/errors.h"

using namespace tindra;
using Kind = DdeMessage::Kind;

namespace {

void ExpectNotification(std::u16string_view text, int16_t mode, std::u16string_view name) {
  DdeMessage m = ParseDdeMessage(text);
  EXPECT_EQ(m.kind, Kind::kNotification);
  EXPECT_EQ(m.iMode, mode);
  EXPECT_EQ(m.sName, name);
}

}  // namespace

TEST(ParseDdeMessage, ModeIsTheFirstCharacterAndTheNameStartsAtTheThird) {
  ExpectNotification(u"1;사용자", 1, u"사용자");
  ExpectNotification(u"0;test", 0, u"test");
  ExpectNotification(u"12;abc", 1, u";abc");
  ExpectNotification(u"0abc", 0, u"bc");
  ExpectNotification(u"9;a;b c ", 9, u"a;b c ");
}

TEST(ParseDdeMessage, NonDigitFirstCharacterGivesModeZero) {
  ExpectNotification(u"x;abc", 0, u"abc");
  ExpectNotification(u"-1;abc", 0, u";abc");
  ExpectNotification(u" 1;abc", 0, u";abc");
  // A full-width digit is not a decimal digit here.
  ExpectNotification(u"\uFF11;abc", 0, u"abc");
}

TEST(ParseDdeMessage, ShortTextsGiveAnEmptyName) {
  ExpectNotification(u"7", 7, u"");
  ExpectNotification(u"7;", 7, u"");
  ExpectNotification(u"x", 0, u"");
}

TEST(ParseDdeMessage, OnlyExactLowerCaseEndCloses) {
  EXPECT_EQ(ParseDdeMessage(u"end").kind, Kind::kEnd);
  ExpectNotification(u"End", 0, u"d");
  ExpectNotification(u"END", 0, u"D");
  ExpectNotification(u"end ", 0, u"d ");
  ExpectNotification(u" end", 0, u"nd");
}

TEST(ParseDdeMessage, EmptyTextIsNothing) { EXPECT_EQ(ParseDdeMessage(u"").kind, Kind::kNothing); }

TEST(NextPopupY, StacksUpwardFromTheBottomAndWrapsAtTheTop) {
  const int32_t expected[] = {14910, 12925, 10940, 8955, 6970, 4985, 3000, 14890, 12925, 10940};
  int32_t nSlot = 0;
  int32_t open = 0;
  for (int32_t y : expected) {
    EXPECT_EQ(NextPopupY(14910, nSlot, open), y) << "popup " << open + 1;
    ++open;
  }
  EXPECT_EQ(nSlot, 3);
}

TEST(NextPopupY, RestartsAtSlotZeroOnlyWhenNoPopupIsOpen) {
  int32_t nSlot = 0;
  EXPECT_EQ(NextPopupY(14910, nSlot, 0), 14910);
  EXPECT_EQ(NextPopupY(14910, nSlot, 1), 12925);
  // Slot 0 closed, slot 1 still open: the next goes above, not into the gap.
  EXPECT_EQ(NextPopupY(14910, nSlot, 1), 10940);
  // All closed: back to slot 0.
  EXPECT_EQ(NextPopupY(14910, nSlot, 0), 14910);
  EXPECT_EQ(nSlot, 1);
}

TEST(NextPopupY, LowerEdgeExactly1965IsUsedAnd1964Wraps) {
  int32_t nSlot = 1;
  EXPECT_EQ(NextPopupY(1965 + 1985, nSlot, 1), 1965);
  EXPECT_EQ(nSlot, 2);
  EXPECT_EQ(NextPopupY(1965 + 1985, nSlot, 2), 1965 + 1985 - 20);
  EXPECT_EQ(nSlot, 1);

  nSlot = 1;
  EXPECT_EQ(NextPopupY(1964 + 1985, nSlot, 1), 1964 + 1985 - 20);
  EXPECT_EQ(nSlot, 1);
}

TEST(NextPopupY, AWorkAreaLowerThanOnePopupAlwaysGivesBottomMinus20) {
  for (int32_t bottom : {1964, 1000, 0, -500}) {
    int32_t nSlot = 0;
    for (int32_t open = 0; open < 4; ++open) {
      EXPECT_EQ(NextPopupY(bottom, nSlot, open), bottom - 20) << bottom;
      EXPECT_EQ(nSlot, 1);
    }
  }
}

TEST(NextPopupY, ArithmeticLeavingThe32BitRangeIsOverflow) {
  int32_t nSlot = 0;
  try {
    NextPopupY(INT32_MIN + 5, nSlot, 0);
    FAIL() << "no error";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
  nSlot = INT32_MAX / 1000;
  EXPECT_THROW(NextPopupY(14910, nSlot, 3), AppError);
}

TEST(CutText, KeepsAtMostTheLimitAndNeverHalfASurrogatePair) {
  const std::u16string clef = u"\U0001D11E";  // one character, two code units
  struct Case {
    std::u16string text;
    size_t max;
    std::u16string cut;
  };
  const Case cases[] = {
      {u"abc", 3, u"abc"},
      {u"abcd", 3, u"abc"},
      {u"", 0, u""},
      {u"ab" + clef, 3, u"ab"},         // the pair would be split: both halves go
      {u"ab" + clef, 4, u"ab" + clef},  // the pair fits
      {u"a" + clef + u"b", 3, u"a" + clef},
      {u"가나다라", 2, u"가나"},
  };
  for (const Case& c : cases) EXPECT_EQ(CutText(c.text, c.max), c.cut) << c.max;
}
