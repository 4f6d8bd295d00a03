#include <gtest/gtest.h>
#include <windows.h>

#include "common/win32/ansi.h"

using namespace tindra::win32;

// The test environment runs Wine under a Korean locale, so the ANSI code page is 949.
TEST(Ansi, TheSystemCodePageIsKorean) { EXPECT_EQ(GetACP(), 949u); }

TEST(Ansi, HangulRoundTripsThroughCp949) {
  std::u16string s = u"1;사용자";
  std::string a = ToAnsi(s);
  EXPECT_EQ(a, "1;\xBB\xE7\xBF\xEB\xC0\xDA");
  EXPECT_EQ(FromAnsi(a), s);
  EXPECT_EQ(ToAnsi(u"자동업데이트"), "\xC0\xDA\xB5\xBF\xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE");
}

TEST(Ansi, EmbeddedNulsAndEmptyTextSurvive) {
  EXPECT_EQ(FromAnsi(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(ToAnsi(u""), "");
  EXPECT_EQ(FromAnsi(""), u"");
}

TEST(Ansi, InvalidBytesDecodeWithoutLosingTheRest) {
  std::u16string s = FromAnsi("x\xFF\xFFy");
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(s.front(), u'x');
  EXPECT_EQ(s.back(), u'y');
}
