#pragma once
// tindra-verinfo FILE: prints the 13 entries of GetFileVer, one a line, then
// "Version number: " + GetFileVerNumber(FILE, true, true), as UTF-8 bytes. What the
// program would show in a message box goes to standard error.
#include <string>
#include <vector>

namespace tindra {

// `args` without the program name. Returns the exit status: 0, 1 when the file has
// no readable version block, 2 on wrong usage.
int VerinfoMain(const std::vector<std::u16string>& args);

}  // namespace tindra
