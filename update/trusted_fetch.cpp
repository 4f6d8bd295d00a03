#include "update/trusted_fetch.h"

#include "common/msgbox.h"
#include "update/install_files.h"
#include "update/install_records.h"
#include "update/update_events.h"

namespace tindra {

std::optional<int32_t> TrustedRevisionAndLog(const UpdateServices& s, const std::u16string& path,
                                             std::u16string_view roleFile,
                                             const RevisionRule& rule) {
  std::unique_ptr<HeldFile> held = s.files.Hold(path, HoldFor::kRun);
  if (!held) {
    LogCheck(s.log, path, false, u"missing or unreadable");
    return std::nullopt;
  }
  const ProgramCheck check = CheckAndLog(s.log, s.trust, *held, path, roleFile, rule);
  if (check.verdict != ProgramVerdict::kTrusted) return std::nullopt;
  return check.revision;
}

std::optional<int32_t> TrustedRevision(const UpdateServices& s, const std::u16string& path,
                                       std::u16string_view roleFile) {
  const UpdateServices unlogged{s.files, s.trust, s.network, s.processes, NoUpdateLog(), s.floors};
  return TrustedRevisionAndLog(unlogged, path, roleFile);
}

bool ClearPlaceFor(ProgramFiles& files, const std::u16string& path) {
  if (files.RemoveFile(path)) return true;
  if (files.IsFile(path)) return false;
  if (files.RemoveEmptyFolder(path)) return true;
  ShowMessage(
      u"새 버전을 받을 자리에 같은 이름의 폴더가 있어 업데이트할 수 없습니다."
      u" 이 폴더를 옮기거나 지워 주십시오.\r\n\r\n" +
          path,
      kMbOk | kMbIconError);
  return false;
}

namespace {

// Whether a refusal was decided by the file's own bytes, so that another check of the
// same file decides alike: unsigned, changed after signing, signed with another key,
// not a program, another role or revision. A signature the platform could not check,
// or a running program whose own signature fails, may go another way at the next
// start: such a refusal is not recorded, and the file is checked again.
bool DecidedByItsBytes(ProgramInspector& trust, const ProgramCheck& check) {
  if (check.verdict != ProgramVerdict::kForeign) return true;
  const Signature& file = check.signature;
  return TrustsAnyProgram(trust) &&
         (file.status == SignatureStatus::kNoSignature ||
          file.status == SignatureStatus::kBadDigest ||
          (file.status != SignatureStatus::kBadSignature && !file.signerKey.empty()));
}

// Checks the held download for `roleFile` under `rule`. With a failure record of the
// announced revision, the file is first named by its SHA-256: the file refused before
// is dropped unchecked during its back-off, and a file refused now for its bytes is
// recorded.
bool PassesCheck(const UpdateServices& s, HeldFile& held, const std::u16string& part,
                 std::u16string_view roleFile, const RevisionRule& rule,
                 const std::u16string& refusals) {
  const bool recorded = !refusals.empty() && rule.exact;
  const std::string sha256 = recorded ? s.trust.Sha256(held.Image()) : std::string();
  if (recorded && !sha256.empty()) {
    const std::optional<FailedInstall> record = ReadFailedInstall(s.files, refusals);
    if (RefusedBefore(record, *rule.exact, sha256, s.processes.UtcSecondsNow())) {
      s.log.Write({.step = u"check",
                   .file = FileNameOf(part),
                   .verdict = u"skipped",
                   .reason = BackoffReason(*record)});
      return false;
    }
  }
  std::u16string why;
  const ProgramCheck check = CheckAndLog(s.log, s.trust, held, part, roleFile, rule, &why);
  if (check.verdict == ProgramVerdict::kTrusted) return true;
  if (recorded && DecidedByItsBytes(s.trust, check)) {
    RecordRefusal(s.files, refusals, *rule.exact, sha256, s.processes.UtcSecondsNow(), why);
  }
  return false;
}

}  // namespace

Fetched FetchCompanion(const UpdateServices& s, const std::u16string& url,
                       const std::u16string& target, std::u16string_view roleFile,
                       const RevisionRule& rule, const std::u16string& refusals) {
  const std::u16string part = target + kPartSuffix;
  // Nothing is downloaded while the place is taken: the log says so, rather than
  // blame the transfer.
  if (s.files.Exists(part) && !ClearPlaceFor(s.files, part)) {
    s.log.Write({.step = u"download",
                 .file = FileNameOf(part),
                 .url = url,
                 .verdict = u"failed",
                 .reason = s.files.IsFile(part) ? u"a file of that name cannot be removed"
                                                : u"a folder of that name holds files"});
    return Fetched::kNotFetched;
  }
  Fetched result = Fetched::kNotFetched;
  if (s.network.DownloadToFile(url, part)) {
    std::unique_ptr<HeldFile> held = s.files.Hold(part, HoldFor::kRename);
    if (held) {
      if (!PassesCheck(s, *held, part, roleFile, rule, refusals)) {
        result = Fetched::kRefused;
      } else if (held->MoveOver(target)) {
        return Fetched::kDone;
      } else {
        s.log.Write({.step = u"install",
                     .file = FileNameOf(part),
                     .verdict = u"failed",
                     .reason = u"it could not be moved over " + FileNameOf(target)});
      }
    }
  }
  s.files.RemoveFile(part);
  return result;
}

bool EnsureTrustedCompanion(const UpdateServices& s, const std::u16string& url,
                            const std::u16string& path, std::u16string_view roleFile,
                            int32_t floor) {
  const RevisionRule rule = FloorRule(floor);
  if (std::unique_ptr<HeldFile> held = s.files.Hold(path, HoldFor::kRun)) {
    if (CheckAndLog(s.log, s.trust, *held, path, roleFile, rule).verdict ==
        ProgramVerdict::kTrusted) {
      return true;
    }
  }
  return FetchCompanion(s, url, path, roleFile, rule) == Fetched::kDone;
}

}  // namespace tindra
