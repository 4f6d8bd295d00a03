#pragma once
// Starting and watching programs over Win32 and the shell.
#include "update/processes.h"

namespace tindra::win32 {

// Whether another process of this session runs a program file named `exeFile`
// ("Tindra.exe"), wherever its folder; true also when the processes cannot be listed.
bool AnotherProcessNamed(const std::u16string& exeFile);

class Win32Processes : public Processes {
 public:
  // `ownJobs`: every program Start starts runs in a job of its own (the replacer's
  // programs), which End then ends whole.
  explicit Win32Processes(bool ownJobs = false) : ownJobs_(ownJobs) {}
  // The wait-for-a-program procedure the update starts the checker with: the shell's
  // ShellExecuteEx (its wide record), then a wait that dispatches the calling thread's
  // messages: the windows the shell and COM may have made on it (the update's thread
  // has none of the program's) keep answering broadcasts.
  void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                           const std::u16string& parameters, const std::u16string& directory,
                           const int16_t& hidden, const int16_t& minimized) override;
  std::optional<uint32_t> LastWaitExitCode() override { return lastWaitExit_; }
  std::optional<uint64_t> LastWaitCutAt() override { return lastWaitCut_; }
  // A ceiling for StartProcessAndWait: at the tick `endBy` (GetTickCount64) less
  // `graceMs` the program's windows are asked to close, as a user closes them; at
  // `endBy` the program is ended if it still runs. `ceilingMs` is the ceiling's value,
  // for the log.
  void SetWaitCeiling(uint64_t endBy, uint32_t ceilingMs, uint32_t graceMs) {
    waitEndBy_ = endBy;
    waitCeilingMs_ = ceilingMs;
    waitGraceMs_ = graceMs;
  }
  std::unique_ptr<StartedProgram> Start(const std::u16string& commandLine,
                                        const std::u16string& directory, int32_t windowState,
                                        uint32_t& error) override;
  void WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) override;
  [[noreturn]] void EndProcess() override;
  int64_t UtcSecondsNow() override;
  uint64_t Ticks() override;
  void Sleep(uint32_t ms) override;
  std::u16string TakeStartValue(std::u16string_view variable) override;
  void TellStartValue(std::u16string_view variable, std::u16string_view value) override;
  std::u16string NewHandBackValue() override;

 private:
  bool ownJobs_;
  std::optional<uint32_t> lastWaitExit_;
  std::optional<uint64_t> lastWaitCut_;
  uint64_t waitEndBy_ = 0;
  uint32_t waitCeilingMs_ = 0;
  uint32_t waitGraceMs_ = 0;
};

}  // namespace tindra::win32
