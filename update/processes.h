#pragma once
// Starting, watching and waiting for programs, the clock, and what a replacer tells
// the program it starts again. Implemented over Win32 in
// update/win32/processes_win32.cpp; the tests script a fake.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

// Window states of a started program (SW_* values); kSwDefault: the one the
// program chooses itself.
inline constexpr int32_t kSwDefault = -1;
inline constexpr int32_t kSwHide = 0;
inline constexpr int32_t kSwShowNormal = 1;
inline constexpr int32_t kSwShowMinimized = 2;
inline constexpr int32_t kSwShow = 5;
inline constexpr int32_t kSwShowMinNoActive = 7;

// The window state StartProcessAndWait gives the started program: hidden, else
// minimized without activation, else shown.
int32_t WaitProcShowCommand(int16_t hidden, int16_t minimized);

// A program that was started, while it runs or after it ended.
class StartedProgram {
 public:
  virtual ~StartedProgram() = default;
  // Its process identifier.
  virtual uint32_t Id() = 0;
  // Waits at most `waitMs` for it to end: its exit code when it has, else nothing.
  virtual std::optional<uint32_t> WaitForEnd(uint32_t waitMs) = 0;
  // Whether one of its windows answers a message within `waitMs`: a program held by
  // a fault, or hung, answers none.
  virtual bool AnswersWindowMessages(uint32_t waitMs) = 0;
  // Whether it has shown its fatal error (tindra::win32::ReportFatalAndExit): a box
  // that it ends after, which would keep it running, and answering, until closed.
  virtual bool ShowedFatalError() = 0;
  // Ends it at once, when it still runs, with `exitCode`.
  virtual void End(uint32_t exitCode) = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;

  // Opens `fileName` through the shell's "open" action with `parameters` in
  // `directory` and blocks until the started process has ended, or until the wait's
  // ceiling, if one is set: then the program is asked to close and, when it does not,
  // ended. Only the calling thread's own windows get their messages meanwhile. When
  // the file cannot be opened the shell shows its own error box and the call returns
  // without waiting.
  virtual void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                   const std::u16string& parameters,
                                   const std::u16string& directory, const int16_t& hidden,
                                   const int16_t& minimized) = 0;
  // The exit code of the program the last StartProcessAndWait waited for; nothing
  // when it started none.
  virtual std::optional<uint32_t> LastWaitExitCode() = 0;
  // The ceiling that cut the last StartProcessAndWait short, in milliseconds; nothing
  // when the program ended by itself.
  virtual std::optional<uint64_t> LastWaitCutAt() { return std::nullopt; }
  // Starts a command line (the program's quoted path first) in `directory` (empty:
  // this program's current folder) with a window state. Nothing when it cannot be
  // started; `error` then tells why (a platform error code).
  virtual std::unique_ptr<StartedProgram> Start(const std::u16string& commandLine,
                                                const std::u16string& directory,
                                                int32_t windowState, uint32_t& error) = 0;
  // Waits at most `waitMs` for every running program whose image is `path` to end.
  virtual void WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) = 0;
  // Ends this process at once: no unload handler runs. Does not return.
  [[noreturn]] virtual void EndProcess() = 0;

  // Seconds since 1970 (UTC).
  virtual int64_t UtcSecondsNow() = 0;
  // Milliseconds on a steady clock, for deadlines.
  virtual uint64_t Ticks() = 0;
  virtual void Sleep(uint32_t ms) = 0;

  // The value the replacer handed this process in the environment variable
  // `variable` (kFailedHandOverVariable, kInstalledVariable) as it started it; empty
  // when there is none. Read once: the programs this one starts are not given it.
  virtual std::u16string TakeStartValue(std::u16string_view variable) = 0;
  // Hands the programs this process starts `value` in `variable` (empty: none).
  virtual void TellStartValue(std::u16string_view variable, std::u16string_view value) = 0;
  // A new one-time value of kHandBackLength letters that no one can foresee.
  virtual std::u16string NewHandBackValue() = 0;
};

}  // namespace tindra
