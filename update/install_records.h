#pragma once
// The records that keep a failed update from locking the user out, small files in the
// program folder (named by update/install_files.h): an install that failed is
// recorded, and the same revision is not fetched or handed over again for a while; the
// replacer hands back to the old program with a one-time value; a hand-over the
// replacer never decided is found at the next start and counts as a failure.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/program_files.h"

namespace tindra {

// What the replacer leaves in the program folder when it could not install a
// revision: the revision, when (seconds since 1970), how many times in a row, and
// why the last time (the update log's reason; may be empty).
//
// The checker (and Tindra, for the checker) leaves the same record when a file served
// for an announced revision is refused at its check; it then names that file by its
// SHA-256. A refusal says nothing against the revision, only against that file: a
// forged or misplaced answer must not hold back the genuine file for the revision
// when the server serves it. So such a record holds back no revision; it only lets
// the same file, fetched again, be dropped unchecked during its back-off. The
// back-off of a revision is for installs that ran (or could not run) with a file that
// passed its check: the new program crashed and was rolled back, it could not be
// moved in place, no replacer could take over.
struct FailedInstall {
  int32_t revision = 0;
  int64_t when = 0;
  int32_t failures = 0;
  std::u16string reason;
  // For a refusal at the check: the refused file's SHA-256, 64 lowercase hexadecimal
  // digits (`failures` then counts that file's refusals). Empty for an install.
  std::string refusedSha256;
  bool operator==(const FailedInstall&) const = default;
};
// The reason earlier checkers recorded a refused file with, by its revision alone.
inline constexpr char16_t kEarlierRefusalReason[] = u"the served program failed its check";
// Whether the record is of a refused file rather than of an install: one with a
// SHA-256, or one an earlier checker wrote for a refusal.
bool IsRefusal(const FailedInstall& record);

// "revision=28\r\nwhen=1700000000\r\nfailures=1\r\n", for a refusal then
// "sha256=...\r\n", then, when there is a reason, "reason=...\r\n" (UTF-8, one line, at
// most kFailedReasonMax bytes) starting at byte kFailedRecordHead: the lines between
// are empty. Programs of earlier revisions read only the first kFailedRecordHead bytes
// and refuse any line they do not know, so the reason stays out of their sight, and
// they take a refusal's record for none: they too hold no revision back for a refused
// file (they check what is served again). Reading takes the lines in any order and
// gives nothing for anything else.
inline constexpr size_t kFailedRecordHead = 1024;
inline constexpr size_t kFailedReasonMax = 512;
std::string FormatFailedInstall(const FailedInstall& record);
std::optional<FailedInstall> ParseFailedInstall(std::string_view text);
// The record at `path`: nothing when there is none or it is damaged.
std::optional<FailedInstall> ReadFailedInstall(ProgramFiles& files, const std::u16string& path);
// Writes it, replacing an older one (read-only or not); false when it cannot.
bool WriteFailedInstall(ProgramFiles& files, const std::u16string& path,
                        const FailedInstall& record);

// How long a revision that failed `failures` times is left alone: a day, doubling
// with each further failure, at most 32 days.
int64_t BackoffSeconds(int32_t failures);
// Whether the record's back-off runs at `now`: a day from its time, doubling with each
// further failure (not while the clock stands before it).
bool BackoffRuns(const FailedInstall& record, int64_t now);
// Whether the checker may fetch revision `latest` at `now`: always when no install
// failed, another revision is announced or the record is of a refused file; for the
// failed revision only once its back-off is over.
bool MayFetch(const std::optional<FailedInstall>& record, int32_t latest, int64_t now);
// The record after one more failed install of `revision` at `now`. Refusals do not
// count: a forged answer never lengthens the wait for a genuine release.
FailedInstall NextFailure(const std::optional<FailedInstall>& previous, int32_t revision,
                          int64_t now);
// Records one more failed install of `revision` at `now`, and why, over the record at
// `recordPath`; false when it cannot be written.
bool RecordFailedInstall(ProgramFiles& files, const std::u16string& recordPath, int32_t revision,
                         int64_t now, std::u16string reason = {});

// Whether the file of SHA-256 `sha256`, served for `revision`, is the very file whose
// refusal the record holds, its back-off still running: it is then dropped without
// another check, and not recorded again. Any other file is checked.
bool RefusedBefore(const std::optional<FailedInstall>& record, int32_t revision,
                   std::string_view sha256, int64_t now);
// The record after one more refusal of the file `sha256` served for `revision` at
// `now`: the same file again counts on, another one starts at one.
FailedInstall NextRefusal(const std::optional<FailedInstall>& previous, int32_t revision,
                          std::string sha256, int64_t now);
// Records that the file `sha256` served for `revision` was refused at its check, and
// why, over the record at `recordPath`. An install's record of that revision, or one
// whose back-off still runs, stays, so that a refusal never cuts short the wait for a
// release that failed once installed (nor the doubling of its next wait); and without
// a SHA-256 (the platform could not compute it) nothing is recorded, since a record
// without one would hold the revision back. False when nothing was written.
bool RecordRefusal(ProgramFiles& files, const std::u16string& recordPath, int32_t revision,
                   std::string sha256, int64_t now, std::u16string reason);

// The environment variable the replacer sets for the old program it starts again
// after it could not install the new one; the program clears it at once. Its value
// is a one-time value of kHandBackLength letters that the replacer also leaves in
// the hand-back file: only a value that file holds counts, so that a variable set
// from outside is ignored. (Seven letters: earlier programs take any value of one
// to seven letters.)
inline constexpr char16_t kFailedHandOverVariable[] = u"TINDRA_INSTALL_FAILED";
inline constexpr size_t kHandBackLength = 7;
// The same for the new program the replacer starts once it is in place, with the
// value in the file InstallFiles::Installed: that start runs no update of its own, so
// that the user's start, the hand-over included, stays within one start-up ceiling.
inline constexpr char16_t kInstalledVariable[] = u"TINDRA_INSTALLED";
// The hand-back file (InstallFiles::HandBack, or InstallFiles::Installed) holds
// "value=" + the value.
bool WriteHandBack(ProgramFiles& files, const std::u16string& path, std::u16string_view value);
// Whether the hand-back file at `path` holds `value` (not empty); the file is then
// removed, so that the value counts once.
bool TakeHandBack(ProgramFiles& files, const std::u16string& path, std::u16string_view value);

// What a program leaves before it hands over to the replacer: the new revision and
// when. The replacer removes it once the install is decided; a later start of an
// older revision that still finds it knows that the replacer never finished.
struct PendingInstall {
  int32_t revision = 0;
  int64_t when = 0;
  bool operator==(const PendingInstall&) const = default;
};
// "revision=28\r\nwhen=1700000000\r\n".
std::string FormatPendingInstall(const PendingInstall& pending);
std::optional<PendingInstall> ParsePendingInstall(std::string_view text);
bool WritePendingInstall(ProgramFiles& files, const std::u16string& path,
                         const PendingInstall& pending);
// The reason a pending install that never came back is recorded and logged with.
inline constexpr char16_t kHandOverNeverCameBack[] = u"the last hand-over never came back";
// Settles a pending install found at the start of a program of revision `running`:
// one of a newer revision than the running one failed, and is recorded at
// `recordPath` like a failed install, with that reason (unless the replacer recorded
// it already). The pending file then goes; it stays, for a day, only when the record
// cannot be written. True when an install failed so: this start hands over no more.
// Called only while no replacer of the folder holds its install lock: a start while one
// does ends at once instead.
bool SettlePendingInstall(ProgramFiles& files, const std::u16string& pendingPath,
                          const std::u16string& recordPath, int32_t running, int64_t now);

// Whether a program may hand over to the replacer for a new program of `revision`
// (nothing when its revision cannot be read: the replacer could not install it
// either): not while the record's back-off for that revision runs. (Right after the
// replacer failed, the launcher stops before it gets here.)
bool MayHandOver(const std::optional<FailedInstall>& record, std::optional<int32_t> revision,
                 int64_t now);

}  // namespace tindra
