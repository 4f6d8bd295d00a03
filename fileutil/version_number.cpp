#include "fileutil/version_number.h"

#include "common/text.h"
#include "fileutil/modFile.h"

namespace tindra {

VersionParts SplitVersion(std::u16string_view version) {
  const size_t dot = version.rfind(u'.');
  if (dot == std::u16string_view::npos) return {std::nullopt, version};
  return {version.substr(0, dot), version.substr(dot + 1)};
}

std::optional<int32_t> BuildNumberOf(std::u16string_view version) {
  std::u16string_view build = SplitVersion(version).build;
  // Leading zeros may stand in front of the number ("0028").
  while (build.size() > 1 && build.front() == u'0') build.remove_prefix(1);
  return DecimalDigits(build, 9);
}

std::optional<int32_t> BuildNumberOf(const VersionStrings& strings) {
  const auto it = strings.find(u"FileVersion");
  if (it == strings.end() || it->second.damaged) return std::nullopt;
  return BuildNumberOf(it->second.text);
}

std::optional<int32_t> FileBuildNumber(const std::u16string& fileName) {
  const std::optional<std::vector<uint8_t>> block = ReadVersionBlock(fileName);
  if (!block) return std::nullopt;
  return BuildNumberOf(ReadVersionStrings(*block));
}

}  // namespace tindra
