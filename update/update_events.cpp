#include "update/update_events.h"

#include <chrono>
#include <cstdio>

#include "common/text.h"
#include "update/install_files.h"
#include "update/install_records.h"

namespace tindra {

namespace {

std::u16string Hex(uint32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%08X", static_cast<unsigned>(code));
  return Ascii(buf);
}

std::u16string SignatureReason(ProgramInspector& inspector, HeldFile& held, const Signature& file) {
  if (!TrustsAnyProgram(inspector)) return u"this program is unsigned";
  if (held.Image().empty()) return u"missing or unreadable";
  switch (file.status) {
    case SignatureStatus::kNoSignature:
      return u"unsigned";
    case SignatureStatus::kBadDigest:
      return u"tampered";
    case SignatureStatus::kBadSignature:
      return u"bad signature";
    default:
      return file.signerKey.empty() ? u"bad signature" : u"foreign signer";
  }
}

std::u16string RuleText(const RevisionRule& rule) {
  std::u16string text;
  if (rule.exact) text = u", wanted " + ToDecimal(*rule.exact);
  if (rule.atLeast) text += u", wanted at least " + ToDecimal(*rule.atLeast);
  return text;
}

}  // namespace

void LogCheck(UpdateLog& log, const std::u16string& path, bool trusted, std::u16string reason) {
  UpdateEvent e;
  e.step = u"check";
  e.file = FileNameOf(path);
  e.verdict = trusted ? u"trusted" : u"refused";
  e.reason = std::move(reason);
  log.Write(e);
}

std::u16string OtherExitReason(uint32_t code) {
  return code >= 0xC0000000u ? u"crashed with exception " + Hex(code) : u"unknown exit code";
}

void LogEnd(UpdateLog& log, uint32_t code, bool ok, std::u16string reason) {
  UpdateEvent e;
  e.step = u"end";
  e.verdict = ok ? u"ok" : u"failed";
  e.reason = std::move(reason);
  e.exitCode = code;
  log.Write(e);
}

std::u16string RefusalReason(ProgramInspector& inspector, HeldFile& held, const ProgramCheck& check,
                             const RevisionRule& rule) {
  switch (check.verdict) {
    case ProgramVerdict::kTrusted:
      return u"";
    case ProgramVerdict::kForeign:
      return SignatureReason(inspector, held, check.signature);
    case ProgramVerdict::kNotAProgram:
      return u"not a program";
    case ProgramVerdict::kWrongRole: {
      const std::u16string& named = check.names.originalFilename;
      return u"wrong role: it is " + (named.empty() ? u"no named program" : named);
    }
    case ProgramVerdict::kWrongRevision:
      return u"wrong revision: " + (check.revision ? ToDecimal(*check.revision) : u"none") +
             RuleText(rule);
  }
  return u"refused";
}

ProgramCheck CheckAndLog(UpdateLog& log, ProgramInspector& inspector, HeldFile& held,
                         const std::u16string& path, std::u16string_view roleFile,
                         const RevisionRule& rule, std::u16string* reason) {
  const ProgramCheck check = CheckHeldProgram(inspector, held, roleFile, rule);
  std::u16string why = RefusalReason(inspector, held, check, rule);
  if (reason) *reason = why;
  LogCheck(log, path, check.verdict == ProgramVerdict::kTrusted, std::move(why));
  return check;
}

std::u16string UtcText(int64_t secondsSince1970) {
  using namespace std::chrono;
  const sys_seconds at{seconds{secondsSince1970}};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char buf[40];
  std::snprintf(buf, sizeof(buf), "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
  return Ascii(buf);
}

std::u16string BackoffReason(const FailedInstall& record) {
  const int64_t backoff = BackoffSeconds(record.failures);
  const int64_t days = backoff / (24 * 60 * 60);
  const std::u16string times =
      ToDecimal(record.failures) + (record.failures == 1 ? u" time" : u" times");
  const std::u16string until = ToDecimal(days) + (days == 1 ? u" day" : u" days") +
                               u" from the last failure, until " + UtcText(record.when + backoff);
  std::u16string text = !record.refusedSha256.empty()
                            ? u"the file served for revision " + ToDecimal(record.revision) +
                                  u" is the one refused " + times + u" (sha256 " +
                                  Ascii(record.refusedSha256) + u"); dropped unchecked for " + until
                            : u"revision " + ToDecimal(record.revision) + u" failed to install " +
                                  times + u"; held back " + until;
  if (!record.reason.empty()) text += u" (" + record.reason + u")";
  return text;
}

void LogRevisions(UpdateLog& log, std::u16string_view file, std::optional<int32_t> announced,
                  std::u16string_view localRole, std::optional<int32_t> local) {
  auto revision = [](std::optional<int32_t> r) { return r ? ToDecimal(*r) : u"none"; };
  log.Write({.step = u"version",
             .file = std::u16string(file),
             .verdict = !announced                      ? u"failed"
                        : local && *local >= *announced ? u"current"
                                                        : u"behind",
             .reason = u"announced " + revision(announced) + u", " + std::u16string(localRole) +
                       u" " + revision(local)});
}

}  // namespace tindra
