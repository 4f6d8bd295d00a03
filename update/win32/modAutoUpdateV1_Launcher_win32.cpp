#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

#include "common/errors.h"
#include "update/modAutoUpdateV1_Launcher.h"
#include "update/trusted_fetch.h"
#include "update/update_events.h"
#include "update/win32/processes_win32.h"
#include "update/win32/program_files_win32.h"
#include "update/win32/program_trust_win32.h"
#include "update/win32/update_log_win32.h"
#include "update/win32/update_network_win32.h"

namespace tindra {

void RunAutoUpdate(const std::u16string& serverHost, const int16_t& skipSelfUpdate,
                   const StartupBounds& bounds) {
  // Nothing of the update goes past the ceiling, counted from here.
  const uint64_t endBy = GetTickCount64() + bounds.ceilingMs;
  win32::TransferLimits limits;
  limits.readMs = bounds.readMs;
  limits.deadlineMs = bounds.downloadMs;
  limits.endBy = endBy;
  limits.ceilingMs = bounds.ceilingMs;
  win32::Win32ProgramFiles files;
  win32::Win32ProgramInspector trust;
  win32::Win32UpdateNetwork network(limits);
  win32::Win32Processes processes;
  processes.SetWaitCeiling(endBy, bounds.ceilingMs, bounds.checkerGraceMs);
  win32::Win32UpdateLog log(u"Tindra");
  LoggedNetwork logged(network, log);
  UpdateServices services{files, trust, logged, processes, log, win32::BuildFloors()};
  // What a transfer killed with an earlier run left behind.
  try {
    network.RemoveLeftoverDownloads(
        files.ProgramFolder(),
        {std::u16string(kCheckerName) + kPartSuffix, std::u16string(kReplacerName) + kPartSuffix});
  } catch (const AppError&) {
    // No program folder: the update reports that itself.
  }
  RunAutoUpdate(services, serverHost, skipSelfUpdate);
}

}  // namespace tindra
