#pragma once
// The start-up self-update as the program runs it, over the Win32 services.
#include <cstdint>
#include <string>

namespace tindra {

// Called once by the main form's load handler with the update server's host and
// skipSelfUpdate = 0 (false). May end the process instead of returning.
void RunAutoUpdate(const std::u16string& serverHost, const int16_t& skipSelfUpdate);

}  // namespace tindra
