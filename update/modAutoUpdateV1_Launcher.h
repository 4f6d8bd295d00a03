#pragma once
// The start-up self-update (module modAutoUpdateV1_Launcher), over the update's
// services. The program's entry point, which passes the Win32 services, is
// update/win32/modAutoUpdateV1_Launcher_win32.h.
#include <cstdint>
#include <string>
#include <string_view>

#include "update/companion_rules.h"
#include "update/update_services.h"

namespace tindra {

// Both procedures take the update server's host (the program's gServerHost) and
// fetch from the update folder there (GetUpdateBaseUrl).

// Keeps Vantorel.exe and Pellmora.exe current. -1 when a trusted checker is in place
// afterwards (current, just fetched, or kept because the announced one could not be
// fetched or was refused); 0 when the latest revision cannot be read or no trusted
// checker is left. Every error is reported and the procedure goes on after the
// failing statement.
int16_t AutoUpdaterSelfUpdate(const UpdateServices& s, std::u16string_view serverHost);

// Runs the self-update, the update checker, and hands over to the file replacer
// when a new executable is ready (ending the process).
void RunAutoUpdate(const UpdateServices& s, std::u16string_view serverHost,
                   const int16_t& skipSelfUpdate);

// The update checker's parameters: "27;Tindra.exe".
std::u16string CheckerParameters(int16_t revision, const std::u16string& exeFileName);
// Opens the program folder for the user with the Explorer of the Windows folder
// (never an explorer.exe found elsewhere); both are quoted so that paths with
// blanks arrive whole.
std::u16string ExplorerCommandLine(const std::u16string& windowsFolder,
                                   const std::u16string& folder);
// The replacer's command line: the quoted replacer path, then exactly
// "Tindra.exe;New_Tindra.exe".
std::u16string ReplacerCommandLine(const std::u16string& replacerPath,
                                   const std::u16string& exeFileName);

}  // namespace tindra
