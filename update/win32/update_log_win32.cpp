#include "update/win32/update_log_win32.h"

#include "common/errors.h"
#include "common/win32/ansi.h"
#include "common/win32/program_path.h"

namespace tindra::win32 {

namespace {

// One name for every program folder: a writer holds it only for one line. Any process
// of this session, of this account or another, can create or hold a mutex of this
// name first. All it gains is a line's wait (LogLockWait) once per log, and lines
// appended without rotation (UpdateLogWriter): it cannot cut, reorder or lose a line
// while the log is under its cap, nor reach the log file, which the folder's rights
// guard. A mutex that cannot be opened leaves the same lock-free appends.
constexpr wchar_t kMutexName[] = L"Local\\TindraUpdateLog";
// A reader that opened the log without sharing it is waited for this often, briefly.
constexpr int kShareRetries = 5;
constexpr DWORD kShareRetryMs = 20;

bool SharingViolation() {
  const DWORD e = GetLastError();
  return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION;
}

std::u16string FolderOrNothing() {
  try {
    return ProgramFolder();
  } catch (const AppError&) {
    return u"";
  }
}

}  // namespace

Win32LogMedium::Win32LogMedium(LogLockWait wait)
    : mutex_(CreateMutexW(nullptr, FALSE, kMutexName)), waitMs_(static_cast<DWORD>(wait)) {}

LocalTime Win32LogMedium::LocalTimeNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

bool Win32LogMedium::Locked(const std::function<void()>& work) {
  if (!mutex_) return false;
  const DWORD got = WaitForSingleObject(mutex_.get(), waitMs_);
  // An owner that ended while it held the lock left at most one line unfinished.
  if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
    // Held longer than any writer holds it for a line: not waited for again.
    waitMs_ = 0;
    return false;
  }
  struct Release {
    HANDLE h;
    ~Release() { ReleaseMutex(h); }
  } release{mutex_.get()};
  work();
  return true;
}

uint64_t Win32LogMedium::SizeOf(const std::u16string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePtr(path), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return 0;
  }
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32LogMedium::Append(const std::u16string& path, std::string_view bytes) {
  for (int attempt = 0;; ++attempt) {
    UniqueFile file(CreateFileW(WidePtr(path), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      DWORD written = 0;
      return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
             written == bytes.size();
    }
    if (!SharingViolation() || attempt == kShareRetries) return false;
    Sleep(kShareRetryMs);
  }
}

bool Win32LogMedium::Replace(const std::u16string& from, const std::u16string& to) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(WidePtr(from), WidePtr(to), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!SharingViolation() && GetLastError() != ERROR_ACCESS_DENIED) return false;
    if (attempt == kShareRetries) return false;
    Sleep(kShareRetryMs);
  }
}

void Win32LogMedium::Debug(const std::u16string& line) { OutputDebugStringW(WidePtr(line)); }

Win32UpdateLog::Win32UpdateLog(std::u16string program, LogLockWait wait)
    : medium_(wait), writer_(medium_, FolderOrNothing(), std::move(program)) {}

}  // namespace tindra::win32
