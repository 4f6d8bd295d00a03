#include "update/modAutoUpdateV1_Launcher.h"

namespace tindra {

// The self-update is not built yet: start-up goes on at once.
void RunAutoUpdate(const int16_t&) {}

}  // namespace tindra
