#pragma once
// Settings each copy of the program is built with (cmake/windows_program.cmake): one
// tree can build copies for different update servers and revisions.
#include <string>

namespace tindra::win32 {

// The update server host, a dotted IPv4 address with an optional ":port": the one
// this copy was built for (a test copy: the one its test passes in, see
// TestUpdateHost).
std::u16string ProgramUpdateHost();

}  // namespace tindra::win32
