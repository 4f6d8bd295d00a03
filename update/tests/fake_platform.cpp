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

bool FakePlatform::MoveOver(const std::u16string& from, const std::u16string& to) {
  Call("move");
  log.push_back("move " + U8(from) + " -> " + U8(to));
  return !moveFails;
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
