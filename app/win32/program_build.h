#pragma once
// Settings each copy of the program is built with (cmake/windows_program.cmake): one
// tree can build copies for different update servers, revisions and bounds.
#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

namespace tindra::win32 {

// The update server host, a dotted IPv4 address with an optional ":port".
extern const char kProgramUpdateHost[];

// The bounds of the start-up update (a test copy's are short).
StartupBounds ProgramStartupBounds();

}  // namespace tindra::win32
