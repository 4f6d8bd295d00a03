#pragma once
// Settings each copy of the program is built with (cmake/windows_program.cmake): one
// tree can build copies for different update servers, revisions and bounds.
#include <cstdint>
#include <string>

#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

namespace tindra::win32 {

// The update server host, a dotted IPv4 address with an optional ":port": the one
// this copy was built for (a test copy: the one its test passes in, see
// TestUpdateHost).
std::u16string ProgramUpdateHost();

// The bounds of the start-up update (a test copy's are short).
StartupBounds ProgramStartupBounds();

// After how long without input the user counts as away from the keyboard, in
// milliseconds (a test copy's may be short).
uint32_t ProgramAwayAfterMs();

}  // namespace tindra::win32
