#pragma once
// The scan behind GetFileVer, open to tests and the fuzzer: the raw block, as the
// platform hands it over, turned into the 13 entries.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "fileutil/modFile.h"

namespace tindra {

// The block as 16-bit little-endian code units; a trailing odd byte is dropped.
std::u16string BlockCodeUnits(std::span<const uint8_t> block);

// One string of a block: its value, or `damaged` when the value runs to the end of
// the block without a NUL.
struct VersionValue {
  std::u16string text;
  bool damaged = false;
  bool operator==(const VersionValue&) const = default;
};
// The strings of a block for the field names of kFileVerFields (Language aside), key
// to value, read as GetFileVer reads them: each from the first entry with its key. A
// key the block does not hold is not in the map. Reports nothing and shows nothing,
// so the trust check reads it directly.
using VersionStrings = std::map<std::u16string, VersionValue>;
VersionStrings ReadVersionStrings(std::span<const uint8_t> block);

// The strings of the version resource of a PE image in memory; nothing when it has
// none.
std::optional<VersionStrings> VersionStringsOfImage(std::span<const uint8_t> image);

// Steps 4 to 7 of GetFileVer over a fetched block: always 13 entries. Every fault
// (a value or table key with no NUL before the end of the block) is reported as
// an error of GetFileVer in mdlFile, and the scan goes on.
FileVerList ScanVersionBlock(std::span<const uint8_t> block);

}  // namespace tindra
