#pragma once
// Starting and watching programs over Win32 and the shell.
#include "update/processes.h"

namespace tindra::win32 {

class Win32Processes : public Processes {
 public:
  // `ownJobs`: every program Start starts runs in a job of its own (the replacer's
  // programs), which End then ends whole.
  explicit Win32Processes(bool ownJobs = false) : ownJobs_(ownJobs) {}
  // Module modWaitProc's procedure: the shell's ShellExecuteEx (ANSI record), then
  // WaitForSingleObject.
  void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                           const std::u16string& parameters, const std::u16string& directory,
                           const int16_t& hidden, const int16_t& minimized) override;
  std::optional<uint32_t> LastWaitExitCode() override { return lastWaitExit_; }
  std::unique_ptr<StartedProgram> Start(const std::u16string& commandLine,
                                        const std::u16string& directory, int32_t windowState,
                                        uint32_t& error) override;
  void WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) override;
  [[noreturn]] void EndProcess() override;
  int64_t Now() override;
  uint64_t Ticks() override;
  void Sleep(uint32_t ms) override;
  std::u16string TakeFailedHandOver() override;
  void TellFailedHandOver(std::u16string_view value) override;
  std::u16string NewHandBackValue() override;

 private:
  bool ownJobs_;
  std::optional<uint32_t> lastWaitExit_;
};

}  // namespace tindra::win32
