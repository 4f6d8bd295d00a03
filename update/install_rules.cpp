#include "update/install_rules.h"

#include <algorithm>
#include <charconv>

#include "common/text.h"
#include "update/companion_rules.h"
#include "update/update_events.h"

namespace tindra {

bool FetchCompanion(const UpdateServices& s, const std::u16string& url,
                    const std::u16string& target, std::u16string_view roleFile,
                    const RevisionRule& rule) {
  const std::u16string part = target + kPartSuffix;
  if (s.network.DownloadToFile(url, part)) {
    std::unique_ptr<HeldFile> held = s.files.Hold(part, HoldFor::kRename);
    if (held && CheckAndLog(s.log, *held, part, roleFile, rule) == ProgramVerdict::kTrusted &&
        held->MoveOver(target)) {
      return true;
    }
  }
  s.files.RemoveFile(part);
  return false;
}

bool EnsureTrustedCompanion(const UpdateServices& s, const std::u16string& url,
                            const std::u16string& path, std::u16string_view roleFile) {
  return CheckAndLog(s.log, s.trust, path, roleFile) == ProgramVerdict::kTrusted ||
         FetchCompanion(s, url, path, roleFile);
}

std::u16string FailedInstallFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_failed.txt";
}

std::string FormatFailedInstall(const FailedInstall& r) {
  std::string text = "revision=" + std::to_string(r.revision) +
                     "\r\nwhen=" + std::to_string(r.when) +
                     "\r\nfailures=" + std::to_string(r.failures) + "\r\n";
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

std::optional<FailedInstall> ParseFailedInstall(std::string_view text) {
  FailedInstall r;
  int seen = 0;
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
    if (key == "reason") {
      r.reason = Utf8ToUtf16(value);
      continue;
    }
    int64_t n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || ptr != value.data() + value.size() || n < 0) return std::nullopt;
    if (key == "revision" && n <= INT32_MAX) {
      r.revision = static_cast<int32_t>(n);
      seen |= 1;
    } else if (key == "when") {
      r.when = n;
      seen |= 2;
    } else if (key == "failures" && n >= 1 && n <= INT32_MAX) {
      r.failures = static_cast<int32_t>(n);
      seen |= 4;
    } else {
      return std::nullopt;
    }
  }
  if (seen != 7) return std::nullopt;
  return r;
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

bool MayFetch(const std::optional<FailedInstall>& record, int32_t latest, int64_t now) {
  if (!record || record->revision != latest) return true;
  return now < record->when || now - record->when >= BackoffSeconds(record->failures);
}

FailedInstall NextFailure(const std::optional<FailedInstall>& previous, int32_t revision,
                          int64_t now) {
  const int32_t before =
      previous && previous->revision == revision && previous->failures < INT32_MAX
          ? previous->failures
          : 0;
  return FailedInstall{revision, now, before + 1};
}

bool MayHandOver(const std::optional<FailedInstall>& record, std::optional<int32_t> revision,
                 int64_t now, bool afterFailedHandOver) {
  return revision && !afterFailedHandOver && MayFetch(record, *revision, now);
}

bool ShouldRollBack(const FirstRun& run) { return !run.ready && run.ended && run.exitCode != 0; }

}  // namespace tindra
