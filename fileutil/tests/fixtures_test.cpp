// The fixtures read through the platform's default source: the PE reader natively,
// version.dll on Windows. Both must give the entries worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msgbox.h"
#include "common/text.h"
#include "fileutil/modFile.h"
#include "fileutil/tests/fixture_expectations.h"

namespace tindra {
namespace {

class RecordingBoxes : public MessageBoxes {
 public:
  void Show(std::u16string_view text, uint32_t) override { shown.emplace_back(text); }
  std::vector<std::u16string> shown;
};

std::u16string FixturePath(const char* file) {
  return Ascii(TINDRA_FIXTURE_DIR) + u"/" + Ascii(file);
}

TEST(Fixtures, EntriesAndVersionNumberAsWorkedOut) {
  for (const auto& expected : testing::FixtureExpectations()) {
    SCOPED_TRACE(expected.file);
    RecordingBoxes boxes;
    ScopedMessageBoxes scoped(boxes);
    const FileVerList list = GetFileVer(FixturePath(expected.file));
    ASSERT_FALSE(list.IsEmpty());
    ASSERT_EQ(list.Entries().size(), 13u);
    for (int32_t i = 0; i < 13; ++i)
      EXPECT_EQ(Utf16ToUtf8(list[i]), Utf16ToUtf8(expected.entries[static_cast<size_t>(i)]))
          << "entry " << i;
    EXPECT_EQ(Utf16ToUtf8(GetFileVerNumber(FixturePath(expected.file), true, false)),
              Utf16ToUtf8(expected.versionNumber));
    EXPECT_TRUE(boxes.shown.empty());
  }
}

TEST(Fixtures, FilesWithoutBlockGiveTheEmptyResultSilently) {
  for (const char* file : testing::kFilesWithoutBlock) {
    SCOPED_TRACE(file);
    RecordingBoxes boxes;
    ScopedMessageBoxes scoped(boxes);
    const FileVerList list = GetFileVer(FixturePath(file));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_THROW(list.Entry(2), AppError);
    EXPECT_EQ(GetFileVerNumber(FixturePath(file), true, true), u"");
    EXPECT_TRUE(boxes.shown.empty());
    // Not silent: step 3 fails on the empty result and says so.
    EXPECT_EQ(GetFileVerNumber(FixturePath(file), false, false), u"");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0],
              u"Error 9 (Subscript out of range) in procedure GetFileVerNumber of Module mdlFile");
  }
}

TEST(Fixtures, IncludeBuildFalseDropsTheLastComponent) {
  RecordingBoxes boxes;
  ScopedMessageBoxes scoped(boxes);
  EXPECT_EQ(GetFileVerNumber(FixturePath("own.dll"), false, true), u"1.00");
  EXPECT_EQ(GetFileVerNumber(FixturePath("two_tables.dll"), false, true), u"2.5");
  // No "." to cut at: the value as read, with a box only when not silent.
  EXPECT_EQ(GetFileVerNumber(FixturePath("no_dot.dll"), false, true), u"000123");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(GetFileVerNumber(FixturePath("no_dot.dll"), false, false), u"000123");
  EXPECT_EQ(boxes.shown.size(), 1u);
}

}  // namespace
}  // namespace tindra
