#pragma once
// Reading a version number such as "1.00.0028": its parts around the last ".", and
// the build number it ends with, from a text, a version block's strings or a file's
// own block. GetFileVerNumber, the update's revision of a program and the running
// program's own revision all read it here, each with its own rules on top.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fileutil/version_scan.h"

namespace tindra {

// A version text split at its last ".": "1.00.0028" -> front "1.00", build "0028".
// Without a "." there is no front and the whole text is the build.
struct VersionParts {
  std::optional<std::u16string_view> front;
  std::u16string_view build;
};
VersionParts SplitVersion(std::u16string_view version);

// The number a version text's build part is: decimal digits only, leading zeros
// aside, at most 9 digits after them ("1.00.28" and "1.00.0028" -> 28, "0027" -> 27).
// Nothing when that part is no such number ("1.00.", "Not specified").
std::optional<int32_t> BuildNumberOf(std::u16string_view version);
// The build number of a block's FileVersion; nothing when it has none or a damaged
// one.
std::optional<int32_t> BuildNumberOf(const VersionStrings& strings);
// The build number of the FileVersion in `fileName`'s own block, read from the source
// in use (ReadVersionBlock); nothing when there is none. Reports and shows nothing.
std::optional<int32_t> FileBuildNumber(const std::u16string& fileName);

}  // namespace tindra
