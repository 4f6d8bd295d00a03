#pragma once
// Launch and wait (module modWaitProc).
#include <cstdint>
#include <string>

namespace tindra {

// Window state of the started program: 0 (SW_HIDE) when hidden, else 7
// (SW_SHOWMINNOACTIVE) when minimized, else 5 (SW_SHOW).
int32_t WaitProcShowCommand(int16_t hidden, int16_t minimized);

// Opens `fileName` through the shell's "open" action with `parameters` in `directory`
// and blocks, without processing window messages and without time limit, until the
// started process has ended. When the file cannot be opened the shell shows its own
// error box and the call returns without waiting. Reports nothing itself.
// Windows only.
void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                         const std::u16string& parameters, const std::u16string& directory,
                         const int16_t& hidden, const int16_t& minimized);

}  // namespace tindra
