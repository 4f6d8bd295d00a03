#pragma once
// The headers of a PE image, read from any bytes: a truncated or damaged file, or one
// that is no image at all, gives none; every read is checked against the data. Both
// the version reader (fileutil/pe_version.h) and the update's check that a download
// is a program read them here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tindra {

// Random-access bytes: a file on disk or an image in memory.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual uint64_t Size() const = 0;
  // Fills out[0..n) from `offset`; false when that range is not all inside the data
  // or cannot be read.
  virtual bool Read(uint64_t offset, void* out, size_t n) const = 0;
};

// Bytes in memory.
class SpanReader : public ByteReader {
 public:
  explicit SpanReader(std::span<const uint8_t> data) : data_(data) {}
  uint64_t Size() const override { return data_.size(); }
  bool Read(uint64_t offset, void* out, size_t n) const override;

 private:
  std::span<const uint8_t> data_;
};

// The little-endian numbers at `p`.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The optional header's magic of a 32-bit and of a 64-bit image.
inline constexpr uint16_t kPe32Magic = 0x10b;
inline constexpr uint16_t kPe32PlusMagic = 0x20b;

// What the file header says, and where the optional header starts.
struct PeHeaders {
  uint16_t sectionCount = 0;
  uint16_t optionalHeaderSize = 0;
  uint16_t characteristics = 0;
  uint64_t optionalHeader = 0;  // its offset in the file
  uint16_t magic = 0;           // the optional header's first field
};
// The headers of an image that starts with "MZ" and has "PE\0\0" where its DOS header
// points, with the file header and the optional header's magic inside the data.
// Nothing for anything else; the values are not judged.
std::optional<PeHeaders> ReadPeHeaders(const ByteReader& file);

}  // namespace tindra
