#pragma once
// What the update's steps write to the update log (update/update_log.h): the checks
// with the cause of a refusal, the transfers with their status and size, the
// companions' exit codes. The reasons are also what the failure record keeps.
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
// TrustedRevision, its check (under `rule`) logged the same way (a file that cannot be
// held as "missing or unreadable").
std::optional<int32_t> TrustedRevisionAndLog(const UpdateServices& s, const std::u16string& path,
                                             std::u16string_view roleFile,
                                             const RevisionRule& rule = {});
// The rule for a program kept in place: no older than `floor` (none when 0).
RevisionRule FloorRule(int32_t floor);

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

// The file name at the end of a path.
std::u16string FileNameOf(std::u16string_view path);

// Why a transfer ended early, for a "reason=": "ended by its 30 s bound", "ended by the
// 300 s start-up ceiling", ...; empty when no bound ended it.
std::u16string BoundReason(const TransferSeen& seen);

// Every transfer of `inner`, logged as a "read" or "download" line with its URL, HTTP
// status, bytes and verdict.
class LoggedNetwork : public UpdateNetwork {
 public:
  LoggedNetwork(UpdateNetwork& inner, UpdateLog& log) : inner_(inner), log_(log) {}
  TransferSeen LastTransfer() override { return inner_.LastTransfer(); }
  std::u16string ReadUrlText(const std::u16string& url) override;
  bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) override;
  bool DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveLeftoverDownloads(const std::u16string& folder,
                               std::initializer_list<std::u16string> partFiles) override {
    inner_.RemoveLeftoverDownloads(folder, partFiles);
  }

 private:
  void Logged(std::u16string_view step, const std::u16string& url, std::u16string_view file,
              bool ok);
  UpdateNetwork& inner_;
  UpdateLog& log_;
};

}  // namespace tindra
