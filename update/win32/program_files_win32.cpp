#include "update/win32/program_files_win32.h"

#include <windows.h>

#include "build_config.h"
#include "common/errors.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "fileutil/version_number.h"
#include "update/win32/program_trust_win32.h"

namespace tindra::win32 {

namespace {

constexpr DWORD kNoFile = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const std::u16string& path) { return GetFileAttributesW(WidePtr(path)); }

}  // namespace

std::u16string Win32ProgramFiles::ProgramFolder() { return win32::ProgramFolder(); }

std::u16string Win32ProgramFiles::WindowsFolder() {
  wchar_t buf[MAX_PATH];
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) Raise(kErrPathNotFound);
  return FromWide(std::wstring_view(buf, n));
}

std::u16string Win32ProgramFiles::ProgramBaseName() { return win32::ProgramBaseName(); }

int16_t Win32ProgramFiles::ProgramRevision() {
  // The build number of the file version in the program's own version block.
  const std::optional<int32_t> build = FileBuildNumber(ProgramPath());
  return build && *build <= 32767 ? static_cast<int16_t>(*build) : TINDRA_REVISION;
}

std::optional<std::u16string> Win32ProgramFiles::FindOrdinaryFile(const std::u16string& path) {
  // Wildcards would make the search match other names: no file has such a name.
  if (path.empty() || path.find_first_of(u"*?") != std::u16string::npos) return std::nullopt;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(WidePtr(path), &data));
  if (!find) {
    switch (GetLastError()) {
      case ERROR_NOT_READY:
        Raise(kErrDeviceUnavailable);
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE:
        Raise(kErrBadFileName);
      default:
        return std::nullopt;
    }
  }
  const DWORD excluded = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (data.dwFileAttributes & excluded) return std::nullopt;
  return FromWide(data.cFileName);
}

bool Win32ProgramFiles::IsFile(const std::u16string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != kNoFile && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32ProgramFiles::Exists(const std::u16string& path) { return AttributesOf(path) != kNoFile; }

bool Win32ProgramFiles::IsReadOnly(const std::u16string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != kNoFile && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool Win32ProgramFiles::IsFree(const std::u16string& path) {
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return file || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool Win32ProgramFiles::RemoveFile(const std::u16string& path) {
  if (DeleteFileW(WidePtr(path))) return true;
  DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return true;
  const DWORD attributes = AttributesOf(path);
  if (attributes == kNoFile || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return SetFileAttributesW(WidePtr(path), attributes & ~FILE_ATTRIBUTE_READONLY) &&
         DeleteFileW(WidePtr(path));
}

bool Win32ProgramFiles::RemoveEmptyFolder(const std::u16string& path) {
  // RemoveDirectory takes only an empty folder; a link to a folder goes as the link.
  return RemoveDirectoryW(WidePtr(path)) || AttributesOf(path) == kNoFile;
}

bool Win32ProgramFiles::LinkOrCopy(const std::u16string& from, const std::u16string& to) {
  return CreateHardLinkW(WidePtr(to), WidePtr(from), nullptr) ||
         CopyFileW(WidePtr(from), WidePtr(to), TRUE);
}

bool Win32ProgramFiles::MoveOver(const std::u16string& from, const std::u16string& to) {
  return MoveFileExW(WidePtr(from), WidePtr(to),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

std::unique_ptr<HeldFile> Win32ProgramFiles::Hold(const std::u16string& path, HoldFor purpose) {
  std::optional<HeldProgram> held = HeldProgram::Open(path, purpose);
  if (!held) return nullptr;
  return std::make_unique<HeldProgram>(std::move(*held));
}

namespace {

class Win32FileLock : public FileLock {
 public:
  explicit Win32FileLock(UniqueFile file) : file_(std::move(file)) {}

 private:
  UniqueFile file_;
};

}  // namespace

std::unique_ptr<FileLock> Win32ProgramFiles::TakeLock(const std::u16string& path) {
  // Shared with no one, and deleted as its last handle closes: the system closes it
  // when the holder ends in any way, so a lock never outlives its holder.
  UniqueFile file(CreateFileW(
      WidePtr(path), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32FileLock>(std::move(file));
}

bool Win32ProgramFiles::LockHeld(const std::u16string& path) {
  // Opened to read, sharing everything: only a holder that shares nothing refuses it.
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::optional<std::string> Win32ProgramFiles::ReadSmallFile(const std::u16string& path,
                                                            size_t maxBytes) {
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string text(maxBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
    return std::nullopt;
  }
  text.resize(got);
  return text;
}

bool Win32ProgramFiles::WriteSmallFile(const std::u16string& path, std::string_view bytes) {
  // A read-only file of this program's is still its own.
  const DWORD attributes = AttributesOf(path);
  if (attributes != kNoFile && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(WidePtr(path), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  // Written whole under a name of its own, then renamed over the old one in one step:
  // a process ended at any point (the session's end) leaves the old record or the new
  // one, never half of one. What a killed write left is replaced by the next.
  const std::u16string fresh = path + u".new";
  bool complete = false;
  {
    UniqueFile file(CreateFileW(WidePtr(fresh), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    complete =
        file &&
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file.get());
  }
  if (complete && MoveFileExW(WidePtr(fresh), WidePtr(path),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(WidePtr(fresh));
  return false;
}

}  // namespace tindra::win32
