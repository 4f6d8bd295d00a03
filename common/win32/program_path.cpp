#include "common/win32/program_path.h"

#include <windows.h>

#include <vector>

#include "common/errors.h"
#include "common/win32/ansi.h"

namespace tindra::win32 {

std::u16string ProgramPath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) Raise(kErrFileNotFound);
    if (n < buf.size()) return FromWide(std::wstring_view(buf.data(), n));
    if (buf.size() >= 32768) Raise(kErrBadFileName);
    buf.resize(buf.size() * 2);
  }
}

std::u16string ProgramFolder() {
  const std::u16string path = ProgramPath();
  size_t slash = path.find_last_of(u'\\');
  if (slash == std::u16string::npos) return path;
  if (slash == 2 && path[1] == u':') return path.substr(0, 3);
  return path.substr(0, slash);
}

std::u16string ProgramBaseName() {
  const std::u16string path = ProgramPath();
  size_t slash = path.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  return name;
}

std::u16string ProgramBaseName(std::u16string_view fallback) {
  try {
    return ProgramBaseName();
  } catch (const AppError&) {
    return std::u16string(fallback);
  }
}

}  // namespace tindra::win32
