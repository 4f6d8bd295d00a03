#pragma once
// Test doubles: a block source that hands over a given buffer as it is, and a
// message-box service that records what would be shown.
#include <cstring>
#include <string>
#include <vector>

#include "common/msgbox.h"
#include "fileutil/modFile.h"

namespace tindra::testing {

class FakeSource : public VersionBlockSource {
 public:
  explicit FakeSource(std::vector<uint8_t> block) : block(std::move(block)) {}
  uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) override {
    lastName = fileName;
    handle = 0x5A5A;
    return static_cast<uint32_t>(block.size());
  }
  bool GetInfo(const std::u16string&, uint32_t handle, uint32_t size, void* buffer) override {
    ++getInfoCalls;
    handleSeen = handle;
    if (failCopy) return false;
    std::memcpy(buffer, block.data(), std::min<size_t>(size, block.size()));
    return true;
  }
  std::vector<uint8_t> block;
  bool failCopy = false;
  int getInfoCalls = 0;
  uint32_t handleSeen = 0;
  std::u16string lastName;
};

class RecordingBoxes : public MessageBoxes {
 public:
  void Show(std::u16string_view text, uint32_t style) override {
    shown.emplace_back(text);
    styles.push_back(style);
  }
  std::vector<std::u16string> shown;
  std::vector<uint32_t> styles;
};

// Replaces both services for one test.
struct Harness {
  explicit Harness(std::vector<uint8_t> block) : source(std::move(block)) {}
  FakeSource source;
  RecordingBoxes boxes;
  ScopedVersionBlockSource scopedSource{source};
  ScopedMessageBoxes scopedBoxes{boxes};
};

inline constexpr char16_t kScanError[] =
    u"Error 5 (Invalid procedure call or argument) in procedure GetFileVer of Module mdlFile";

}  // namespace tindra::testing
