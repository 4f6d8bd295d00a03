#include "update/install_records.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "common/text.h"

namespace tindra {

std::string FormatFailedInstall(const FailedInstall& r) {
  std::string text = "revision=" + std::to_string(r.revision) +
                     "\r\nwhen=" + std::to_string(r.when) +
                     "\r\nfailures=" + std::to_string(r.failures) + "\r\n";
  if (!r.refusedSha256.empty()) text += "sha256=" + r.refusedSha256 + "\r\n";
  if (r.reason.empty()) return text;
  std::string reason = Utf16ToUtf8(r.reason);
  for (char& c : reason) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  // Cut at a character's start, so that the bytes kept stay UTF-8.
  size_t cut = std::min(reason.size(), kFailedReasonMax);
  while (cut < reason.size() && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80) --cut;
  reason.resize(cut);
  while (text.size() + 2 <= kFailedRecordHead) text += "\r\n";
  text.resize(kFailedRecordHead, '\n');
  return text + "reason=" + reason + "\r\n";
}

namespace {

// Lines "key=number" (CR LF or LF), each key of `keys` once at most, numbers not
// negative; nothing for any other line, but for a line "reason=text" where `reason` is
// given (the text, UTF-8, goes there) and one "sha256=text" where `sha256` is. The
// numbers in the order of `keys`, -1 for a key not given.
std::optional<std::vector<int64_t>> ParseNumberLines(std::string_view text,
                                                     std::initializer_list<std::string_view> keys,
                                                     std::u16string* reason = nullptr,
                                                     std::string* sha256 = nullptr) {
  std::vector<int64_t> values(keys.size(), -1);
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = line.substr(0, eq);
    std::string_view value = line.substr(eq + 1);
    if (reason && key == "reason") {
      *reason = Utf8ToUtf16(value);
      continue;
    }
    if (sha256 && key == "sha256") {
      if (!sha256->empty()) return std::nullopt;
      sha256->assign(value);
      if (sha256->empty()) return std::nullopt;
      continue;
    }
    int64_t n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || ptr != value.data() + value.size() || n < 0) return std::nullopt;
    size_t i = 0;
    for (std::string_view k : keys) {
      if (k == key) break;
      ++i;
    }
    if (i == keys.size() || values[i] >= 0) return std::nullopt;
    values[i] = n;
  }
  return values;
}

}  // namespace

std::optional<FailedInstall> ParseFailedInstall(std::string_view text) {
  std::u16string reason;
  std::string sha256;
  const std::optional<std::vector<int64_t>> v =
      ParseNumberLines(text, {"revision", "when", "failures"}, &reason, &sha256);
  if (!v) return std::nullopt;
  const int64_t revision = (*v)[0], when = (*v)[1], failures = (*v)[2];
  if (revision < 0 || revision > INT32_MAX || when < 0 || failures < 1 || failures > INT32_MAX) {
    return std::nullopt;
  }
  const bool hex = std::all_of(sha256.begin(), sha256.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  });
  if (!hex || (!sha256.empty() && sha256.size() != 64)) return std::nullopt;
  return FailedInstall{static_cast<int32_t>(revision), when, static_cast<int32_t>(failures),
                       std::move(reason), std::move(sha256)};
}

bool IsRefusal(const FailedInstall& record) {
  return !record.refusedSha256.empty() || record.reason == kEarlierRefusalReason;
}

std::optional<FailedInstall> ReadFailedInstall(ProgramFiles& files, const std::u16string& path) {
  // A record is a few short lines and its reason; anything longer is not one.
  std::optional<std::string> text =
      files.ReadSmallFile(path, kFailedRecordHead + kFailedReasonMax + 16);
  if (!text) return std::nullopt;
  return ParseFailedInstall(*text);
}

bool WriteFailedInstall(ProgramFiles& files, const std::u16string& path,
                        const FailedInstall& record) {
  return files.WriteSmallFile(path, FormatFailedInstall(record));
}

int64_t BackoffSeconds(int32_t failures) {
  const int64_t day = 24 * 60 * 60;
  const int32_t doublings = failures <= 1 ? 0 : (failures - 1 > 5 ? 5 : failures - 1);
  return day << doublings;
}

bool BackoffRuns(const FailedInstall& record, int64_t now) {
  return now >= record.when && now - record.when < BackoffSeconds(record.failures);
}

bool MayFetch(const std::optional<FailedInstall>& record, int32_t latest, int64_t now) {
  return !record || record->revision != latest || IsRefusal(*record) || !BackoffRuns(*record, now);
}

namespace {

// The failures before one more of the same kind: those of `previous` when it is of the
// same revision and kind (and, for a refusal, of the same file), else none.
int32_t FailuresBefore(const std::optional<FailedInstall>& previous, int32_t revision,
                       std::string_view sha256) {
  const bool sameKind =
      previous && IsRefusal(*previous) == !sha256.empty() && previous->refusedSha256 == sha256;
  return sameKind && previous->revision == revision && previous->failures < INT32_MAX
             ? previous->failures
             : 0;
}

}  // namespace

FailedInstall NextFailure(const std::optional<FailedInstall>& previous, int32_t revision,
                          int64_t now) {
  return FailedInstall{revision, now, FailuresBefore(previous, revision, "") + 1};
}

bool RecordFailedInstall(ProgramFiles& files, const std::u16string& recordPath, int32_t revision,
                         int64_t now, std::u16string reason) {
  FailedInstall failure = NextFailure(ReadFailedInstall(files, recordPath), revision, now);
  failure.reason = std::move(reason);
  return WriteFailedInstall(files, recordPath, failure);
}

bool RefusedBefore(const std::optional<FailedInstall>& record, int32_t revision,
                   std::string_view sha256, int64_t now) {
  return record && IsRefusal(*record) && record->revision == revision &&
         record->refusedSha256 == sha256 && BackoffRuns(*record, now);
}

FailedInstall NextRefusal(const std::optional<FailedInstall>& previous, int32_t revision,
                          std::string sha256, int64_t now) {
  const int32_t before = FailuresBefore(previous, revision, sha256);
  return FailedInstall{revision, now, before + 1, {}, std::move(sha256)};
}

bool RecordRefusal(ProgramFiles& files, const std::u16string& recordPath, int32_t revision,
                   std::string sha256, int64_t now, std::u16string reason) {
  if (sha256.empty()) return false;
  const std::optional<FailedInstall> previous = ReadFailedInstall(files, recordPath);
  if (previous && !IsRefusal(*previous) &&
      (previous->revision == revision || BackoffRuns(*previous, now))) {
    return false;
  }
  FailedInstall refusal = NextRefusal(previous, revision, std::move(sha256), now);
  refusal.reason = std::move(reason);
  return WriteFailedInstall(files, recordPath, refusal);
}

bool MayHandOver(const std::optional<FailedInstall>& record, std::optional<int32_t> revision,
                 int64_t now) {
  return revision && MayFetch(record, *revision, now);
}

namespace {
std::string HandBackText(std::u16string_view value) {
  return "value=" + Utf16ToUtf8(value) + "\r\n";
}
}  // namespace

bool WriteHandBack(ProgramFiles& files, const std::u16string& path, std::u16string_view value) {
  return files.WriteSmallFile(path, HandBackText(value));
}

bool TakeHandBack(ProgramFiles& files, const std::u16string& path, std::u16string_view value) {
  if (value.size() != kHandBackLength) return false;
  const std::optional<std::string> text = files.ReadSmallFile(path, 64);
  if (!text || *text != HandBackText(value)) return false;
  files.RemoveFile(path);
  return true;
}

std::string FormatPendingInstall(const PendingInstall& p) {
  return "revision=" + std::to_string(p.revision) + "\r\nwhen=" + std::to_string(p.when) + "\r\n";
}

std::optional<PendingInstall> ParsePendingInstall(std::string_view text) {
  const std::optional<std::vector<int64_t>> v = ParseNumberLines(text, {"revision", "when"});
  if (!v || (*v)[0] < 0 || (*v)[0] > INT32_MAX || (*v)[1] < 0) return std::nullopt;
  return PendingInstall{static_cast<int32_t>((*v)[0]), (*v)[1]};
}

bool WritePendingInstall(ProgramFiles& files, const std::u16string& path,
                         const PendingInstall& pending) {
  return files.WriteSmallFile(path, FormatPendingInstall(pending));
}

bool SettlePendingInstall(ProgramFiles& files, const std::u16string& pendingPath,
                          const std::u16string& recordPath, int32_t running, int64_t now) {
  const std::optional<std::string> text = files.ReadSmallFile(pendingPath, 1024);
  if (!text) return false;
  const std::optional<PendingInstall> pending = ParsePendingInstall(*text);
  // Installed (or nothing readable): nothing failed.
  if (!pending || pending->revision <= running) {
    files.RemoveFile(pendingPath);
    return false;
  }
  const std::optional<FailedInstall> record = ReadFailedInstall(files, recordPath);
  const bool recorded = record && !IsRefusal(*record) && record->revision == pending->revision &&
                        record->when >= pending->when;
  FailedInstall failure = NextFailure(record, pending->revision, pending->when);
  failure.reason = kHandOverNeverCameBack;
  const bool written = recorded || WriteFailedInstall(files, recordPath, failure);
  if (written || now < pending->when || now - pending->when >= BackoffSeconds(1)) {
    files.RemoveFile(pendingPath);
  }
  return true;
}

}  // namespace tindra
