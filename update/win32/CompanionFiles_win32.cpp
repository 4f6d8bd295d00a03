#include "update/win32/CompanionFiles_win32.h"

#include "common/win32/ansi.h"
#include "common/win32/handle.h"

namespace tindra::win32 {

int16_t Win32CompanionFiles::DownloadToFile(const std::u16string& url,
                                            const std::u16string& localPath) {
  return SafeDownload(url, localPath, limits_) ? -1 : 0;
}

void Win32CompanionFiles::RemoveFile(const std::u16string& path) { RemoveProgramFile(path); }

std::unique_ptr<HeldFile> Win32CompanionFiles::Hold(const std::u16string& path, HoldFor purpose) {
  std::optional<HeldProgram> held = HeldProgram::Open(path, purpose);
  if (!held) return nullptr;
  return std::make_unique<HeldProgram>(std::move(*held));
}

bool RemoveProgramFile(const std::u16string& path) {
  if (DeleteFileW(WidePtr(path))) return true;
  DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return true;
  const DWORD attributes = GetFileAttributesW(WidePtr(path));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return SetFileAttributesW(WidePtr(path), attributes & ~FILE_ATTRIBUTE_READONLY) &&
         DeleteFileW(WidePtr(path));
}

int64_t UnixTimeNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // 100-ns intervals since 1601 -> seconds since 1970.
  return static_cast<int64_t>(t.QuadPart / 10000000ull) - 11644473600ll;
}

std::optional<FailedInstall> ReadFailedInstall(const std::u16string& path) {
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string text(1024, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
    return std::nullopt;
  }
  text.resize(got);
  return ParseFailedInstall(text);
}

bool WriteFailedInstall(const std::u16string& path, const FailedInstall& record) {
  const std::string text = FormatFailedInstall(record);
  // A read-only record is still this program's own.
  const DWORD attributes = GetFileAttributesW(WidePtr(path));
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(WidePtr(path), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace tindra::win32
