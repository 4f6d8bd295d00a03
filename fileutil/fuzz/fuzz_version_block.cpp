// libFuzzer target: any bytes as a file (through the PE reader and the buffer
// version.dll would hand over) and as a raw block, through GetFileVer and
// GetFileVerNumber. Checks that each result keeps its shape.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/msgbox.h"
#include "fileutil/modFile.h"
#include "fileutil/pe_version.h"
#include "fileutil/version_scan.h"

namespace {

using namespace tindra;

// The fuzz input stands for the file on disk.
class InputAsFile : public VersionBlockSource {
 public:
  explicit InputAsFile(std::span<const uint8_t> input) : input_(input) {}
  uint32_t GetInfoSize(const std::u16string&, uint32_t& handle) override {
    handle = 0;
    const auto resource = ReadPeVersionResource(input_);
    return resource ? VersionInfoBufferSize(resource->size()) : 0;
  }
  bool GetInfo(const std::u16string&, uint32_t, uint32_t size, void* buffer) override {
    const auto resource = ReadPeVersionResource(input_);
    if (!resource) return false;
    FillVersionInfoBuffer(*resource, std::span<uint8_t>(static_cast<uint8_t*>(buffer), size));
    return true;
  }

 private:
  std::span<const uint8_t> input_;
};

void CheckShape(const FileVerList& list) {
  if (list.IsEmpty()) return;
  std::u16string_view names = kFileVerFields;
  for (int32_t i = 0; i < FileVerList::kCount; ++i) {
    const size_t semi = names.find(u';');
    const std::u16string_view name = names.substr(0, semi);
    // Every entry is its field name, bare or followed by ": ".
    const std::u16string& entry = list[i];
    if (entry.compare(0, name.size(), name) != 0) __builtin_trap();
    if (entry.size() != name.size() && entry.compare(name.size(), 2, u": ") != 0) __builtin_trap();
    names.remove_prefix(semi == std::u16string_view::npos ? names.size() : semi + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentMessageBoxes boxes;
  static ScopedMessageBoxes scopedBoxes(boxes);
  const std::span<const uint8_t> input(data, size);

  InputAsFile file(input);
  ScopedVersionBlockSource scopedSource(file);
  CheckShape(GetFileVer(u"fuzz.dll"));
  (void)GetFileVerNumber(u"fuzz.dll", true, false);
  (void)GetFileVerNumber(u"fuzz.dll", false, false);

  const FileVerList raw = ScanVersionBlock(input);
  if (raw.IsEmpty()) __builtin_trap();
  CheckShape(raw);
  return 0;
}
