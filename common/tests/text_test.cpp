#include "common/text.h"

#include <gtest/gtest.h>

#include "common/forms.h"

using namespace tindra;

TEST(Utf, RoundTripsHangulAndAstralCharacters) {
  std::u16string s = u"사용자 \U0001F514 end";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  EXPECT_EQ(Utf8ToUtf16("\xEC\x82\xAC"), u"사");
}

TEST(Utf, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
}

TEST(Text, TrimSpacesRemovesOnlyU0020) {
  EXPECT_EQ(TrimSpaces(u"  27  "), u"27");
  EXPECT_EQ(TrimSpaces(u"   "), u"");
  EXPECT_EQ(TrimSpaces(u" \t27\r\n "), u"\t27\r\n");
  EXPECT_EQ(AsciiUpper(u"frmTindra 사"), u"FRMTINDRA 사");
}

namespace {
// A form that, like a real popup, leaves the registry when unloaded; one of them
// also unloads a sibling to check that the walk tolerates a shrinking list.
struct FakeForm : Form {
  FakeForm(FormRegistry& r, std::u16string n) : reg(r), name(std::move(n)) { reg.Add(this); }
  std::u16string FormName() const override { return name; }
  void Unload() override {
    ++unloads;
    reg.Remove(this);
    if (alsoUnload && reg.Contains(alsoUnload)) alsoUnload->Unload();
  }
  FormRegistry& reg;
  std::u16string name;
  int unloads = 0;
  FakeForm* alsoUnload = nullptr;
};
}  // namespace

TEST(FormRegistry, UnloadAllExceptReachesEveryOtherFormOnce) {
  FormRegistry reg;
  FakeForm main(reg, u"FrmMain");
  FakeForm a(reg, u"FrmTindra"), b(reg, u"FrmTindra"), c(reg, u"FrmTindra");
  FakeForm sameName(reg, u"frmMAIN");
  a.alsoUnload = &c;
  reg.UnloadAllExcept(u"FrmMain");
  EXPECT_EQ(a.unloads, 1);
  EXPECT_EQ(b.unloads, 1);
  EXPECT_EQ(c.unloads, 1);
  EXPECT_EQ(main.unloads, 0);
  EXPECT_EQ(sameName.unloads, 0);
  EXPECT_EQ(reg.size(), 2u);
}
