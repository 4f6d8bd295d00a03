#include "update/install_rules.h"

#include <charconv>

#include "update/companion_rules.h"

namespace tindra {

std::optional<int32_t> TrustedRevision(const UpdateServices& s, const std::u16string& path,
                                       std::u16string_view roleFile) {
  std::unique_ptr<HeldFile> held = s.files.Hold(path, HoldFor::kRun);
  if (!held) return std::nullopt;
  const ProgramCheck check = CheckHeldProgram(s.trust, *held, roleFile);
  if (check.verdict != ProgramVerdict::kTrusted) return std::nullopt;
  return check.revision;
}

Fetched FetchCompanion(const UpdateServices& s, const std::u16string& url,
                       const std::u16string& target, std::u16string_view roleFile,
                       const RevisionRule& rule) {
  const std::u16string part = target + kPartSuffix;
  Fetched result = Fetched::kNotFetched;
  if (s.network.DownloadToFile(url, part)) {
    std::unique_ptr<HeldFile> held = s.files.Hold(part, HoldFor::kRename);
    if (held) {
      if (CheckHeldProgram(s.trust, *held, roleFile, rule).verdict != ProgramVerdict::kTrusted) {
        result = Fetched::kRefused;
      } else if (held->MoveOver(target)) {
        return Fetched::kDone;
      }
    }
  }
  s.files.RemoveFile(part);
  return result;
}

bool EnsureTrustedCompanion(const UpdateServices& s, const std::u16string& url,
                            const std::u16string& path, std::u16string_view roleFile,
                            int32_t floor) {
  RevisionRule rule;
  if (floor > 0) rule.atLeast = floor;
  if (std::unique_ptr<HeldFile> held = s.files.Hold(path, HoldFor::kRun)) {
    if (CheckHeldProgram(s.trust, *held, roleFile, rule).verdict == ProgramVerdict::kTrusted) {
      return true;
    }
  }
  return FetchCompanion(s, url, path, roleFile, rule) == Fetched::kDone;
}

std::u16string FailedInstallFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_failed.txt";
}

std::string FormatFailedInstall(const FailedInstall& r) {
  return "revision=" + std::to_string(r.revision) + "\r\nwhen=" + std::to_string(r.when) +
         "\r\nfailures=" + std::to_string(r.failures) + "\r\n";
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
  // A record is a few short lines; anything longer is not one.
  std::optional<std::string> text = files.ReadSmallFile(path, 1024);
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
