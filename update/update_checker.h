#pragma once
// The update checker's work (Vantorel.exe), started by Tindra in its program folder
// as
//   Vantorel.exe REVISION;FILE.exe          (for example 27;Tindra.exe)
// It reads the latest revision of FILE from FILE's base name + "_lastver.txt" under
// the update folder of its server, and when that is newer than REVISION downloads
// FILE as "New_" + FILE into the program folder. The new file is kept only when it
// is a Windows program signed by the same publisher as the checker whose version
// block names FILE and carries the announced revision; a stale "New_" file from an
// earlier run is removed first (read-only or not), so the file exists after the
// check exactly when a verified newer program is ready. An empty folder of that
// name is removed too; one that holds something is reported in a box.
//
// Before it leaves a new program, it makes sure a Pellmora.exe trusted in that role,
// no older than the build's floor for it, is in the folder, fetching it when missing,
// untrusted or older; a revision whose install failed (the replacer's FILE base name
// + "_failed.txt") is not fetched again until its back-off is over. A served file
// that fails its check here is recorded there by its SHA-256: that same file is
// dropped unchecked for a while, and any other file for the revision is checked.
#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "update/command_lines.h"
#include "update/update_services.h"

namespace tindra {

// The checker's exit codes.
enum CheckerExit : int {
  kCheckerNothing = 0,    // nothing to install
  kCheckerReady = 1,      // "New_" file ready
  kCheckerBadArgs = 2,    // bad parameters
  kCheckerStale = 3,      // a stale "New_" file could not be removed
  kCheckerFailed = 4,     // the download or its check failed
  kCheckerCancelled = 5,  // the user closed the checker's window
};
// What the checker's exit code means, for the log ("nothing to install", ...).
std::u16string CheckerExitReason(uint32_t code);
// The checker's own last line: step "end", its exit code and what it means.
void LogCheckerEnd(UpdateLog& log, uint32_t code);
// Tindra's line after the checker it waited for has ended (or did not start).
void LogCheckerRun(const UpdateServices& s);

// The parameters of the checker's command line; a box explains a bad one (and
// nothing is returned).
std::optional<CheckerArgs> ReadCheckerCommandLine(std::u16string_view commandLine);

// The check, against the update server at `host`. `cancelled` is set from another
// thread when the user closes the window; the transfers end early on it too.
CheckerExit CheckForUpdate(const CheckerArgs& args, std::u16string_view host,
                           const UpdateServices& s, const std::atomic<bool>& cancelled);

}  // namespace tindra
