#pragma once
// Settings each copy of the program is built with (cmake/windows_program.cmake): one
// tree can build copies for different update servers and revisions.
namespace tindra::win32 {

// The update server host, a dotted IPv4 address with an optional ":port".
extern const char kProgramUpdateHost[];

}  // namespace tindra::win32
