#pragma once
// A scripted UpdatePlatform: a file table, version texts, server answers and
// download results; every call is logged, and any call of any service can be made
// to raise an error.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/msgbox.h"
#include "update/UpdatePlatform.h"

namespace tindra::testing {

// The first bytes of a 32-bit Windows executable image.
std::string ProgramHead();

// Thrown by EndProcess so that a test sees where the process would have ended.
struct ProcessEnded {};

class FakePlatform : public UpdatePlatform, public MessageBoxes {
 public:
  FakePlatform();

  // Scripted state.
  std::u16string folder = u"C:\\Prog";
  std::u16string baseName = u"Tindra";
  int16_t revision = 27;
  std::map<std::u16string, std::u16string> files;     // upper-cased path -> on-disk name
  std::map<std::u16string, std::u16string> versions;  // path -> GetFileVerNumber text
  std::map<std::u16string, std::u16string> urlTexts;  // url -> ReadUrlText text
  std::map<std::u16string, int16_t> downloadResults;  // url -> result (default -1)
  // What the inspector reports per path; by default every file is a program signed
  // like the running one.
  Signature own{SignatureStatus::kValid, "publisher key"};
  std::map<std::u16string, Signature> signatures;
  std::map<std::u16string, std::string> heads;
  // Version-block names per path; by default the names of the role the file is
  // kept for (its name without "New_" and ".part").
  std::map<std::u16string, ProgramNames> names;
  bool moveFails = false;
  std::vector<std::u16string> unholdable;  // paths that cannot be held
  bool logHolds = false;                   // log "hold" and "release" lines too
  std::map<std::u16string, FailedInstall> records;
  bool recordWriteFails = false;
  int64_t now = 1700000000;
  bool afterFailedHandOver = false;

  void AddFile(const std::u16string& path, const std::u16string& diskName = u"");
  // The `nth` call (1-based) of `service` raises error 76 (Path not found).
  void FailAt(const std::string& service, int nth) { failures_.emplace_back(service, nth); }

  // Everything observable, in order, as UTF-8 lines.
  std::vector<std::string> log;

  std::u16string ProgramFolder() override;
  std::u16string WindowsFolder() override;
  std::u16string ExeBaseName() override;
  int16_t ProgramRevision() override;
  std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) override;
  std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild,
                                  bool silent) override;
  std::u16string ReadUrlText(const std::u16string& url) override;
  int16_t DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveFile(const std::u16string& path) override;
  std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) override;
  ProgramNames NamesOf(const std::u16string& path) override;
  Signature OwnSignature() override;
  Signature SignatureOf(const std::u16string& path) override;
  std::string HeadOf(const std::u16string& path) override;
  std::u16string VersionOf(const std::u16string& path) override;
  void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                           const std::u16string& parameters, const std::u16string& directory,
                           const int16_t& hidden, const int16_t& minimized) override;
  void StartCommand(const std::u16string& commandLine, int32_t windowState) override;
  std::optional<FailedInstall> ReadFailedInstall(const std::u16string& path) override;
  bool WriteFailedInstall(const std::u16string& path, const FailedInstall& record) override;
  int64_t Now() override { return now; }
  bool AfterFailedHandOver() override { return afterFailedHandOver; }
  void ShowMessage(const std::u16string& text, uint32_t style) override;
  [[noreturn]] void EndProcess() override;

  // A held file's move, as the held file reports it.
  bool MoveHeld(const std::u16string& from, const std::u16string& to);

  // MessageBoxes: the error reports of the procedures.
  void Show(std::u16string_view text, uint32_t style) override;

 private:
  void Call(const std::string& service);
  std::map<std::string, int> calls_;
  std::vector<std::pair<std::string, int>> failures_;
  ScopedMessageBoxes boxes_;
};

}  // namespace tindra::testing
