#pragma once
// The update's services over Win32, assembled in one place for Tindra, the checker
// and the replacer: the program's files, the trust checks, the processes and, for a
// program that transfers, the network with each transfer logged.
#include <optional>

#include "update/logged_network.h"
#include "update/update_services.h"
#include "update/win32/processes_win32.h"
#include "update/win32/program_files_win32.h"
#include "update/win32/program_trust_win32.h"
#include "update/win32/update_network_win32.h"

namespace tindra::win32 {

struct UpdateSetup {
  // The bounds of every transfer; nothing for a program that transfers nothing.
  std::optional<TransferLimits> transfers;
  // Every program it starts runs in a job of its own (the replacer's programs).
  bool ownJobs = false;
};

// One program's update services, writing to `log`, with this build's floors.
class Win32UpdateServices {
 public:
  Win32UpdateServices(UpdateLog& log, const UpdateSetup& setup);
  Win32UpdateServices(const Win32UpdateServices&) = delete;
  Win32UpdateServices& operator=(const Win32UpdateServices&) = delete;

  // What the update's procedures take.
  const UpdateServices& services() const { return services_; }

  Win32ProgramFiles files;
  Win32ProgramInspector trust;
  Win32Processes processes;

 private:
  std::optional<Win32UpdateNetwork> network_;
  std::optional<LoggedNetwork> logged_;
  UpdateServices services_;
};

}  // namespace tindra::win32
