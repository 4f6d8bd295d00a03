// Reading a version number: GetFileVerNumber over blocks built in memory (the results
// the self-update relies on and what each failing step leaves), and the build number
// the update takes for a program's revision.
#include "fileutil/version_number.h"

#include <gtest/gtest.h>

#include <string>

#include "fileutil/modFile.h"
#include "fileutil/tests/fake_source.h"
#include "fileutil/tests/test_blocks.h"

namespace tindra {
namespace {

using testing::Harness;

std::vector<uint8_t> WithFileVersion(const std::u16string& value) {
  return testing::VersionBlock({{u"041204B0", {{u"FileVersion", value}}}});
}

TEST(GetFileVerNumber, AsTheSelfUpdateCallsIt) {
  struct Case {
    std::u16string fileVersion;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"1.00.0027", u"1.00.27"}, {u"1.00.0000", u"1.00.0"},
      {u"000123", u"123"},        {u"0", u"0"},
      {u"2.5.", u"2.5."},         {u"1.2.beta", u"1.2.beta"},
      {u"1.2. 7", u"1.2. 7"},     {u"", u""},
      {u"abc", u"abc"},           {u"1.0 (build 0042)", u"1.0 (build 0042)"},
  };
  for (const Case& c : cases) {
    Harness h(WithFileVersion(c.fileVersion));
    EXPECT_EQ(GetFileVerNumber(u"Vantorel.exe", true, true), c.expected)
        << "FileVersion " << std::string(c.fileVersion.begin(), c.fileVersion.end());
    EXPECT_TRUE(h.boxes.shown.empty());
  }
}

TEST(GetFileVerNumber, WithoutBuild) {
  Harness h(WithFileVersion(u"1.00.0027"));
  EXPECT_EQ(GetFileVerNumber(u"f", false, false), u"1.00");
  EXPECT_TRUE(h.boxes.shown.empty());
}

TEST(GetFileVerNumber, WithoutBuildAndWithoutDotGivesTheValue) {
  Harness h(WithFileVersion(u"0042"));
  EXPECT_EQ(GetFileVerNumber(u"f", false, true), u"0042");
  EXPECT_TRUE(h.boxes.shown.empty());
  EXPECT_EQ(GetFileVerNumber(u"f", false, false), u"0042");
  ASSERT_EQ(h.boxes.shown.size(), 1u);
  EXPECT_EQ(h.boxes.shown[0],
            u"Error 5 (Invalid procedure call or argument) in procedure GetFileVerNumber of "
            u"Module mdlFile");
}

TEST(GetFileVerNumber, NoFileVersionAndNoBlock) {
  {
    Harness h(testing::VersionBlock({{u"041204B0", {{u"ProductVersion", u"1.2.3"}}}}));
    EXPECT_EQ(GetFileVerNumber(u"f", true, true), u"Not specified");
    EXPECT_EQ(GetFileVerNumber(u"f", false, true), u"Not specified");
  }
  {
    Harness h({});
    EXPECT_EQ(GetFileVerNumber(u"f", true, true), u"");
    EXPECT_TRUE(h.boxes.shown.empty());
    EXPECT_EQ(GetFileVerNumber(u"f", true, false), u"");
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0],
              u"Error 9 (Subscript out of range) in procedure GetFileVerNumber of Module mdlFile");
  }
}

TEST(GetFileVerNumber, LastDotBeyondSixteenBits) {
  // The last "." at position 32767 still fits; one further overflows D and the value
  // comes back as read.
  {
    Harness h(WithFileVersion(std::u16string(32766, u'1') + u".0027"));
    EXPECT_EQ(GetFileVerNumber(u"f", true, false), std::u16string(32766, u'1') + u".27");
    EXPECT_TRUE(h.boxes.shown.empty());
  }
  {
    const std::u16string value = std::u16string(32767, u'1') + u".0027";
    Harness h(WithFileVersion(value));
    EXPECT_EQ(GetFileVerNumber(u"f", true, true), value);
    EXPECT_TRUE(h.boxes.shown.empty());
    EXPECT_EQ(GetFileVerNumber(u"f", false, false), value);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0],
              u"Error 6 (Overflow) in procedure GetFileVerNumber of Module mdlFile");
  }
}

TEST(GetFileVerNumber, DamagedBlockIsReportedByGetFileVerEvenWhenSilent) {
  Harness h(testing::VersionBlock({{u"041204B0", {{u"FileVersion", u"1.00.0027", false}}}}));
  // The bare entry "FileVersion" has no space and no ".": it is the whole result.
  EXPECT_EQ(GetFileVerNumber(u"f", true, true), u"FileVersion");
  ASSERT_EQ(h.boxes.shown.size(), 1u);
  EXPECT_EQ(h.boxes.shown[0], testing::kScanError);
}

TEST(BuildNumber, CarriedByAVersionText) {
  EXPECT_EQ(BuildNumberOf(u"1.00.28"), 28);
  EXPECT_EQ(BuildNumberOf(u"1.00.0028"), 28);
  EXPECT_EQ(BuildNumberOf(u"1.00.0"), 0);
  EXPECT_EQ(BuildNumberOf(u"0027"), 27);
  EXPECT_FALSE(BuildNumberOf(u""));
  EXPECT_FALSE(BuildNumberOf(u"Not specified"));
  EXPECT_FALSE(BuildNumberOf(u"1.00."));
}

TEST(BuildNumber, OfAFilesOwnBlockSilently) {
  struct Case {
    const char* what;
    std::vector<uint8_t> block;
    std::optional<int32_t> expected;
  };
  const Case cases[] = {
      {"a program's block", WithFileVersion(u"1.00.0027"), 27},
      {"no block", {}, std::nullopt},
      {"no FileVersion", testing::VersionBlock({{u"041204B0", {{u"ProductVersion", u"1.2.3"}}}}),
       std::nullopt},
      {"a damaged FileVersion",
       testing::VersionBlock({{u"041204B0", {{u"FileVersion", u"1.00.0027", false}}}}),
       std::nullopt},
  };
  for (const Case& c : cases) {
    Harness h(c.block);
    EXPECT_EQ(FileBuildNumber(u"Tindra.exe"), c.expected) << c.what;
    EXPECT_TRUE(h.boxes.shown.empty()) << c.what;
  }
}

}  // namespace
}  // namespace tindra
