#include <gtest/gtest.h>

#include <set>
#include <string>

#include "fileutil/modFile.h"

namespace tindra {
namespace {

TEST(GetLangName, SpotChecks) {
  EXPECT_EQ(GetLangName(u"041204B0"), u"Korean");
  EXPECT_EQ(GetLangName(u"041204b0"), u"Korean");
  EXPECT_EQ(GetLangName(u"040904E4"), u"English - United States");
  EXPECT_EQ(GetLangName(u"0809"), u"English - United Kingdom");
  EXPECT_EQ(GetLangName(u"0420"), u"Urdu - Pakistan");
  EXPECT_EQ(GetLangName(u"042A"), u"Vietnamese");
  EXPECT_EQ(GetLangName(u"042a04b0"), u"Vietnamese");
  EXPECT_EQ(GetLangName(u"0414"), u"Norwegian - Bokmål");
  // The program's own spellings.
  EXPECT_EQ(GetLangName(u"0401"), u"Arabic - Saudia Arabia");
  EXPECT_EQ(GetLangName(u"1407"), u"German - Lichtenstein");
  EXPECT_EQ(GetLangName(u"0c07"), u"German - Austrian");
  EXPECT_EQ(GetLangName(u"240A"), u"Spanish - Columbia");
  EXPECT_EQ(GetLangName(u"0432"), u"Setsuana");
  EXPECT_EQ(GetLangName(u"0422"), u"Ukranian");
  EXPECT_EQ(GetLangName(u"0438"), u"Faeroese");
  EXPECT_EQ(GetLangName(u"500A"), u"Spanish - Puerto Rico");
  EXPECT_EQ(GetLangName(u"0435"), u"Zulu");
}

TEST(GetLangName, NoNameForOtherTexts) {
  EXPECT_EQ(GetLangName(u"0445"), u"");
  EXPECT_EQ(GetLangName(u"044504B0"), u"");
  EXPECT_EQ(GetLangName(u""), u"");
  EXPECT_EQ(GetLangName(u"041"), u"");
  EXPECT_EQ(GetLangName(u" 0412"), u"");
  EXPECT_EQ(GetLangName(u"0\u0130"
                        u"12"),
            u"");  // only ASCII letters change case
  EXPECT_EQ(GetLangName(std::u16string(u"04\0"
                                       u"2",
                                       4)),
            u"");
}

TEST(GetLangName, TableHas116DistinctRowsOverAllIdentifiers) {
  // Every 4-digit identifier, in upper and lower case: 116 of them have a name, the
  // names all differ, and case does not matter.
  const char16_t hex[] = u"0123456789ABCDEF";
  const char16_t lower[] = u"0123456789abcdef";
  std::set<std::u16string> names;
  int named = 0;
  for (int id = 0; id < 0x10000; ++id) {
    std::u16string up, low;
    for (int shift = 12; shift >= 0; shift -= 4) {
      up += hex[(id >> shift) & 0xF];
      low += lower[(id >> shift) & 0xF];
    }
    const std::u16string name = GetLangName(up + u"04B0");
    ASSERT_EQ(GetLangName(low), name);
    if (name.empty()) continue;
    ++named;
    names.insert(name);
  }
  EXPECT_EQ(named, 116);
  EXPECT_EQ(names.size(), 116u);
}

}  // namespace
}  // namespace tindra
