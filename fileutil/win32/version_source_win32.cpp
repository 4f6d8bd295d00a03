#include <windows.h>

#include "common/win32/ansi.h"
#include "fileutil/modFile.h"

namespace tindra {

namespace {

// The block as version.dll hands it over. File names go to its wide forms, so a
// path reads alike whatever the ANSI code page can spell.
class Win32VersionBlockSource : public VersionBlockSource {
 public:
  uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) override {
    handle = 0;
    if (fileName.empty() || fileName.find(u'\0') != std::u16string::npos) return 0;
    DWORD h = 0;
    const DWORD size = GetFileVersionInfoSizeW(win32::WidePtr(fileName), &h);
    handle = h;
    return size;
  }
  bool GetInfo(const std::u16string& fileName, uint32_t handle, uint32_t size,
               void* buffer) override {
    if (fileName.empty() || fileName.find(u'\0') != std::u16string::npos) return false;
    return GetFileVersionInfoW(win32::WidePtr(fileName), handle, size, buffer) != FALSE;
  }
};

}  // namespace

VersionBlockSource& DefaultVersionBlockSource() {
  static Win32VersionBlockSource source;
  return source;
}

}  // namespace tindra
