// GetFileVer over blocks built in memory: the scan rules, the damaged-block path and
// the calls to the platform's two operations.
#include <gtest/gtest.h>

#include "common/errors.h"
#include "fileutil/modFile.h"
#include "fileutil/tests/fake_source.h"
#include "fileutil/tests/test_blocks.h"
#include "fileutil/version_scan.h"

namespace tindra {
namespace {

using namespace std::literals;

using testing::Harness;
using testing::kScanError;
using testing::Table;
using testing::VersionBlock;

TEST(GetFileVer, ProgramsOwnBlock) {
  Harness h(testing::OwnBlock());
  const FileVerList list = GetFileVer(u"C:\\Tindra\\Tindra.exe");
  ASSERT_EQ(list.Entries().size(), 13u);
  EXPECT_EQ(list[0], u"CompanyName: Tindra");
  EXPECT_EQ(list[1], u"FileDescription: Not specified");
  // FileVersion: odd key, NUL and one alignment unit; ProductVersion: even key.
  EXPECT_EQ(list[2], u"FileVersion: 1.00.0027");
  EXPECT_EQ(list[7], u"ProductVersion: 1.00.0027");
  EXPECT_EQ(list[3], u"InternalName: Tindra");
  EXPECT_EQ(list[5], u"OriginalFilename: Tindra.exe");
  for (int32_t i : {4, 8, 9, 10, 11})
    EXPECT_EQ(list[i].substr(list[i].find(u':')), u": Not specified");
  EXPECT_EQ(list[12], u"Language: Korean");
  EXPECT_TRUE(h.boxes.shown.empty());
  EXPECT_EQ(h.source.lastName, u"C:\\Tindra\\Tindra.exe");
  EXPECT_EQ(h.source.handleSeen, 0x5A5Au);  // passed on unchanged
}

TEST(GetFileVer, LanguageOfTheFirstTable) {
  {
    Harness h(VersionBlock({{u"041204b0", {{u"FileVersion", u"1"}}}}));
    EXPECT_EQ(GetFileVer(u"f")[12], u"Language: Korean");
  }
  {
    Harness h(VersionBlock({{u"044504B0", {{u"FileVersion", u"1"}}}}));
    EXPECT_EQ(GetFileVer(u"f")[12], u"Language: ");
  }
  {
    Harness h(VersionBlock({{u"080904E4", {{u"CompanyName", u"A"}}},
                            {u"041204B0", {{u"CompanyName", u"B"}, {u"Comments", u"C"}}}}));
    const FileVerList list = GetFileVer(u"f");
    EXPECT_EQ(list[0], u"CompanyName: A");
    EXPECT_EQ(list[8], u"Comments: C");
    EXPECT_EQ(list[12], u"Language: English - United Kingdom");
  }
  {
    // No StringFileInfo at all: the bare name.
    Harness h(VersionBlock({}));
    const FileVerList list = GetFileVer(u"f");
    EXPECT_EQ(list[12], u"Language");
    EXPECT_EQ(list[2], u"FileVersion: Not specified");
    EXPECT_TRUE(h.boxes.shown.empty());
  }
}

TEST(GetFileVer, ValuesOfBothKeyParitiesEmptyOrNot) {
  Harness h(VersionBlock({{u"040904B0",
                           {{u"Comments", u""},         // 8: even, empty
                            {u"PrivateBuild", u"p"},    // 12: even
                            {u"SpecialBuild", u""},     // 12: even, empty
                            {u"LegalCopyright", u"c"},  // 14: even
                            {u"LegalTrademarks", u""},  // 15: odd, empty
                            {u"InternalName", u"in"},
                            {u"FileDescription", u"d"}}}}));  // 15: odd
  const FileVerList list = GetFileVer(u"f");
  EXPECT_EQ(list[8], u"Comments: ");
  EXPECT_EQ(list[10], u"PrivateBuild: p");
  EXPECT_EQ(list[11], u"SpecialBuild: ");
  EXPECT_EQ(list[4], u"LegalCopyright: c");
  EXPECT_EQ(list[9], u"LegalTrademarks: ");
  EXPECT_EQ(list[3], u"InternalName: in");
  EXPECT_EQ(list[1], u"FileDescription: d");
}

TEST(GetFileVer, EntryWithNoValueAtAllReadsEmpty) {
  // Keys of both parities, each followed directly by the next entry's header.
  Harness h(VersionBlock({{u"041204B0",
                           {{u"Comments", u"", true, true},
                            {u"CompanyName", u"", true, true},
                            {u"FileVersion", u"1.00.0027"},
                            {u"FileDescription", u"", true, true}}}}));
  const FileVerList list = GetFileVer(u"f");
  EXPECT_EQ(list[8], u"Comments: ");
  EXPECT_EQ(list[0], u"CompanyName: ");
  EXPECT_EQ(list[2], u"FileVersion: 1.00.0027");
  EXPECT_EQ(list[1], u"FileDescription: ");
  EXPECT_EQ(list[12], u"Language: Korean");
  EXPECT_TRUE(h.boxes.shown.empty());
}

TEST(GetFileVer, KeysNeedTheTypeWordInFront) {
  // "FileVersion" inside a value is no key; the first real key wins.
  Harness h(VersionBlock(
      {{u"041204B0",
        {{u"Comments", u"FileVersion"}, {u"FileVersion", u"2.0"}, {u"FileVersion", u"3.0"}}}}));
  const FileVerList list = GetFileVer(u"f");
  EXPECT_EQ(list[2], u"FileVersion: 2.0");
  EXPECT_EQ(list[8], u"Comments: FileVersion");
}

TEST(GetFileVer, ValueWithoutNulGivesOneBoxAndTheBareName) {
  Harness h(VersionBlock({{u"041204B0",
                           {{u"CompanyName", u"Tindra"},
                            {u"FileVersion", u"1.00.0027"},
                            {u"SpecialBuild", u"abc", false}}}}));
  const FileVerList list = GetFileVer(u"f");
  ASSERT_EQ(h.boxes.shown.size(), 1u);
  EXPECT_EQ(h.boxes.shown[0], kScanError);
  EXPECT_EQ(h.boxes.styles[0], kMbOk);
  EXPECT_EQ(list[11], u"SpecialBuild");
  EXPECT_EQ(list[0], u"CompanyName: Tindra");
  EXPECT_EQ(list[2], u"FileVersion: 1.00.0027");
  EXPECT_EQ(list[12], u"Language: Korean");
}

// Blocks cut short right after a key, a table key or inside them: every read stays
// in the buffer (the sanitizers watch), each fault is one box.
std::vector<uint8_t> Units(std::u16string_view units) {
  std::vector<uint8_t> b;
  for (char16_t c : units) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

TEST(GetFileVer, BlocksEndingInsideAnEntry) {
  struct Case {
    std::u16string units;
    int32_t index;
    std::u16string entry;
    size_t boxes;
  };
  const Case cases[] = {
      {u"\x0001"
       u"FileVersion"s,
       2, u"FileVersion", 1},  // P at the end
      {u"\x0001"
       u"FileVersion"
       u"\0"s,
       2, u"FileVersion", 1},  // P+1 at the end
      {u"\x0001"
       u"FileVersion"
       u"x"s,
       2, u"FileVersion", 1},
      {u"\x0001"
       u"FileVersion"
       u"\0\0"s,
       2, u"FileVersion", 1},
      {u"\x0001"
       u"FileVersion"
       u"\0\0"
       u"7\0"s,
       2, u"FileVersion: 7", 0},
      {u"\x0001"
       u"StringFileInfo"s,
       12, u"Language: ", 0},  // no table at all
      {u"\x0001"
       u"StringFileInfo"
       u"\x0001"
       u"0412"s,
       12, u"Language", 1},  // key runs off
      {u"\x0001"
       u"StringFileInfo"
       u"\0"
       u"\x0001"
       u"0412\0"s,
       12, u"Language: Korean", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units.size());
    Harness h(Units(c.units));
    const FileVerList list = GetFileVer(u"f");
    EXPECT_EQ(list[c.index], c.entry);
    EXPECT_EQ(h.boxes.shown.size(), c.boxes);
  }
}

TEST(GetFileVer, OddTrailingByteIsNotPartOfAnyUnit) {
  std::vector<uint8_t> b = Units(
      u"\x0001"
      u"FileVersion"
      u"\0\0"
      u"9"s);
  b.push_back('\0');  // half a NUL
  Harness h(b);
  EXPECT_EQ(GetFileVer(u"f")[2], u"FileVersion");
  EXPECT_EQ(h.boxes.shown.size(), 1u);
}

TEST(GetFileVer, NoBlockGivesTheEmptyResultSilently) {
  {
    Harness h({});
    const FileVerList list = GetFileVer(u"missing.exe");
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(h.source.getInfoCalls, 0);
  }
  {
    Harness h(testing::OwnBlock());
    h.source.failCopy = true;
    EXPECT_TRUE(GetFileVer(u"f").IsEmpty());
    EXPECT_TRUE(h.boxes.shown.empty());
  }
}

TEST(FileVerList, EntriesOutsideTheListRaiseSubscriptOutOfRange) {
  const FileVerList empty;
  for (int32_t i : {0, 2, 12}) {
    try {
      (void)empty.Entry(i);
      ADD_FAILURE() << "no error for entry " << i;
    } catch (const AppError& e) {
      EXPECT_EQ(e.number(), kErrSubscript);
    }
  }
  const FileVerList list = ScanVersionBlock(testing::OwnBlock());
  EXPECT_THROW((void)list.Entry(13), AppError);
  EXPECT_THROW((void)list.Entry(-1), AppError);
  EXPECT_NO_THROW((void)list.Entry(12));
}

}  // namespace
}  // namespace tindra
