#pragma once
// Settings each copy of the program is built with (cmake/windows_program.cmake): one
// tree can build copies for different update servers, revisions and bounds.
#include <string>

#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

namespace tindra::win32 {

// The update server host, a dotted IPv4 address with an optional ":port": the one
// this copy was built for (a test copy: the one its test passes in, see
// TestUpdateHost).
std::u16string ProgramUpdateHost();

// The bounds of the start-up update (a test copy's are short).
StartupBounds ProgramStartupBounds();

}  // namespace tindra::win32
