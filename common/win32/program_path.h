#pragma once
// Where the running program is: its path, its folder and its base name, read once
// from the platform for every program and tool.
#include <string>
#include <string_view>

namespace tindra::win32 {

// The running program's full path, however long. Raises File not found (53) when
// the platform cannot name it.
std::u16string ProgramPath();
// The folder holding the running program: no trailing separator, except that a
// drive's root keeps its own ("C:\").
std::u16string ProgramFolder();
// The running program's file name without folder and extension ("Tindra" for
// C:\Apps\Tindra.exe).
std::u16string ProgramBaseName();
// The same, or `fallback` when the platform cannot name the running program.
std::u16string ProgramBaseName(std::u16string_view fallback);

}  // namespace tindra::win32
