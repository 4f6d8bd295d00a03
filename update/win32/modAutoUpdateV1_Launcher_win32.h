#pragma once
// The start-up self-update as the program runs it, over the Win32 services.
#include <cstdint>
#include <string>

namespace tindra {

// The bounds of the start-up update, in milliseconds: each version read and each
// download ends within its own bound, headers included; nothing of the update, the
// checker's run included, goes past the ceiling, counted from the update's start. At
// `checkerGraceMs` before the ceiling a checker still running is asked to close (as
// when the user closes its window); at the ceiling it is ended.
struct StartupBounds {
  uint32_t readMs = 30000;
  uint32_t downloadMs = 120000;
  uint32_t ceilingMs = 300000;
  uint32_t checkerGraceMs = 10000;
};

// RunAutoUpdate over the Win32 services of this machine. Called once by the main
// form's load handler with the update server's host and skipSelfUpdate = 0 (false).
// May end the process instead of returning.
void RunAutoUpdateOnThisMachine(const std::u16string& serverHost, const int16_t& skipSelfUpdate,
                                const StartupBounds& bounds = {});

}  // namespace tindra
