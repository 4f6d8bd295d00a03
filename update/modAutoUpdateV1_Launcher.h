#pragma once
// The start-up self-update (module modAutoUpdateV1_Launcher), over the update's
// services. The program's entry point, which passes the Win32 services, is
// update/win32/modAutoUpdateV1_Launcher_win32.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/program_role.h"
#include "update/server_layout.h"
#include "update/update_services.h"

namespace tindra {

// Both procedures take the update server's host (the program's gServerHost) and
// fetch from the update folder there (GetUpdateBaseUrl).

// Keeps Vantorel.exe and Pellmora.exe current. -1 when a trusted checker is in place
// afterwards (current, just fetched, or kept because the announced one could not be
// fetched or was refused); 0 when the latest revision cannot be read or no trusted
// checker is left. An error of a step that can raise is reported, and the procedure
// goes on without that step's value.
int16_t AutoUpdaterSelfUpdate(const UpdateServices& s, std::u16string_view serverHost);

// What the self-update knows once the server has announced a checker revision.
struct CompanionFacts {
  // The checker in place: its revision when it is trusted and at its floor.
  std::optional<int32_t> checkerInPlace;
  int32_t announced = 0;
  // False for an unsigned build, which trusts no program it could fetch.
  bool signedBuild = true;
  ReleaseFloors floors;
};

// A checker that was refused holds back no revision: its record (Vantorel_failed.txt)
// only lets the same file be dropped unchecked when it is served again (FetchCompanion),
// so the genuine checker is kept as soon as it is served. Earlier revisions recorded
// refusals by the revision alone; those records hold nothing back either.
enum class CompanionStep {
  kFetch,          // the checker, then the replacer
  kCurrent,        // the checker in place is no older than the announced one
  kUnsignedBuild,  // it would trust nothing it fetched: both stay on the server
};

struct CompanionPlan {
  CompanionStep step = CompanionStep::kCurrent;
  // What a fetched checker must be: signed for its role, of the announced revision
  // (so that a stale file on the server cannot start an update loop), and at its
  // floor. A fetched replacer must be at its floor, and no older than a trusted one
  // in place.
  RevisionRule checker;
  RevisionRule replacer;
  // Whether a trusted checker still runs when none can be fetched: the one in place.
  bool checkerInPlaceRuns = false;
};

// The self-update's decision: whether the companions are fetched, under which rules,
// and what runs when the checker does not come.
CompanionPlan PlanCompanions(const CompanionFacts& facts);

// Runs the self-update, the update checker, and hands over to the file replacer
// when a new executable is ready (ending the process). Right after a hand-over (the
// replacer's word, update/install_records.h) nothing of that runs; while a replacer of
// this folder still installs, the process ends at once.
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
