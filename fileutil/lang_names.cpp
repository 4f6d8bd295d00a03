#include <array>
#include <string_view>

#include "common/text.h"
#include "fileutil/modFile.h"

namespace tindra {

namespace {

struct LangRow {
  std::u16string_view key;
  std::u16string_view name;
};

// Windows language identifiers and their English names, in the order the program
// tests them. The names are the program's own, spelling included.
constexpr std::array<LangRow, 116> kLangNames{{
    {u"0436", u"Afrikaans"},
    {u"041C", u"Albanian"},
    {u"3801", u"Arabic - U.A.E."},
    {u"3C01", u"Arabic - Bahrain"},
    {u"1401", u"Arabic - Algeria"},
    {u"0C01", u"Arabic - Egypt"},
    {u"0801", u"Arabic - Iraq"},
    {u"2C01", u"Arabic - Jordan"},
    {u"3401", u"Arabic - Kuwait"},
    {u"3001", u"Arabic - Lebanon"},
    {u"1001", u"Arabic - Libya"},
    {u"1801", u"Arabic - Morocco"},
    {u"2001", u"Arabic - Oman"},
    {u"4001", u"Arabic - Qatar"},
    {u"0401", u"Arabic - Saudia Arabia"},
    {u"2801", u"Arabic - Syria"},
    {u"1C01", u"Arabic - Tunisia"},
    {u"2401", u"Arabic - Yemen"},
    {u"042D", u"Basque"},
    {u"0423", u"Belarusian"},
    {u"0402", u"Bulgarian"},
    {u"0403", u"Catalan"},
    {u"0804", u"Chinese - PRC"},
    {u"0C04", u"Chinese - Hong Kong S.A.R."},
    {u"1004", u"Chinese - Singapore"},
    {u"0404", u"Chinese - Taiwan"},
    {u"041A", u"Croatian"},
    {u"0405", u"Czech"},
    {u"0406", u"Danish"},
    {u"0413", u"Dutch"},
    {u"0813", u"Dutch - Belgium"},
    {u"0C09", u"English - Australia"},
    {u"2809", u"English - Belize"},
    {u"1009", u"English - Canada"},
    {u"1809", u"English - Ireland"},
    {u"2009", u"English - Jamaica"},
    {u"1409", u"English - New Zealand"},
    {u"1C09", u"English - South Africa"},
    {u"2C09", u"English - Trinidad"},
    {u"0809", u"English - United Kingdom"},
    {u"0409", u"English - United States"},
    {u"0425", u"Estonian"},
    {u"0429", u"Farsi"},
    {u"040B", u"Finnish"},
    {u"0438", u"Faeroese"},
    {u"040C", u"French - Standard"},
    {u"080C", u"French - Belgium"},
    {u"0C0C", u"French - Canada"},
    {u"140C", u"French - Luxembourg"},
    {u"100C", u"French - Switzerland"},
    {u"043C", u"Gaelic - Scotland"},
    {u"0407", u"German - Standard"},
    {u"0C07", u"German - Austrian"},
    {u"1407", u"German - Lichtenstein"},
    {u"1007", u"German - Luxembourg"},
    {u"0807", u"German - Switzerland"},
    {u"0408", u"Greek"},
    {u"040D", u"Hebrew"},
    {u"0439", u"Hindi"},
    {u"040E", u"Hungarian"},
    {u"040F", u"Icelandic"},
    {u"0421", u"Indonesian"},
    {u"0410", u"Italian - Standard"},
    {u"0810", u"Italian - Switzerland"},
    {u"0411", u"Japanese"},
    {u"0412", u"Korean"},
    {u"0426", u"Latvian"},
    {u"0427", u"Lithuanian"},
    {u"042F", u"Macedonian"},
    {u"043E", u"Malay - Malaysia"},
    {u"043A", u"Maltese"},
    {u"0414", u"Norwegian - Bokmål"},
    {u"0415", u"Polish"},
    {u"0816", u"Portuguese - Standard"},
    {u"0416", u"Portuguese - Brazil"},
    {u"0417", u"Raeto-Romance"},
    {u"0418", u"Romanian"},
    {u"0818", u"Romanian - Moldova"},
    {u"0419", u"Russian"},
    {u"0819", u"Russian - Moldova"},
    {u"0C1A", u"Serbian - Cyrillic"},
    {u"0432", u"Setsuana"},
    {u"0424", u"Slovenian"},
    {u"041B", u"Slovak"},
    {u"042E", u"Sorbian"},
    {u"040A", u"Spanish - Standard"},
    {u"2C0A", u"Spanish - Argentina"},
    {u"400A", u"Spanish - Bolivia"},
    {u"340A", u"Spanish - Chile"},
    {u"240A", u"Spanish - Columbia"},
    {u"140A", u"Spanish - Costa Rica"},
    {u"1C0A", u"Spanish - Dominican Republic"},
    {u"300A", u"Spanish - Ecuador"},
    {u"100A", u"Spanish - Guatemala"},
    {u"480A", u"Spanish - Honduras"},
    {u"080A", u"Spanish - Mexico"},
    {u"4C0A", u"Spanish - Nicaragua"},
    {u"180A", u"Spanish - Panama"},
    {u"280A", u"Spanish - Peru"},
    {u"500A", u"Spanish - Puerto Rico"},
    {u"3C0A", u"Spanish - Paraguay"},
    {u"440A", u"Spanish - El Salvador"},
    {u"380A", u"Spanish - Uruguay"},
    {u"200A", u"Spanish - Venezuela"},
    {u"0430", u"Sutu"},
    {u"041D", u"Swedish"},
    {u"081D", u"Swedish - Finland"},
    {u"041E", u"Thai"},
    {u"041F", u"Turkish"},
    {u"0431", u"Tsonga"},
    {u"0422", u"Ukranian"},
    {u"0420", u"Urdu - Pakistan"},
    {u"042A", u"Vietnamese"},
    {u"0434", u"Xhosa"},
    {u"043D", u"Yiddish"},
    {u"0435", u"Zulu"},
}};

}  // namespace

std::u16string GetLangName(const std::u16string& translation) {
  // The first half of a string-table key is the language; the code page is ignored.
  const std::u16string id = AsciiUpper(std::u16string_view(translation).substr(0, 4));
  for (const LangRow& row : kLangNames)
    if (row.key == id) return std::u16string(row.name);
  return {};
}

}  // namespace tindra
