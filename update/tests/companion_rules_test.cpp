// The companions' command lines, names and checks on what the server sends.
#include "update/companion_rules.h"

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

TEST(VersionFile, OneNumberWithBlanksAroundIt) {
  EXPECT_EQ(ParseLatestRevision("28"), 28);
  EXPECT_EQ(ParseLatestRevision("28\r\n"), 28);
  EXPECT_EQ(ParseLatestRevision(" \t0028 \n"), 28);
  for (std::string bad :
       {"", "\r\n", "<html>404", "28a", "2 8", "-1", "1e3", "27.5", "1234567890"}) {
    EXPECT_FALSE(ParseLatestRevision(bad)) << bad;
  }
  EXPECT_EQ(VersionFileName(u"Tindra.exe"), u"Tindra_lastver.txt");
  EXPECT_EQ(VersionFileName(u"my.app.exe"), u"my.app_lastver.txt");
}

TEST(VersionFile, RevisionCarriedByAVersionText) {
  EXPECT_EQ(RevisionOfVersion(u"1.00.28"), 28);
  EXPECT_EQ(RevisionOfVersion(u"1.00.0028"), 28);
  EXPECT_EQ(RevisionOfVersion(u"1.00.0"), 0);
  EXPECT_EQ(RevisionOfVersion(u"0027"), 27);
  EXPECT_FALSE(RevisionOfVersion(u""));
  EXPECT_FALSE(RevisionOfVersion(u"Not specified"));
  EXPECT_FALSE(RevisionOfVersion(u"1.00."));
}

// A minimal image header: "MZ", e_lfanew, "PE\0\0", the file header and the
// optional header's magic.
std::string Image(uint16_t characteristics, uint16_t magic, bool pe = true) {
  std::string b(0x100, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x80;
  if (pe) b.replace(0x80, 4, std::string("PE\0\0", 4));
  b[0x80 + 4 + 18] = static_cast<char>(characteristics & 0xFF);
  b[0x80 + 4 + 19] = static_cast<char>(characteristics >> 8);
  b[0x80 + 24] = static_cast<char>(magic & 0xFF);
  b[0x80 + 25] = static_cast<char>(magic >> 8);
  return b;
}

TEST(DownloadedProgram, MustBeAWindowsExecutable) {
  EXPECT_TRUE(LooksLikeWindowsProgram(Image(0x0102, 0x10B)));
  EXPECT_TRUE(LooksLikeWindowsProgram(Image(0x0022, 0x20B)));
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x2102, 0x10B)));  // a DLL
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0100, 0x10B)));  // not executable
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0102, 0x0107)));
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0102, 0x10B, false)));
  EXPECT_FALSE(LooksLikeWindowsProgram("<html><body>404</body></html>"));
  EXPECT_FALSE(LooksLikeWindowsProgram(""));
  std::string truncated = Image(0x0102, 0x10B).substr(0, 0x90);
  EXPECT_FALSE(LooksLikeWindowsProgram(truncated));
  std::string farOff = Image(0x0102, 0x10B);
  farOff[0x3C] = 0x7F;
  farOff[0x3D] = 0x7F;
  EXPECT_FALSE(LooksLikeWindowsProgram(farOff));
}

}  // namespace
}  // namespace tindra
