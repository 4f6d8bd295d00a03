#include "update/update_events.h"

#include <chrono>
#include <cstdio>

#include "common/text.h"
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

void LogCheck(UpdateLog& log, const std::u16string& path, bool trusted, std::u16string reason) {
  UpdateEvent e;
  e.step = u"check";
  e.file = FileNameOf(path);
  e.verdict = trusted ? u"trusted" : u"refused";
  e.reason = std::move(reason);
  log.Write(e);
}

std::u16string RuleText(const RevisionRule& rule) {
  std::u16string text;
  if (rule.exact) text = u", wanted " + ToDecimal(*rule.exact);
  if (rule.atLeast) text += u", wanted at least " + ToDecimal(*rule.atLeast);
  return text;
}

}  // namespace

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

std::u16string FileNameOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
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

RevisionRule FloorRule(int32_t floor) {
  RevisionRule rule;
  if (floor > 0) rule.atLeast = floor;
  return rule;
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

std::u16string BoundReason(const TransferSeen& seen) {
  const std::u16string seconds = ToDecimal(static_cast<long long>((seen.boundMs + 999) / 1000));
  switch (seen.endedBy) {
    case TransferBound::kStepTimeout:
      return u"ended by the " + seconds + u" s step time-out";
    case TransferBound::kRequest:
      return u"ended by its " + seconds + u" s bound";
    case TransferBound::kCeiling:
      return u"ended by the " + seconds + u" s start-up ceiling";
    case TransferBound::kSize:
      return u"ended by the size limit";
    case TransferBound::kCancel:
      return u"cancelled";
    case TransferBound::kNone:
      break;
  }
  return u"";
}

std::u16string LoggedNetwork::ReadUrlText(const std::u16string& url) {
  std::u16string text = inner_.ReadUrlText(url);
  Logged(u"read", url, u"", !text.empty());
  return text;
}

bool LoggedNetwork::FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  const bool ok = inner_.FetchBody(url, maxBytes, body);
  Logged(u"read", url, u"", ok);
  return ok;
}

bool LoggedNetwork::DownloadToFile(const std::u16string& url, const std::u16string& localPath) {
  const bool ok = inner_.DownloadToFile(url, localPath);
  Logged(u"download", url, FileNameOf(localPath), ok);
  return ok;
}

void LoggedNetwork::Logged(std::u16string_view step, const std::u16string& url,
                           std::u16string_view file, bool ok) {
  const TransferSeen seen = inner_.LastTransfer();
  UpdateEvent e;
  e.step = step;
  e.file = file;
  e.url = url;
  if (seen.status) e.status = seen.status;
  e.bytes = seen.bytes;
  e.verdict = ok ? u"ok" : u"failed";
  if (!ok) {
    if (seen.endedBy != TransferBound::kNone) {
      e.reason = BoundReason(seen);
    } else if (seen.status == 0) {
      e.reason = u"no answer from the server";
    } else if (seen.status < 200 || seen.status > 299) {
      e.reason = u"HTTP status " + ToDecimal(seen.status);
    } else if (seen.bytes == 0) {
      e.reason = u"empty body";
    } else {
      e.reason = u"incomplete, too large or too slow";
    }
  }
  log_.Write(e);
}

}  // namespace tindra
