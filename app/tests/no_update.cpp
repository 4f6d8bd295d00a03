// The start-up update of the shell's test copy of Tindra.exe: returns at once, so
// the tests reach the DDE intake without an update server.
#include "update/modAutoUpdateV1_Launcher.h"

namespace tindra {

void RunAutoUpdate(const int16_t&) {}

}  // namespace tindra
