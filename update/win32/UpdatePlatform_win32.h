#pragma once
// The update's platform services over Win32, WinINet and the shell.
#include "update/UpdatePlatform.h"
#include "update/win32/CompanionFiles_win32.h"

namespace tindra::win32 {

class Win32UpdatePlatform : public UpdatePlatform {
 public:
  std::u16string ProgramFolder() override;
  std::u16string WindowsFolder() override;
  std::u16string ExeBaseName() override;
  int16_t ProgramRevision() override;
  std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) override;
  std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild,
                                  bool silent) override;
  std::u16string ReadUrlText(const std::u16string& url) override;
  int16_t DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveFile(const std::u16string& path) override { files_.RemoveFile(path); }
  std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) override {
    return files_.Hold(path, purpose);
  }
  ProgramNames NamesOf(const std::u16string& path) override { return files_.NamesOf(path); }
  Signature OwnSignature() override { return files_.OwnSignature(); }
  Signature SignatureOf(const std::u16string& path) override { return files_.SignatureOf(path); }
  std::string HeadOf(const std::u16string& path) override { return files_.HeadOf(path); }
  std::u16string VersionOf(const std::u16string& path) override { return files_.VersionOf(path); }
  void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                           const std::u16string& parameters, const std::u16string& directory,
                           const int16_t& hidden, const int16_t& minimized) override;
  void StartCommand(const std::u16string& commandLine, int32_t windowState) override;
  std::optional<FailedInstall> ReadFailedInstall(const std::u16string& path) override {
    return win32::ReadFailedInstall(path);
  }
  bool WriteFailedInstall(const std::u16string& path, const FailedInstall& record) override {
    return win32::WriteFailedInstall(path, record);
  }
  int64_t Now() override { return UnixTimeNow(); }
  bool AfterFailedHandOver() override;
  void ShowMessage(const std::u16string& text, uint32_t style) override;
  [[noreturn]] void EndProcess() override;

 private:
  Win32CompanionFiles files_;
};

}  // namespace tindra::win32
