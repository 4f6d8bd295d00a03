#include "fileutil/version_scan.h"

#include <string_view>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/msgbox.h"
#include "fileutil/pe_version.h"

namespace tindra {

namespace {

constexpr std::u16string_view kModule = u"mdlFile";
constexpr char16_t kTypeWord = 0x0001;  // stands directly in front of every key
constexpr std::u16string_view kStringFileInfo = u"StringFileInfo";

// The position of the type word that stands in front of `key`, at or after `from`.
size_t FindKey(std::u16string_view units, std::u16string_view key, size_t from = 0) {
  std::u16string pattern(1, kTypeWord);
  pattern += key;
  return units.find(pattern, from);
}

// The text from `start` up to, not including, the next NUL. A run that reaches the
// end of the block without one is a damaged block: error 5, as taking a negative
// length would be.
std::u16string TextUpToNul(std::u16string_view units, size_t start) {
  const size_t end = start < units.size() ? units.find(u'\0', start) : std::u16string_view::npos;
  if (end == std::u16string_view::npos) Raise(kErrInvalidCall);
  return std::u16string(units.substr(start, end - start));
}

// An entry stored with no value at all: its value-length word is 0 and its own
// length ends it before `valueStart`. Without this check the value would be read
// from the header of the entry that follows.
bool HasNoValue(std::u16string_view units, size_t typeWord, size_t valueStart) {
  if (typeWord < 2 || units[typeWord - 1] != 0) return false;
  const size_t entryEnd = typeWord - 2 + units[typeWord - 2] / 2;
  return entryEnd <= valueStart;
}

std::vector<std::u16string> SplitFields() {
  std::vector<std::u16string> names;
  std::u16string_view rest = kFileVerFields;
  for (;;) {
    const size_t semi = rest.find(u';');
    names.emplace_back(rest.substr(0, semi));
    if (semi == std::u16string_view::npos) break;
    rest.remove_prefix(semi + 1);
  }
  return names;
}

// ReadVersionStrings over the block's code units.
VersionStrings StringsOfUnits(std::u16string_view units) {
  std::vector<std::u16string> names = SplitFields();
  names.pop_back();  // Language is not a string of the block
  VersionStrings strings;
  for (const std::u16string& name : names) {
    const size_t at = FindKey(units, name);
    if (at == std::u16string::npos) continue;
    // P is just past the key: a key of odd length is followed by its NUL and one
    // alignment unit, one of even length by its NUL alone.
    const size_t p = at + 1 + name.size();
    size_t start = p;
    if (p + 1 < units.size() && units[p + 1] == u'\0')
      start = p + 2;
    else if (p < units.size() && units[p] == u'\0')
      start = p + 1;
    VersionValue value;
    if (!HasNoValue(units, at, start)) {
      const size_t end =
          start < units.size() ? units.find(u'\0', start) : std::u16string_view::npos;
      if (end == std::u16string::npos) {
        value.damaged = true;
      } else {
        value.text = std::u16string(units.substr(start, end - start));
      }
    }
    strings.emplace(name, std::move(value));
  }
  return strings;
}

}  // namespace

std::u16string BlockCodeUnits(std::span<const uint8_t> block) {
  std::u16string units(block.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(block[2 * i] | (block[2 * i + 1] << 8));
  return units;
}

VersionStrings ReadVersionStrings(std::span<const uint8_t> block) {
  return StringsOfUnits(BlockCodeUnits(block));
}

std::optional<VersionStrings> VersionStringsOfImage(std::span<const uint8_t> image) {
  const std::optional<std::vector<uint8_t>> resource = ReadPeVersionResource(image);
  if (!resource) return std::nullopt;
  return ReadVersionStrings(*resource);
}

FileVerList ScanVersionBlock(std::span<const uint8_t> block) {
  const std::u16string units = BlockCodeUnits(block);
  const VersionStrings strings = StringsOfUnits(units);
  // Every entry starts as its bare name; a step that fails leaves it so.
  std::vector<std::u16string> entries = SplitFields();
  const size_t languageIndex = entries.size() - 1;

  for (size_t i = 0; i < languageIndex; ++i) {
    const std::u16string& name = entries[i];
    const auto it = strings.find(name);
    if (it == strings.end()) {
      entries[i] = name + u": Not specified";
      continue;
    }
    // A damaged value is error 5, as taking a negative length would be.
    ReportAndContinue(u"GetFileVer", kModule, [&] {
      if (it->second.damaged) Raise(kErrInvalidCall);
      entries[i] = name + u": " + it->second.text;
    });
  }

  ReportAndContinue(u"GetFileVer", kModule, [&] {
    const size_t section = FindKey(units, kStringFileInfo);
    if (section == std::u16string::npos) return;
    // The first string table's header carries the next type word; its key follows.
    // A section without any table has no language to name.
    std::u16string key;
    const size_t table = units.find(kTypeWord, section + 1 + kStringFileInfo.size());
    if (table != std::u16string::npos) key = TextUpToNul(units, table + 1);
    entries[languageIndex] = entries[languageIndex] + u": " + GetLangName(key);
  });

  return FileVerList(std::move(entries));
}

}  // namespace tindra
