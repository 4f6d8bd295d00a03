#include "update/tests/fake_platform.h"

#include "common/errors.h"
#include "common/text.h"

namespace tindra::testing {

namespace {
std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }
}  // namespace

std::string ProgramHead() {
  std::string head(0x200, '\0');
  head[0] = 'M';
  head[1] = 'Z';
  head[0x3C] = 0x40;
  head.replace(0x40, 4, std::string("PE\0\0", 4));
  head[0x40 + 4 + 18] = 0x02;  // an executable image
  head[0x40 + 24] = 0x0B;      // PE32
  head[0x40 + 25] = 0x01;
  return head;
}

FakePlatform::FakePlatform() : boxes_(*this) {}

void FakePlatform::AddFile(const std::u16string& path, const std::u16string& diskName) {
  std::u16string name = diskName;
  if (name.empty()) name = path.substr(path.rfind(u'\\') + 1);
  files[AsciiUpper(path)] = name;
}

void FakePlatform::Call(const std::string& service) {
  int n = ++calls_[service];
  for (const auto& [s, nth] : failures_) {
    if (s == service && nth == n) Raise(kErrPathNotFound);
  }
}

std::u16string FakePlatform::ProgramFolder() {
  Call("folder");
  return folder;
}

std::u16string FakePlatform::WindowsFolder() {
  Call("windows");
  return u"C:\\Windows";
}

std::u16string FakePlatform::ExeBaseName() {
  Call("base");
  return baseName;
}

int16_t FakePlatform::ProgramRevision() {
  Call("revision");
  return revision;
}

std::optional<std::u16string> FakePlatform::FindOrdinaryFile(const std::u16string& path) {
  Call("find");
  log.push_back("find " + U8(path));
  auto it = files.find(AsciiUpper(path));
  if (it == files.end()) return std::nullopt;
  return it->second;
}

std::u16string FakePlatform::GetFileVerNumber(const std::u16string& fileName, bool includeBuild,
                                              bool silent) {
  Call("ver");
  log.push_back("ver " + U8(fileName) + (includeBuild ? " build" : "") + (silent ? " silent" : ""));
  auto it = versions.find(fileName);
  return it == versions.end() ? u"" : it->second;
}

std::u16string FakePlatform::ReadUrlText(const std::u16string& url) {
  Call("read");
  log.push_back("read " + U8(url));
  auto it = urlTexts.find(url);
  return it == urlTexts.end() ? u"" : it->second;
}

int16_t FakePlatform::DownloadToFile(const std::u16string& url, const std::u16string& localPath) {
  Call("download");
  log.push_back("download " + U8(url) + " -> " + U8(localPath));
  auto it = downloadResults.find(url);
  return it == downloadResults.end() ? -1 : it->second;
}

bool FakePlatform::MoveHeld(const std::u16string& from, const std::u16string& to) {
  Call("move");
  log.push_back("move " + U8(from) + " -> " + U8(to));
  return !moveFails;
}

namespace {

// A held file of the fake: its checks are the platform's, its move is logged.
class FakeHeld : public HeldFile {
 public:
  FakeHeld(FakePlatform& p, std::u16string path) : p_(p), path_(std::move(path)) {}
  ~FakeHeld() override {
    if (p_.logHolds) p_.log.push_back("release " + U8(path_));
  }
  Signature OwnSignature() override { return p_.OwnSignature(); }
  Signature SignatureOf(const std::u16string& path) override { return p_.SignatureOf(path); }
  std::string HeadOf(const std::u16string& path) override { return p_.HeadOf(path); }
  std::u16string VersionOf(const std::u16string& path) override { return p_.VersionOf(path); }
  ProgramNames NamesOf(const std::u16string& path) override { return p_.NamesOf(path); }
  bool MoveOver(const std::u16string& target) override { return p_.MoveHeld(path_, target); }

 private:
  FakePlatform& p_;
  std::u16string path_;
};

}  // namespace

std::unique_ptr<HeldFile> FakePlatform::Hold(const std::u16string& path, HoldFor purpose) {
  Call("hold");
  if (logHolds) log.push_back("hold " + U8(path) + (purpose == HoldFor::kRun ? " run" : " rename"));
  for (const auto& u : unholdable) {
    if (u == path) return nullptr;
  }
  return std::make_unique<FakeHeld>(*this, path);
}

ProgramNames FakePlatform::NamesOf(const std::u16string& path) {
  auto it = names.find(path);
  if (it != names.end()) return it->second;
  std::u16string name = path.substr(path.rfind(u'\\') + 1);
  const std::u16string part = u".part";
  if (name.size() > part.size() && name.ends_with(part)) name.resize(name.size() - part.size());
  if (name.starts_with(u"New_")) name = name.substr(4);
  return ProgramNames{name, name.substr(0, name.rfind(u'.'))};
}

std::optional<FailedInstall> FakePlatform::ReadFailedInstall(const std::u16string& path) {
  auto it = records.find(path);
  if (it == records.end()) return std::nullopt;
  return it->second;
}

bool FakePlatform::WriteFailedInstall(const std::u16string& path, const FailedInstall& record) {
  log.push_back("record " + U8(path) + " " + std::to_string(record.revision) + " " +
                std::to_string(record.failures));
  if (recordWriteFails) return false;
  records[path] = record;
  return true;
}

void FakePlatform::RemoveFile(const std::u16string& path) {
  Call("remove");
  log.push_back("remove " + U8(path));
}

Signature FakePlatform::OwnSignature() { return own; }

Signature FakePlatform::SignatureOf(const std::u16string& path) {
  Call("signature");
  auto it = signatures.find(path);
  return it == signatures.end() ? own : it->second;
}

std::string FakePlatform::HeadOf(const std::u16string& path) {
  auto it = heads.find(path);
  return it == heads.end() ? ProgramHead() : it->second;
}

std::u16string FakePlatform::VersionOf(const std::u16string& path) {
  auto it = versions.find(path);
  return it == versions.end() ? u"" : it->second;
}

void FakePlatform::StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                       const std::u16string& parameters,
                                       const std::u16string& directory, const int16_t& hidden,
                                       const int16_t& minimized) {
  Call("wait");
  log.push_back("wait " + U8(fileName) + " | " + U8(parameters) + " | " + U8(directory) + " | " +
                std::to_string(ownerWindow) + " " + std::to_string(hidden) + " " +
                std::to_string(minimized));
}

void FakePlatform::StartCommand(const std::u16string& commandLine, int32_t windowState) {
  Call("cmd");
  log.push_back("cmd " + std::to_string(windowState) + " " + U8(commandLine));
}

void FakePlatform::ShowMessage(const std::u16string& text, uint32_t style) {
  Call("box");
  Show(text, style);
}

void FakePlatform::EndProcess() {
  log.push_back("end");
  throw ProcessEnded{};
}

void FakePlatform::Show(std::u16string_view text, uint32_t style) {
  log.push_back("box " + std::to_string(style) + " " + U8(text));
}

}  // namespace tindra::testing
