#pragma once
// What GetFileVer and GetFileVerNumber(file, true, true) give for each fixture in
// fixtures/, worked out by hand from the .rc files. Checked in both builds: natively
// through the PE reader, on Windows through version.dll.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tindra::testing {

struct FixtureExpectation {
  const char* file;  // in the fixture folder
  std::array<std::u16string_view, 13> entries;
  std::u16string_view versionNumber;
};

inline const std::vector<FixtureExpectation>& FixtureExpectations() {
  static const std::vector<FixtureExpectation> all = {
      {"own.dll",
       {u"CompanyName: Tindra", u"FileDescription: Not specified", u"FileVersion: 1.00.0027",
        u"InternalName: Tindra", u"LegalCopyright: Not specified", u"OriginalFilename: Tindra.exe",
        u"ProductName: Tindra", u"ProductVersion: 1.00.0027", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: Korean"},
       u"1.00.27"},
      // Each field from the first table that holds it; the language from the first.
      {"two_tables.dll",
       {u"CompanyName: First Company", u"FileDescription: Described in the first table",
        u"FileVersion: 2.5.0010", u"InternalName: Not specified",
        u"LegalCopyright: Only in the second table", u"OriginalFilename: Not specified",
        u"ProductName: Not specified", u"ProductVersion: Not specified", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: English - United States"},
       u"2.5.10"},
      {"lower_key.dll",
       {u"CompanyName: Not specified", u"FileDescription: Not specified", u"FileVersion: 3.1.0400",
        u"InternalName: Not specified", u"LegalCopyright: Not specified",
        u"OriginalFilename: Not specified", u"ProductName: 소문자 키",
        u"ProductVersion: Not specified", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: Korean"},
       u"3.1.400"},
      // 0445 has no name: "Language: " with one trailing space.
      {"lang_0445.dll",
       {u"CompanyName: Unlisted Language Company", u"FileDescription: Not specified",
        u"FileVersion: 4.0.0001", u"InternalName: Not specified", u"LegalCopyright: Not specified",
        u"OriginalFilename: Not specified", u"ProductName: Not specified",
        u"ProductVersion: Not specified", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: "},
       u"4.0.1"},
      {"no_fileversion.dll",
       {u"CompanyName: No Version Company", u"FileDescription: Not specified",
        u"FileVersion: Not specified", u"InternalName: Not specified",
        u"LegalCopyright: Not specified", u"OriginalFilename: Not specified",
        u"ProductName: Not specified", u"ProductVersion: 9.9.9", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: English - United States"},
       u"Not specified"},
      {"no_dot.dll",
       {u"CompanyName: Not specified", u"FileDescription: Not specified", u"FileVersion: 000123",
        u"InternalName: Not specified", u"LegalCopyright: Not specified",
        u"OriginalFilename: Not specified", u"ProductName: Not specified",
        u"ProductVersion: Not specified", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: Not specified", u"Language: Korean"},
       u"123"},
      // Empty values after keys of odd (CompanyName, FileDescription, FileVersion,
      // LegalTrademarks) and even (Comments) length; the empty FileVersion gives an
      // empty number.
      {"empty_values.dll",
       {u"CompanyName: ", u"FileDescription: ", u"FileVersion: ", u"InternalName: Not specified",
        u"LegalCopyright: Not specified", u"OriginalFilename: Not specified",
        u"ProductName: Not specified", u"ProductVersion: 5.6.0007", u"Comments: ",
        u"LegalTrademarks: ", u"PrivateBuild: Not specified", u"SpecialBuild: S",
        u"Language: English - United States"},
       u""},
      // The last value runs to the end of the resource. version.dll's buffer is twice
      // the resource plus 4 bytes, with "FE2X" right after the block: the value takes
      // those 4 bytes as the code units 0x4546 0x5832 and ends at the zeros after them.
      {"crafted.dll",
       {u"CompanyName: Crafted", u"FileDescription: Not specified", u"FileVersion: 7.0.0100",
        u"InternalName: Not specified", u"LegalCopyright: Not specified",
        u"OriginalFilename: Not specified", u"ProductName: Not specified",
        u"ProductVersion: Not specified", u"Comments: Not specified",
        u"LegalTrademarks: Not specified", u"PrivateBuild: Not specified",
        u"SpecialBuild: abc\u4546\u5832", u"Language: Korean"},
       u"7.0.100"},
  };
  return all;
}

// Files with no readable block: the empty result and an empty version number.
inline constexpr const char* kFilesWithoutBlock[] = {"no_version.dll", "not_pe.txt",
                                                     "does_not_exist.dll"};

}  // namespace tindra::testing
