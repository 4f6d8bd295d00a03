#include "fileutil/modFile.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/numeric.h"
#include "fileutil/pe_version.h"
#include "fileutil/version_scan.h"

namespace tindra {

namespace {

constexpr std::u16string_view kModule = u"mdlFile";
constexpr char16_t kTypeWord = 0x0001;  // stands directly in front of every key
constexpr std::u16string_view kStringFileInfo = u"StringFileInfo";

VersionBlockSource* g_source = nullptr;

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

FileVerList::FileVerList(std::vector<std::u16string> entries) : entries_(std::move(entries)) {
  if (entries_.size() != static_cast<size_t>(kCount)) Raise(kErrSubscript);
}

const std::u16string& FileVerList::Entry(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) Raise(kErrSubscript);
  return entries_[static_cast<size_t>(index)];
}

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

FileVerList GetFileVer(const std::u16string& fileName) {
  VersionBlockSource& source = CurrentVersionBlockSource();
  uint32_t handle = 0;
  const uint32_t size = source.GetInfoSize(fileName, handle);
  if (size == 0) return {};
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return {};  // a size that cannot be reserved reads as no block
  } catch (const std::length_error&) {
    return {};
  }
  if (!source.GetInfo(fileName, handle, size, buffer.data())) return {};
  return ScanVersionBlock(buffer);
}

std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild, bool silent) {
  std::u16string result;
  try {
    const FileVerList list = GetFileVer(fileName);
    const std::u16string& entry = list.Entry(2);  // FileVersion; error 9 on the empty result
    const size_t space = entry.find(u' ');
    result = space == std::u16string::npos ? entry : entry.substr(space + 1);
    // D: the 1-based position of the last ".", 0 when there is none, held in 16 bits.
    const size_t dot = result.rfind(u'.');
    const int16_t d = dot == std::u16string::npos
                          ? int16_t{0}
                          : ToInt16(static_cast<int32_t>(std::min<size_t>(dot + 1, INT32_MAX)));
    const size_t keep = static_cast<size_t>(d);
    if (includeBuild) {
      result = result.substr(0, keep) + FormatZero(std::u16string_view(result).substr(keep));
    } else {
      if (d == 0) Raise(kErrInvalidCall);  // no "." to cut at
      result = result.substr(0, keep - 1);
    }
  } catch (...) {
    if (!silent) ReportError(CurrentError(), u"GetFileVerNumber", kModule);
  }
  return result;
}

VersionBlockSource& CurrentVersionBlockSource() {
  return g_source ? *g_source : DefaultVersionBlockSource();
}

ScopedVersionBlockSource::ScopedVersionBlockSource(VersionBlockSource& source)
    : previous_(g_source) {
  g_source = &source;
}
ScopedVersionBlockSource::~ScopedVersionBlockSource() { g_source = previous_; }

}  // namespace tindra
