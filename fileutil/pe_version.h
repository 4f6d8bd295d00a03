#pragma once
// A portable reader of the version resource (RT_VERSION) stored in a PE file, and a
// VersionBlockSource built on it that hands over the same buffer version.dll does.
// Any input is safe: a truncated or damaged file, bogus offsets or sizes give no
// block; every read is checked against the data.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fileutil/modFile.h"
#include "fileutil/pe_headers.h"

namespace tindra {

// The largest version resource taken; real ones stay far below 64 KiB.
inline constexpr uint32_t kMaxVersionResource = 16u * 1024 * 1024;

// The raw data of the file's version resource: type 16, name 1 (the one the
// platform's version functions use), in the language version.dll takes on a Korean
// system (neutral, Korean, US English, else the first). Empty when there is none or
// the file is not a readable PE image (16-bit NE files included).
std::optional<std::vector<uint8_t>> ReadPeVersionResource(const ByteReader& file);
std::optional<std::vector<uint8_t>> ReadPeVersionResource(std::span<const uint8_t> image);
std::optional<std::vector<uint8_t>> ReadPeVersionResourceFromFile(const std::u16string& fileName);

// The buffer version.dll asks for and fills from a resource: twice the resource's
// size plus 4 bytes (room it keeps for text conversions); the resource at its start,
// and the 4 bytes "FE2X" right after the block's own length when they fit.
uint32_t VersionInfoBufferSize(size_t resourceSize);
void FillVersionInfoBuffer(std::span<const uint8_t> resource, std::span<uint8_t> buffer);

// A VersionBlockSource that reads the file's resource itself (UTF-8 file names on
// Linux).
class PeVersionBlockSource : public VersionBlockSource {
 public:
  uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) override;
  bool GetInfo(const std::u16string& fileName, uint32_t handle, uint32_t size,
               void* buffer) override;
};

}  // namespace tindra
