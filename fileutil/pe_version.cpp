#include "fileutil/pe_version.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace tindra {

namespace {

constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVersionInfoId = 1;
// The languages version.dll tries, in order, on the Korean system the program runs
// on: neutral, the user's language, its neutral sublanguage, US English; then the
// first one there is.
constexpr uint16_t kPreferredLanguages[] = {0x0000, 0x0412, 0x0012, 0x0409};
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kResourceDirectoryIndex = 2;
// The Windows loader refuses images with more sections than this.
constexpr uint16_t kMaxSections = 96;
constexpr char kSignature[4] = {'F', 'E', '2', 'X'};

class FileReader : public ByteReader {
 public:
  explicit FileReader(const std::filesystem::path& path) : in_(path, std::ios::binary) {
    if (!in_) return;
    in_.seekg(0, std::ios::end);
    const auto end = in_.tellg();
    if (end > 0) size_ = static_cast<uint64_t>(end);
  }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, size_t n) const override {
    if (offset > size_ || n > size_ - offset) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in_.gcount()) == n;
  }

 private:
  mutable std::ifstream in_;
  uint64_t size_ = 0;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawOffset;
};

class PeImage {
 public:
  explicit PeImage(const ByteReader& file) : file_(file) {}

  // Reads the headers; false when this is not a PE image we can walk.
  bool Open() {
    const std::optional<PeHeaders> headers = ReadPeHeaders(file_);
    if (!headers || headers->sectionCount > kMaxSections) return false;
    const uint64_t optional = headers->optionalHeader;
    const uint16_t optionalSize = headers->optionalHeaderSize;
    uint32_t countOffset;
    if (headers->magic == kPe32Magic)
      countOffset = 92;
    else if (headers->magic == kPe32PlusMagic)
      countOffset = 108;
    else
      return false;
    const uint32_t dirOffset = countOffset + 4 + kResourceDirectoryIndex * 8;
    if (optionalSize < dirOffset + 8) return false;
    std::array<uint8_t, 4> count{};
    if (!file_.Read(optional + countOffset, count.data(), count.size())) return false;
    if (Le32(count.data()) <= kResourceDirectoryIndex) return false;
    std::array<uint8_t, 8> dir{};
    if (!file_.Read(optional + dirOffset, dir.data(), dir.size())) return false;
    resourceRva_ = Le32(&dir[0]);
    if (resourceRva_ == 0) return false;

    const uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < headers->sectionCount; ++i) {
      std::array<uint8_t, 40> header{};
      if (!file_.Read(table + uint64_t{i} * header.size(), header.data(), header.size()))
        return false;
      sections_.push_back({Le32(&header[12]), Le32(&header[16]), Le32(&header[20])});
    }
    return true;
  }

  // Reads n bytes at a relative virtual address; they must lie in one section's
  // file data.
  bool ReadRva(uint64_t rva, void* out, size_t n) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const uint64_t within = rva - s.virtualAddress;
      if (within >= s.rawSize || n > s.rawSize - within) continue;
      return file_.Read(uint64_t{s.rawOffset} + within, out, n);
    }
    return false;
  }

  // Reads a resource directory at `offset` from the start of the resource section.
  struct Entry {
    uint32_t name;
    uint32_t target;
  };
  bool ReadDirectory(uint32_t offset, std::vector<Entry>& entries) const {
    std::array<uint8_t, 16> header{};
    const uint64_t at = uint64_t{resourceRva_} + offset;
    if (!ReadRva(at, header.data(), header.size())) return false;
    const uint32_t count = uint32_t{Le16(&header[12])} + Le16(&header[14]);
    std::vector<uint8_t> raw(size_t{count} * 8);
    if (!ReadRva(at + header.size(), raw.data(), raw.size())) return false;
    entries.clear();
    for (uint32_t i = 0; i < count; ++i)
      entries.push_back({Le32(&raw[i * 8]), Le32(&raw[i * 8 + 4])});
    return true;
  }

  // The subdirectory an entry points to; false when it points to data.
  static bool SubdirectoryOf(const Entry& e, uint32_t& offset) {
    if (!(e.target & kHighBit)) return false;
    offset = e.target & ~kHighBit;
    return true;
  }

  std::optional<std::vector<uint8_t>> VersionResource() const {
    // Three fixed levels (type, name, language): a directory that points back at
    // itself or an ancestor cannot make this loop.
    std::vector<Entry> entries;
    uint32_t offset = 0;
    if (!ReadDirectory(0, entries)) return std::nullopt;
    auto type = std::find_if(entries.begin(), entries.end(),
                             [](const Entry& e) { return e.name == kRtVersion; });
    if (type == entries.end() || !SubdirectoryOf(*type, offset)) return std::nullopt;

    if (!ReadDirectory(offset, entries)) return std::nullopt;
    auto name = std::find_if(entries.begin(), entries.end(),
                             [](const Entry& e) { return e.name == kVersionInfoId; });
    if (name == entries.end() || !SubdirectoryOf(*name, offset)) return std::nullopt;

    if (!ReadDirectory(offset, entries) || entries.empty()) return std::nullopt;
    auto lang = entries.end();
    for (uint16_t preferred : kPreferredLanguages) {
      lang = std::find_if(entries.begin(), entries.end(),
                          [&](const Entry& e) { return e.name == preferred; });
      if (lang != entries.end()) break;
    }
    if (lang == entries.end())
      lang = std::find_if(entries.begin(), entries.end(),
                          [](const Entry& e) { return !(e.target & kHighBit); });
    if (lang == entries.end() || lang->target & kHighBit) return std::nullopt;

    std::array<uint8_t, 8> data{};
    if (!ReadRva(uint64_t{resourceRva_} + lang->target, data.data(), data.size()))
      return std::nullopt;
    const uint32_t dataRva = Le32(&data[0]);
    const uint32_t size = Le32(&data[4]);
    if (size > kMaxVersionResource) return std::nullopt;
    std::vector<uint8_t> resource(size);
    if (!ReadRva(dataRva, resource.data(), resource.size())) return std::nullopt;
    return resource;
  }

 private:
  const ByteReader& file_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

}  // namespace

std::optional<std::vector<uint8_t>> ReadPeVersionResource(const ByteReader& file) {
  try {
    PeImage image(file);
    if (!image.Open()) return std::nullopt;
    return image.VersionResource();
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<std::vector<uint8_t>> ReadPeVersionResource(std::span<const uint8_t> image) {
  return ReadPeVersionResource(SpanReader(image));
}

std::optional<std::vector<uint8_t>> ReadPeVersionResourceFromFile(const std::u16string& fileName) {
  if (fileName.empty() || fileName.find(u'\0') != std::u16string::npos) return std::nullopt;
  try {
    const std::filesystem::path path(fileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    FileReader file(path);
    return ReadPeVersionResource(file);
  } catch (const std::exception&) {
    return std::nullopt;  // a name the file system cannot take
  }
}

uint32_t VersionInfoBufferSize(size_t resourceSize) {
  return static_cast<uint32_t>(std::min<size_t>(resourceSize, kMaxVersionResource) * 2 + 4);
}

void FillVersionInfoBuffer(std::span<const uint8_t> resource, std::span<uint8_t> buffer) {
  const size_t copied = std::min(resource.size(), buffer.size());
  std::copy_n(resource.begin(), copied, buffer.begin());
  if (buffer.size() < 2) return;
  const size_t blockLength = Le16(buffer.data());
  if (buffer.size() >= blockLength + sizeof(kSignature))
    std::copy_n(kSignature, sizeof(kSignature), buffer.begin() + blockLength);
}

uint32_t PeVersionBlockSource::GetInfoSize(const std::u16string& fileName, uint32_t& handle) {
  handle = 0;
  const auto resource = ReadPeVersionResourceFromFile(fileName);
  return resource ? VersionInfoBufferSize(resource->size()) : 0;
}

bool PeVersionBlockSource::GetInfo(const std::u16string& fileName, uint32_t, uint32_t size,
                                   void* buffer) {
  const auto resource = ReadPeVersionResourceFromFile(fileName);
  if (!resource || buffer == nullptr) return false;
  FillVersionInfoBuffer(*resource, std::span<uint8_t>(static_cast<uint8_t*>(buffer), size));
  return true;
}

}  // namespace tindra
