#include <windows.h>

#include "common/win32/ansi.h"
#include "fileutil/modFile.h"

namespace tindra {

namespace {

// The block as version.dll hands it over. The program passes file names in the
// ANSI code page; a name without an exact ANSI form is not found, rather than
// converted into the name of some other file.
class Win32VersionBlockSource : public VersionBlockSource {
 public:
  uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) override {
    handle = 0;
    if (fileName.find(u'\0') != std::u16string::npos) return 0;
    const std::optional<std::string> ansi = win32::ToAnsiExact(fileName);
    if (!ansi) return 0;
    DWORD h = 0;
    const DWORD size = GetFileVersionInfoSizeA(ansi->c_str(), &h);
    handle = h;
    return size;
  }
  bool GetInfo(const std::u16string& fileName, uint32_t handle, uint32_t size,
               void* buffer) override {
    if (fileName.find(u'\0') != std::u16string::npos) return false;
    const std::optional<std::string> ansi = win32::ToAnsiExact(fileName);
    return ansi && GetFileVersionInfoA(ansi->c_str(), handle, size, buffer) != FALSE;
  }
};

}  // namespace

VersionBlockSource& DefaultVersionBlockSource() {
  static Win32VersionBlockSource source;
  return source;
}

}  // namespace tindra
