#pragma once
// Where the running program is: its path, its folder and its base name, read once
// from the platform for every program and tool.
#include <string>

namespace tindra::win32 {

// The running program's full path, however long. Raises File not found (53) when
// the platform cannot name it.
std::u16string ProgramPath();
// The folder holding the running program: no trailing separator, except that a
// drive's root keeps its own ("C:\").
std::u16string ProgramFolder();
// The running program's file name without its extension ("Tindra").
std::u16string ProgramBaseName();

}  // namespace tindra::win32
