#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

#include "common/errors.h"
#include "update/modAutoUpdateV1_Launcher.h"
#include "update/trusted_fetch.h"
#include "update/update_events.h"
#include "update/win32/update_log_win32.h"
#include "update/win32/update_services_win32.h"

namespace tindra {

void RunAutoUpdateOnThisMachine(const std::u16string& serverHost, const int16_t& skipSelfUpdate,
                                const StartupBounds& bounds) {
  // Nothing of the update goes past the ceiling, counted from here.
  const uint64_t endBy = GetTickCount64() + bounds.ceilingMs;
  win32::TransferLimits limits;
  limits.readMs = bounds.readMs;
  limits.deadlineMs = bounds.downloadMs;
  limits.endBy = endBy;
  limits.ceilingMs = bounds.ceilingMs;
  win32::Win32UpdateLog log(u"Tindra");
  win32::Win32UpdateServices update(log, {.transfers = limits});
  update.processes.SetWaitCeiling(endBy, bounds.ceilingMs, bounds.checkerGraceMs);
  // What a transfer killed with an earlier run left behind.
  try {
    update.services().network.RemoveLeftoverDownloads(
        update.files.ProgramFolder(),
        {std::u16string(kCheckerName) + kPartSuffix, std::u16string(kReplacerName) + kPartSuffix});
  } catch (const AppError&) {
    // No program folder: the update reports that itself.
  }
  RunAutoUpdate(update.services(), serverHost, skipSelfUpdate);
}

}  // namespace tindra
