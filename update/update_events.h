#pragma once
// What the update's steps write to the update log (update/update_log.h): the checks
// with the cause of a refusal, the revisions announced and held back, the companions'
// exit codes. The reasons are also what the failure record keeps. The transfers are
// logged by update/logged_network.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/install_records.h"
#include "update/update_services.h"

namespace tindra {

// Why `check` refused the held file: "unsigned", "tampered", "foreign signer", "bad
// signature", "missing or unreadable", "this program is unsigned", "not a program",
// "wrong role: ..." or "wrong revision: ...". Empty for kTrusted.
std::u16string RefusalReason(ProgramInspector& inspector, HeldFile& held, const ProgramCheck& check,
                             const RevisionRule& rule);

// CheckHeldProgram of the file held from `path`, its verdict logged as a "check" line;
// `reason`, when given, gets the refusal's reason (empty when trusted).
ProgramCheck CheckAndLog(UpdateLog& log, ProgramInspector& inspector, HeldFile& held,
                         const std::u16string& path, std::u16string_view roleFile,
                         const RevisionRule& rule = {}, std::u16string* reason = nullptr);
// A "check" line for the file at `path`: "trusted", or "refused" for `reason`.
void LogCheck(UpdateLog& log, const std::u16string& path, bool trusted, std::u16string reason);

// What an exit code no companion gives itself means: an exception code ends a program
// that crashed ("crashed with exception 0xC0000005"); anything else is unknown. The
// companions' own codes are explained beside them (update_checker.h, file_replacer.h).
std::u16string OtherExitReason(uint32_t code);
// A companion's own last line: step "end", its exit code, whether that is success,
// and what it means.
void LogEnd(UpdateLog& log, uint32_t code, bool ok, std::u16string reason);

// How a revision's failed installs hold it back, for a "skipped" line: the revision,
// the failures and when the back-off ends ("2026-12-10 16:09 UTC"); for a refused
// file, that the file served is that one, dropped unchecked until then.
std::u16string BackoffReason(const FailedInstall& record);
// A time given in seconds since 1970 as "2026-12-10 16:09 UTC".
std::u16string UtcText(int64_t secondsSince1970);

// A "version" line at each start: the revision the server announces for `file` (none
// when it announces nothing readable) against the one `localRole` ("running", "in
// place"; none when there is none), so that an update held back shows in the log.
// Its verdict: "current", "behind", or "failed" when nothing readable was announced.
void LogRevisions(UpdateLog& log, std::u16string_view file, std::optional<int32_t> announced,
                  std::u16string_view localRole, std::optional<int32_t> local);

}  // namespace tindra
