#pragma once
// The file replacer's work (Pellmora.exe), started by Tindra just before it ends as
//   Pellmora.exe OLD.exe;New_OLD.exe        (for example Tindra.exe;New_Tindra.exe)
// Both are bare file names of the program folder: OLD ends in ".exe" and the new
// file's name is "New_" + OLD; anything else changes nothing and ends with a
// message. It holds New_OLD.exe against writers, checks that it is a program signed
// by the same publisher as the replacer, whose version block names OLD.exe, of a
// newer revision than a trusted OLD.exe and no older than the build's floor, waits
// (at most ReplacerWaits::freeMs) until OLD.exe no longer runs and can be opened for
// exclusive writing, keeps the old program as a
// second name of the same file (OLD.exe.bak; OLD.exe.bak2 and on when that name
// cannot be freed) and renames the held new file over OLD.exe in one step, so that
// OLD.exe is never missing. If anything fails the old program stays as it was. It
// then starts OLD.exe, and watches a new one for at most ReplacerWaits::readyMs (its
// whole start-up): when it ends abnormally before the DDE service of that very process
// answers, shows its fatal error before then, or, from ReplacerWaits::answerFromMs on,
// answers no window message at one of the looks (held by a fault or hung; it is then
// ended, as one that showed its fatal error is), the old program is put back
// (only a backup that, held, still passes its check) and started instead. The backup
// is removed once the new program answers, or at the next update.
//
// When a new revision cannot be installed or is rolled back, the new file is
// removed and OLD's base name + "_failed.txt" records the revision and when, so
// that the checker leaves that revision alone for a while and no start repeats the
// attempt. The old program it starts again is told so as well: a one-time value in
// its environment (TellFailedHandOver) that OLD's base name + "_handback.txt" also
// holds, which holds where no record can be written. Once the install is decided
// it removes OLD's base name + "_pending.txt", which the program left before it
// handed over, unless no hand-back could be written either: the old program then
// settles the pending file as a failed install. Whatever goes wrong, the old program
// is started again.
//
// From its start until the new program is in place (or the install failed) it holds
// OLD's base name + "_install.lock": a start of the old program meanwhile ends at
// once instead of holding OLD.exe or taking the pending file for a hand-over that never
// came back. The new program it starts is told, like the old one after a failure
// (TINDRA_INSTALLED and OLD's base name + "_installed.txt"), that it was just
// installed, and runs no start-up update of its own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/update_services.h"

namespace tindra {

// The replacer's exit codes.
enum ReplacerExit : int {
  kReplaced = 0,
  kNotReplaced = 1,  // the new file missing or refused, OLD.exe busy or read-only, or the
                     // move failed
  kReplacerBadArgs = 2,
  kRolledBack = 3,
  kNotRolledBack = 4,  // the new program failed and could not be rolled back (or there
                       // was no old one)
};
// What the replacer's exit code means, for the log ("replaced", ...).
std::u16string ReplacerExitReason(uint32_t code);
// The replacer's own last line: step "end", its exit code and what it means.
void LogReplacerEnd(UpdateLog& log, uint32_t code);

// How long the replacer waits for the old program to be free, and for the new one
// to answer; how often it looks.
struct ReplacerWaits {
  uint32_t freeMs = 30000;
  // The new program's whole start-up: its start-up update's ceiling (300 s), should
  // it run one, and a minute's margin.
  uint32_t readyMs = 360000;
  uint32_t pollMs = 100;
  // How long a window of a program neither ready nor ended may take to answer.
  uint32_t answerMs = 5000;
  // From this long after its start a program still starting must answer its window
  // messages, looked at this often: one that has made no window by then, or stops
  // answering, is stuck.
  uint32_t answerFromMs = 60000;
  uint32_t lookEveryMs = 10000;
};

// The exit code of a new program the replacer ended because it was stuck
// (ERROR_TIMEOUT).
inline constexpr uint32_t kStuckExitCode = 1460;
// The exit code of a new program the replacer ended because it showed its fatal
// error (ERROR_FUNCTION_FAILED).
inline constexpr uint32_t kFatalExitCode = 1627;

// How a new program fared while the replacer watched it.
struct FirstRun {
  bool ready = false;  // its service answered
  bool ended = false;  // it ended before that, with exitCode
  uint32_t exitCode = 0;
  // Neither ready nor ended at the end of the watch, and none of its windows
  // answered (held by a fault, or hung): the replacer ended it.
  bool stuck = false;
  // It showed its fatal error before it was ready: the replacer ended it.
  bool fatal = false;
};
// A new program that ended abnormally before it was ready, showed its fatal error,
// or was stuck, is rolled back. One that is ready, still starting while it answers
// its window messages (a box waiting for the user) or that ended normally (it handed
// over again, or found another copy running) stays.
bool ShouldRollBack(const FirstRun& run);
// How it fared, as the reason a rollback records, and as a "watch" line.
std::u16string FirstRunReason(const FirstRun& run);
void LogFirstRun(UpdateLog& log, std::u16string_view program, const FirstRun& run);

// Who answers to a program's DDE service name.
class ServiceProbe {
 public:
  virtual ~ServiceProbe() = default;
  // The process identifier of the program whose service `service` answers a
  // connection within `waitMs`; nothing when none does.
  virtual std::optional<uint32_t> ServerOf(std::u16string_view service, uint32_t waitMs) = 0;
};

// The whole replacer: reads its command line (a box explains a bad one), replaces,
// watches and rolls back.
ReplacerExit RunReplacer(std::u16string_view commandLine, const UpdateServices& s,
                         ServiceProbe& probe, const ReplacerWaits& waits);

}  // namespace tindra
