#include "fileutil/pe_headers.h"

#include <array>
#include <cstring>

namespace tindra {

bool SpanReader::Read(uint64_t offset, void* out, size_t n) const {
  if (offset > data_.size() || n > data_.size() - offset) return false;
  if (n) std::memcpy(out, data_.data() + offset, n);
  return true;
}

std::optional<PeHeaders> ReadPeHeaders(const ByteReader& file) {
  std::array<uint8_t, 64> dos{};
  if (!file.Read(0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z') {
    return std::nullopt;
  }
  const uint64_t pe = Le32(&dos[0x3C]);
  // The signature and the file header (20 bytes).
  std::array<uint8_t, 24> nt{};
  if (!file.Read(pe, nt.data(), nt.size())) return std::nullopt;
  if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return std::nullopt;
  PeHeaders headers;
  headers.sectionCount = Le16(&nt[6]);
  headers.optionalHeaderSize = Le16(&nt[20]);
  headers.characteristics = Le16(&nt[22]);
  headers.optionalHeader = pe + nt.size();
  std::array<uint8_t, 2> magic{};
  if (!file.Read(headers.optionalHeader, magic.data(), magic.size())) return std::nullopt;
  headers.magic = Le16(magic.data());
  return headers;
}

}  // namespace tindra
