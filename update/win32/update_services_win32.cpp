#include "update/win32/update_services_win32.h"

namespace tindra::win32 {

namespace {

// The logged transfers within `limits`, made in `network` and `logged`; no transfers
// without limits.
UpdateNetwork& Transfers(UpdateLog& log, const UpdateSetup& setup,
                         std::optional<Win32UpdateNetwork>& network,
                         std::optional<LoggedNetwork>& logged) {
  if (!setup.transfers) return NoUpdateNetwork();
  network.emplace(*setup.transfers);
  return logged.emplace(*network, log);
}

}  // namespace

Win32UpdateServices::Win32UpdateServices(UpdateLog& log, const UpdateSetup& setup)
    : processes(setup.ownJobs), services_{files,
                                          trust,
                                          Transfers(log, setup, network_, logged_),
                                          processes,
                                          log,
                                          BuildFloors()} {}

}  // namespace tindra::win32
