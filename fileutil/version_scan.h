#pragma once
// The scan behind GetFileVer, open to tests and the fuzzer: the raw block, as the
// platform hands it over, turned into the 13 entries.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fileutil/modFile.h"

namespace tindra {

// The block as 16-bit little-endian code units; a trailing odd byte is dropped.
std::u16string BlockCodeUnits(std::span<const uint8_t> block);

// Steps 4 to 7 of GetFileVer over a fetched block: always 13 entries. Every fault
// (a value or table key with no NUL before the end of the block) is reported as
// an error of GetFileVer in mdlFile, and the scan goes on.
FileVerList ScanVersionBlock(std::span<const uint8_t> block);

}  // namespace tindra
