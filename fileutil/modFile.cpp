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
#include "fileutil/version_number.h"
#include "fileutil/version_scan.h"

namespace tindra {

namespace {

constexpr std::u16string_view kModule = u"mdlFile";

VersionBlockSource* g_source = nullptr;

}  // namespace

FileVerList::FileVerList(std::vector<std::u16string> entries) : entries_(std::move(entries)) {
  if (entries_.size() != static_cast<size_t>(kCount)) Raise(kErrSubscript);
}

const std::u16string& FileVerList::Entry(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) Raise(kErrSubscript);
  return entries_[static_cast<size_t>(index)];
}

std::optional<std::vector<uint8_t>> ReadVersionBlock(const std::u16string& fileName) {
  VersionBlockSource& source = CurrentVersionBlockSource();
  uint32_t handle = 0;
  const uint32_t size = source.GetInfoSize(fileName, handle);
  if (size == 0) return std::nullopt;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // a size that cannot be reserved reads as no block
  } catch (const std::length_error&) {
    return std::nullopt;
  }
  if (!source.GetInfo(fileName, handle, size, buffer.data())) return std::nullopt;
  return buffer;
}

FileVerList GetFileVer(const std::u16string& fileName) {
  const std::optional<std::vector<uint8_t>> block = ReadVersionBlock(fileName);
  if (!block) return {};
  return ScanVersionBlock(*block);
}

std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild, bool silent) {
  std::u16string result;
  try {
    const FileVerList list = GetFileVer(fileName);
    const std::u16string& entry = list.Entry(2);  // FileVersion; error 9 on the empty result
    const size_t space = entry.find(u' ');
    result = space == std::u16string::npos ? entry : entry.substr(space + 1);
    const VersionParts parts = SplitVersion(result);
    // D: the 1-based position of the last ".", 0 when there is none, held in 16 bits.
    const int16_t d =
        !parts.front
            ? int16_t{0}
            : ToInt16(static_cast<int32_t>(std::min<size_t>(parts.front->size() + 1, INT32_MAX)));
    if (includeBuild) {
      result = result.substr(0, static_cast<size_t>(d)) + FormatZero(parts.build);
    } else {
      if (d == 0) Raise(kErrInvalidCall);  // no "." to cut at
      result = std::u16string(*parts.front);
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
