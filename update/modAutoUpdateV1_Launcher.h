#pragma once
// Start-up self-update (module modAutoUpdateV1_Launcher).
#include <cstdint>

namespace tindra {

// Called once by the main form's load handler with skipSelfUpdate = 0 (false).
// May end the process instead of returning.
void RunAutoUpdate(const int16_t& skipSelfUpdate);

}  // namespace tindra
