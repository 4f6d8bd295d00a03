#pragma once
// The update log: Tindra_update.log in the program folder, one UTF-8 line per event,
// written by Tindra, Vantorel and Pellmora alike, so that an administrator can tell
// why an update did not install. A line holds, in this order:
//   local time, program, step, then those of file=, url=, status=, bytes=, verdict=,
//   reason=, exit= that apply
// separated by single blanks; a value holding a blank or a quote is quoted, with its
// quotes doubled. For example
//   2026-12-09 16:02:11.042 Vantorel check file=New_Tindra.exe.part verdict=refused
//   reason="foreign signer"
// (on one line). The log is capped: a line that would take the file past the cap
// first moves it to Tindra_update.log.1 (one older generation, replaced). When the
// folder cannot be written the line is lost and nothing else changes. Every line also
// goes to the debugger's output.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

inline constexpr char16_t kUpdateLogName[] = u"Tindra_update.log";
inline constexpr char16_t kUpdateLogOldName[] = u"Tindra_update.log.1";
inline constexpr uint64_t kUpdateLogCap = 256 * 1024;

// One event of the update. Empty texts and absent numbers are left out of the line.
struct UpdateEvent {
  std::u16string step;  // what was done: "version", "download", "check", "run", ...
  std::u16string file;  // the file it was done to, without its folder
  std::u16string url;
  std::optional<uint32_t> status;  // the HTTP status
  std::optional<uint64_t> bytes;
  std::u16string verdict;  // "ok", "failed", "refused", "trusted", "skipped", ...
  std::u16string reason;
  std::optional<uint32_t> exitCode;
};

// Where the update's procedures tell what they did. Never raises.
class UpdateLog {
 public:
  virtual ~UpdateLog() = default;
  virtual void Write(const UpdateEvent& event) = 0;
};

// A log that drops every event (for callers that keep none).
UpdateLog& NoUpdateLog();

struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The line for `event` ("2026-12-09 16:02:11.042 Tindra run ..."), without a line
// break. Values are kept on one line (control characters become blanks) and each is
// cut to at most kUpdateLogValueMax units.
inline constexpr size_t kUpdateLogValueMax = 512;
std::u16string FormatLogLine(const LocalTime& time, std::u16string_view program,
                             const UpdateEvent& event);

// What the log needs from the platform.
class LogMedium {
 public:
  virtual ~LogMedium() = default;
  virtual LocalTime LocalTimeNow() = 0;
  // Runs `work` while holding the lock that every program writing the log takes;
  // false, with nothing run, when the lock cannot be had within a short wait (the
  // writer then appends the line without rotating, when it fits under the cap).
  virtual bool Locked(const std::function<void()>& work) = 0;
  // The size of the file at `path`; 0 when there is none.
  virtual uint64_t SizeOf(const std::u16string& path) = 0;
  // Adds `bytes` at the end of the file, creating it; false when it cannot.
  virtual bool Append(const std::u16string& path, std::string_view bytes) = 0;
  // Renames `from` to `to`, replacing it; false when it cannot.
  virtual bool Replace(const std::u16string& from, const std::u16string& to) = 0;
  // Hands the line to a debugger watching the process.
  virtual void Debug(const std::u16string& line) = 0;
};

// What the writer does with one line of `lineBytes` when the log holds `logBytes`:
// append it, first move the log to the older generation, or drop it (a line that
// cannot fit even an empty log).
enum class LogAction { kAppend, kRotateThenAppend, kDrop };
LogAction DecideLogAction(uint64_t logBytes, uint64_t lineBytes, uint64_t cap);

// The portable writer: formats, caps and rotates, over a medium.
class UpdateLogWriter : public UpdateLog {
 public:
  // `folder`: the program folder (empty: no file, the debugger only); `program`:
  // "Tindra", "Vantorel" or "Pellmora".
  UpdateLogWriter(LogMedium& medium, std::u16string folder, std::u16string program,
                  uint64_t cap = kUpdateLogCap);
  void Write(const UpdateEvent& event) override;

 private:
  LogMedium& medium_;
  std::u16string log_;
  std::u16string old_;
  std::u16string program_;
  uint64_t cap_;
};

}  // namespace tindra
