#pragma once
// Fetching and checking companion programs on Windows: transfers through
// SafeDownload within their limits, checks through WinTrust, moves in one step.
#include "update/InstallRules.h"
#include "update/win32/ProgramTrust_win32.h"
#include "update/win32/http_win32.h"

namespace tindra::win32 {

class Win32CompanionFiles : public CompanionFiles {
 public:
  explicit Win32CompanionFiles(TransferLimits limits = {}) : limits_(limits) {}

  Signature OwnSignature() override { return inspector_.OwnSignature(); }
  Signature SignatureOf(const std::u16string& path) override {
    return inspector_.SignatureOf(path);
  }
  std::string HeadOf(const std::u16string& path) override { return inspector_.HeadOf(path); }
  std::u16string VersionOf(const std::u16string& path) override {
    return inspector_.VersionOf(path);
  }
  ProgramNames NamesOf(const std::u16string& path) override { return inspector_.NamesOf(path); }
  int16_t DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveFile(const std::u16string& path) override;
  std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) override;

 private:
  TransferLimits limits_;
  Win32ProgramInspector inspector_;
};

// Deletes the file at `path`, clearing its read-only attribute when that is what
// stands in the way. True when no file is there afterwards.
bool RemoveProgramFile(const std::u16string& path);

// Seconds since 1970 (UTC), for the failed-install record.
int64_t UnixTimeNow();
// The failed-install record at `path`; nothing when there is none or it is damaged.
std::optional<FailedInstall> ReadFailedInstall(const std::u16string& path);
// Writes the record (replacing an older one, read-only or not); false when it cannot.
bool WriteFailedInstall(const std::u16string& path, const FailedInstall& record);

}  // namespace tindra::win32
