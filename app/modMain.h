#pragma once
// Process-wide state of the program (module modMain).
#include <cstdint>
#include <string>

namespace tindra {

// Host of the update server, as text; set once at start-up from the built-in constant.
extern std::u16string gServerHost;

// Number of popup windows currently loaded: raised when a popup loads, lowered when
// it unloads; read by the intake to restart the stack. Changes go through
// CheckedAdd, so leaving the 32-bit range is an Overflow error.
extern int32_t gPopupCount;

}  // namespace tindra
