#include "common/numeric.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "common/errors.h"
#include "common/msgbox.h"

using namespace tindra;

namespace {
int32_t ErrorOf(auto&& f) {
  try {
    f();
  } catch (const AppError& e) {
    return e.number();
  }
  return 0;
}
}  // namespace

TEST(CheckedArithmetic, RaisesOverflowAtTheEdgesOfEachWidth) {
  EXPECT_EQ(CheckedAdd<int16_t>(32766, 1), 32767);
  EXPECT_EQ(ErrorOf([] { CheckedAdd<int16_t>(32767, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CheckedSub<int16_t>(-32768, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CheckedMul<int16_t>(256, 128); }), kErrOverflow);
  EXPECT_EQ(CheckedMul<int32_t>(7, 1985), 13895);
  EXPECT_EQ(ErrorOf([] { CheckedAdd<int32_t>(INT32_MAX, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CheckedSub<int32_t>(INT32_MIN, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CheckedMul<int32_t>(65536, 32768); }), kErrOverflow);
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(ToInt32(27.5), 28);
  EXPECT_EQ(ToInt32(28.5), 28);
  EXPECT_EQ(ToInt32(-2.5), -2);
  EXPECT_EQ(ToInt32(-3.5), -4);
  EXPECT_EQ(ToInt32(14910.4999), 14910);
  EXPECT_EQ(ToInt16(0.5), 0);
  EXPECT_EQ(ToInt16(1.5), 2);
}

TEST(Rounding, OutOfRangeOrNaNRaisesOverflow) {
  EXPECT_EQ(ToInt32(2147483647.4), INT32_MAX);
  EXPECT_EQ(ErrorOf([] { ToInt32(2147483647.5); }), kErrOverflow);
  EXPECT_EQ(ToInt32(-2147483648.5), INT32_MIN);  // half to even stays in range
  EXPECT_EQ(ErrorOf([] { ToInt32(-2147483649.0); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt16(32767.5); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt32(std::numeric_limits<double>::quiet_NaN()); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt16(int32_t{40000}); }), kErrOverflow);
}

TEST(ReadNumber, SkipsBlanksTabsAndLineFeedsAnywhere) {
  EXPECT_EQ(ReadNumber(u"27"), 27.0);
  EXPECT_EQ(ReadNumber(u"  2 7\t\n"), 27.0);
  EXPECT_EQ(ReadNumber(u"\n- 1 2"), -12.0);
  EXPECT_EQ(ReadNumber(u"27\r\n"), 27.0);  // CR is not skipped: it ends the number
  EXPECT_EQ(ReadNumber(u"2\r7"), 2.0);
}

TEST(ReadNumber, ReadsFractionsAndExponentsAndStopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(ReadNumber(u"27.5"), 27.5);
  EXPECT_EQ(ReadNumber(u".5"), 0.5);
  EXPECT_EQ(ReadNumber(u"+3"), 3.0);
  EXPECT_EQ(ReadNumber(u"1e3x"), 1000.0);
  EXPECT_EQ(ReadNumber(u"2.5E-1"), 0.25);
  EXPECT_EQ(ReadNumber(u"12e"), 12.0);  // a bare exponent mark is not part of the number
  EXPECT_EQ(ReadNumber(u"12e+"), 12.0);
  EXPECT_EQ(ReadNumber(u"1.2.3"), 1.2);
  EXPECT_EQ(ReadNumber(u"27abc"), 27.0);
  EXPECT_EQ(ReadNumber(u"1,000"), 1.0);
}

TEST(ReadNumber, TextWithoutANumberReadsAsZero) {
  EXPECT_EQ(ReadNumber(u""), 0.0);
  EXPECT_EQ(ReadNumber(u"<html>"), 0.0);
  EXPECT_EQ(ReadNumber(u"Not specified"), 0.0);
  EXPECT_EQ(ReadNumber(u"-"), 0.0);
  EXPECT_EQ(ReadNumber(u"."), 0.0);
  EXPECT_EQ(ReadNumber(u"e5"), 0.0);
}

TEST(ReadNumber, HugeValuesRaiseOverflowButStillReadBeyond32Bits) {
  EXPECT_EQ(ReadNumber(u"99999999999"), 99999999999.0);
  EXPECT_EQ(ErrorOf([] { ReadNumber(u"1e999"); }), kErrOverflow);
  EXPECT_EQ(ReadNumber(u"1e-999"), 0.0);
}

TEST(FormatZero, DropsLeadingZerosOfDigitRunsOnly) {
  EXPECT_EQ(FormatZero(u"0027"), u"27");
  EXPECT_EQ(FormatZero(u"000"), u"0");
  EXPECT_EQ(FormatZero(u"27"), u"27");
  EXPECT_EQ(FormatZero(u""), u"");
  EXPECT_EQ(FormatZero(u"beta"), u"beta");
  EXPECT_EQ(FormatZero(u"12a"), u"12a");
  EXPECT_EQ(FormatZero(u"000000000000000000000000099999999999999999999"), u"99999999999999999999");
}

TEST(ErrorMessage, HasTheProgramsOneForm) {
  AppError e(kErrOverflow, ErrorDescription(kErrOverflow));
  EXPECT_EQ(ErrorMessage(e, u"GetFileVer", u"mdlFile"),
            u"Error 6 (Overflow) in procedure GetFileVer of Module mdlFile");
}

TEST(MessageBoxes, ReportErrorShowsOneOkOnlyBoxThroughTheReplaceableService) {
  struct Recorder : MessageBoxes {
    std::u16string text;
    uint32_t style = 99;
    int count = 0;
    void Show(std::u16string_view t, uint32_t s) override {
      text = t;
      style = s;
      ++count;
    }
  } rec;
  {
    ScopedMessageBoxes scope(rec);
    ReportError(AppError(53, u"File not found"), u"RunAutoUpdate", u"modAutoUpdateV1_Launcher");
  }
  EXPECT_EQ(rec.count, 1);
  EXPECT_EQ(rec.style, kMbOk);
  EXPECT_EQ(rec.text,
            u"Error 53 (File not found) in procedure RunAutoUpdate of Module "
            u"modAutoUpdateV1_Launcher");
  EXPECT_NE(&CurrentMessageBoxes(), &rec);
}
