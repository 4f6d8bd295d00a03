// The companions' command lines and the bare file names they take.
#include "update/command_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace tindra {
namespace {

TEST(CompanionArgs, ArgumentsFollowTheProgramName) {
  EXPECT_EQ(ArgumentsOf(u"\"C:\\a b\\Pellmora.exe\" Tindra.exe;New_Tindra.exe"),
            u"Tindra.exe;New_Tindra.exe");
  EXPECT_EQ(ArgumentsOf(u"C:\\x\\Vantorel.exe  27;My Tindra.exe "), u"27;My Tindra.exe");
  EXPECT_EQ(ArgumentsOf(u"Vantorel.exe"), u"");
  EXPECT_EQ(ArgumentsOf(u"\"unterminated"), u"");
}

TEST(CompanionArgs, CheckerParametersAreRevisionAndExecutable) {
  auto a = ParseCheckerArgs(u"27;Tindra.exe");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->revision, 27);
  EXPECT_EQ(a->exeFile, u"Tindra.exe");
  auto b = ParseCheckerArgs(u" 0 ; 내 프로그램.EXE ");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->revision, 0);
  EXPECT_EQ(b->exeFile, u"내 프로그램.EXE");

  for (std::u16string bad : {u"", u"27", u"27;", u";Tindra.exe", u"x;Tindra.exe", u"-1;Tindra.exe",
                             u"32768;Tindra.exe", u"27;Tindra.txt", u"27;..\\Tindra.exe",
                             u"27;C:\\Tindra.exe", u"27;a/Tindra.exe", u"27;.exe"}) {
    EXPECT_FALSE(ParseCheckerArgs(bad)) << std::string(bad.begin(), bad.end());
  }
}

TEST(CompanionArgs, OnlyBareNamesOfTheFolder) {
  EXPECT_TRUE(IsBareFileName(u"New_Tindra.exe"));
  EXPECT_TRUE(IsBareFileName(u"a b.exe"));
  for (std::u16string bad :
       {u"", u".", u"..", u"..\\x.exe", u"a..b.exe", u"sub\\x.exe", u"sub/x.exe", u"C:x.exe",
        u"x*.exe", u"x?.exe", u"x.exe.", u"x.exe ", u"a\tb.exe", u"\"x.exe\""}) {
    EXPECT_FALSE(IsBareFileName(bad)) << std::string(bad.begin(), bad.end());
  }
  EXPECT_FALSE(IsBareFileName(std::u16string(256, u'a')));

  auto pair = SplitArgs(u" Tindra.exe ; New_Tindra.exe ");
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->first, u"Tindra.exe");
  EXPECT_EQ(pair->second, u"New_Tindra.exe");
  EXPECT_FALSE(SplitArgs(u"Tindra.exe"));
}

TEST(CompanionArgs, ReplacerTakesAnExeAndNewPlusItsName) {
  struct Row {
    const char16_t* args;
    bool taken;
  };
  const Row rows[] = {
      {u"Tindra.exe;New_Tindra.exe", true},
      {u" Tindra.exe ; New_Tindra.exe ", true},
      {u"tindra.EXE;NEW_TINDRA.exe", true},
      {u"내 프로그램.exe;New_내 프로그램.exe", true},
      {u"27;Tindra.exe", false},                      // a checker's parameters
      {u"Tindra.exe;Pellmora.exe", false},            // not New_ + the old name
      {u"Tindra.exe;New_Vantorel.exe", false},        // New_ + another name
      {u"Tindra.exe;Tindra.exe", false},              // the same file
      {u"Tindra.txt;New_Tindra.txt", false},          // not a program
      {u".exe;New_.exe", false},                      // no name before .exe
      {u"Tindra.exe;New_Tindra.exe.bak", false},      // something after the name
      {u"..\\Tindra.exe;New_..\\Tindra.exe", false},  // a folder part
      {u"Tindra.exe;..\\outside.exe", false},
      {u"Tindra.exe", false},
      {u"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.args, row.args + std::char_traits<char16_t>::length(row.args)));
    EXPECT_EQ(ParseReplacerArgs(row.args).has_value(), row.taken);
  }
  EXPECT_EQ(ParseReplacerArgs(u"Tindra.exe;New_Tindra.exe")->second, u"New_Tindra.exe");
}

}  // namespace
}  // namespace tindra
