#pragma once
// The update log over Win32: Tindra_update.log in the program folder, appended under
// a mutex that Tindra, Vantorel and Pellmora share (or, when another holds it, without
// it and without rotation), and OutputDebugStringW.
#include <windows.h>

#include <memory>
#include <string>

#include "common/win32/handle.h"
#include "update/update_log.h"

namespace tindra::win32 {

// How long a line waits for the log's lock: a moment, or, on the user-interface
// thread, not at all.
enum class LogLockWait : DWORD { kMoment = 200, kNone = 0 };

class Win32LogMedium : public LogMedium {
 public:
  explicit Win32LogMedium(LogLockWait wait = LogLockWait::kMoment);
  LocalTime LocalTimeNow() override;
  bool Locked(const std::function<void()>& work) override;
  uint64_t SizeOf(const std::u16string& path) override;
  bool Append(const std::u16string& path, std::string_view bytes) override;
  bool Replace(const std::u16string& from, const std::u16string& to) override;
  void Debug(const std::u16string& line) override;

 private:
  UniqueHandle mutex_;
  DWORD waitMs_;
};

// The log of the running program ("Tindra", "Vantorel" or "Pellmora") in its own
// folder; only the debugger's output when the folder cannot be named.
class Win32UpdateLog : public UpdateLog {
 public:
  explicit Win32UpdateLog(std::u16string program, LogLockWait wait = LogLockWait::kMoment);
  void Write(const UpdateEvent& event) override { writer_.Write(event); }

 private:
  Win32LogMedium medium_;
  UpdateLogWriter writer_;
};

}  // namespace tindra::win32
