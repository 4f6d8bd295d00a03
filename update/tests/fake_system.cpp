#include "update/tests/fake_system.h"

#include <cstdio>
#include <cstring>

#include "common/errors.h"
#include "common/text.h"
#include "fileutil/tests/test_blocks.h"
#include "update/install_records.h"

namespace tindra::testing {

namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }

// A started program of the fake: it ends when its run says so, on the fake's clock.
class FakeStarted : public StartedProgram {
 public:
  FakeStarted(FakeSystem& system, ProgramRun run, uint32_t id)
      : system_(system), run_(run), start_(system.ticks), id_(id) {}
  uint32_t Id() override { return id_; }
  std::optional<uint32_t> WaitForEnd(uint32_t waitMs) override {
    if (run_.endsAfterMs && system_.ticks + waitMs >= start_ + *run_.endsAfterMs) {
      system_.ticks = std::max(system_.ticks, start_ + *run_.endsAfterMs);
      return run_.exitCode;
    }
    system_.ticks += waitMs;
    return std::nullopt;
  }
  bool ShowedFatalError() override {
    return run_.fatalAfterMs && system_.ticks >= start_ + *run_.fatalAfterMs;
  }
  bool AnswersWindowMessages(uint32_t waitMs) override {
    if (!run_.answersWindows) system_.ticks += waitMs;
    return run_.answersWindows;
  }
  void End(uint32_t exitCode) override {
    system_.log.push_back("kill " + std::to_string(id_) + " " + std::to_string(exitCode));
    run_.endsAfterMs = system_.ticks - start_;
    run_.exitCode = exitCode;
  }

 private:
  FakeSystem& system_;
  ProgramRun run_;
  uint64_t start_;
  uint32_t id_;
};

// A held file of the fake: it keeps the signature and the bytes its file had when
// it was held, whatever happens at the path later; its move is the fake's.
class FakeHeld : public HeldFile {
 public:
  FakeHeld(FakeSystem& p, std::u16string path)
      : p_(p), path_(std::move(path)), signature_(p.SignatureOf(path_)), image_(p.ImageOf(path_)) {}
  ~FakeHeld() override {
    if (p_.logHolds) p_.log.push_back("release " + U8(path_));
  }
  Signature HeldSignature() override {
    if (p_.logHolds) p_.log.push_back("check " + U8(path_));
    return signature_;
  }
  std::string_view Image() override { return image_; }
  bool MoveOver(const std::u16string& target) override { return p_.MoveHeld(path_, target); }

 private:
  FakeSystem& p_;
  std::u16string path_;
  Signature signature_;
  std::string image_;
};

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

FakeSystem::FakeSystem() : boxes_(*this), source_(*this) {}

void FakeSystem::AddFile(const std::u16string& path, const std::u16string& diskName) {
  std::u16string name = diskName;
  if (name.empty()) name = path.substr(path.rfind(u'\\') + 1);
  files[AsciiUpper(path)] = name;
}

bool FakeSystem::HasFile(const std::u16string& path) const {
  return files.contains(AsciiUpper(path));
}

void FakeSystem::Call(const std::string& service) {
  int n = ++calls_[service];
  for (const auto& [s, nth] : failures_) {
    if (s == service && nth == n) Raise(kErrPathNotFound);
  }
}

std::u16string FakeSystem::ProgramFolder() {
  Call("folder");
  return folder;
}

std::u16string FakeSystem::WindowsFolder() {
  Call("windows");
  return u"C:\\Windows";
}

std::u16string FakeSystem::ProgramBaseName() {
  Call("base");
  return baseName;
}

int16_t FakeSystem::ProgramRevision() {
  Call("revision");
  return revision;
}

std::optional<std::u16string> FakeSystem::FindOrdinaryFile(const std::u16string& path) {
  Call("find");
  log.push_back("find " + U8(path));
  auto it = files.find(AsciiUpper(path));
  if (it == files.end()) return std::nullopt;
  return it->second;
}

bool FakeSystem::IsFile(const std::u16string& path) { return HasFile(path); }

bool FakeSystem::Exists(const std::u16string& path) {
  return HasFile(path) || folders.contains(AsciiUpper(path));
}

bool FakeSystem::IsReadOnly(const std::u16string& path) {
  return HasFile(path) && readOnly.contains(AsciiUpper(path));
}

bool FakeSystem::IsFree(const std::u16string&) { return ticks >= busyUntil; }

bool FakeSystem::RemoveFile(const std::u16string& path) {
  Call("remove");
  log.push_back("remove " + U8(path));
  files.erase(AsciiUpper(path));
  texts.erase(path);
  return !folders.contains(AsciiUpper(path));
}

bool FakeSystem::RemoveEmptyFolder(const std::u16string& path) {
  log.push_back("rmdir " + U8(path));
  if (!fullFolders.contains(AsciiUpper(path))) folders.erase(AsciiUpper(path));
  return !Exists(path);
}

bool FakeSystem::LinkOrCopy(const std::u16string& from, const std::u16string& to) {
  log.push_back("link " + U8(from) + " -> " + U8(to));
  if (linkFails || !HasFile(from) || Exists(to)) return false;
  AddFile(to);
  // The second name holds the same file.
  names[to] = NamesFor(from);
  auto copy = [&](auto& table) {
    if (auto it = table.find(from); it != table.end()) table[to] = it->second;
  };
  copy(versions);
  copy(signatures);
  copy(heads);
  return true;
}

void FakeSystem::MoveEntry(const std::u16string& from, const std::u16string& to) {
  files.erase(AsciiUpper(from));
  AddFile(to);
  auto carry = [&](auto& table) {
    auto it = table.find(from);
    if (it == table.end()) {
      table.erase(to);
      return;
    }
    auto value = it->second;
    table.erase(it);
    table[to] = value;
  };
  carry(versions);
  carry(signatures);
  carry(heads);
  carry(names);
}

bool FakeSystem::MoveOver(const std::u16string& from, const std::u16string& to) {
  Call("move");
  log.push_back("move " + U8(from) + " -> " + U8(to));
  if (moveFails || !HasFile(from)) return false;
  MoveEntry(from, to);
  return true;
}

bool FakeSystem::MoveHeld(const std::u16string& from, const std::u16string& to) {
  Call("move");
  log.push_back("move " + U8(from) + " -> " + U8(to));
  if (moveFails) return false;
  MoveEntry(from, to);
  return true;
}

std::unique_ptr<HeldFile> FakeSystem::Hold(const std::u16string& path, HoldFor purpose) {
  Call("hold");
  if (logHolds) log.push_back("hold " + U8(path) + (purpose == HoldFor::kRun ? " run" : " rename"));
  for (const auto& u : unholdable) {
    if (u == path) return nullptr;
  }
  if (purpose == HoldFor::kRename) {
    for (const auto& u : lockedForRename) {
      if (u == path) return nullptr;
    }
  }
  if (!HasFile(path)) return nullptr;
  return std::make_unique<FakeHeld>(*this, path);
}

ProgramCheck FakeSystem::CheckFile(const std::u16string& path, std::u16string_view roleFile,
                                   const RevisionRule& rule) {
  if (!HasFile(path)) AddFile(path);
  std::unique_ptr<HeldFile> held = Hold(path, HoldFor::kRename);
  return CheckHeldProgram(*this, *held, roleFile, rule);
}

namespace {
// A lock of the fake: it logs when it is taken and let go.
class FakeLock : public FileLock {
 public:
  FakeLock(FakeSystem& p, std::u16string path) : p_(p), path_(std::move(path)) {
    p_.heldLocks.insert(path_);
    p_.log.push_back("lock " + U8(path_));
  }
  ~FakeLock() override {
    p_.heldLocks.erase(path_);
    p_.log.push_back("unlock " + U8(path_));
  }

 private:
  FakeSystem& p_;
  std::u16string path_;
};
}  // namespace

std::unique_ptr<FileLock> FakeSystem::TakeLock(const std::u16string& path) {
  if (heldLocks.contains(path)) return nullptr;
  return std::make_unique<FakeLock>(*this, path);
}

std::optional<std::string> FakeSystem::ReadSmallFile(const std::u16string& path, size_t) {
  auto it = records.find(path);
  if (it != records.end()) return FormatFailedInstall(it->second);
  auto text = texts.find(path);
  if (text == texts.end()) return std::nullopt;
  return text->second;
}

bool FakeSystem::WriteSmallFile(const std::u16string& path, std::string_view bytes) {
  std::optional<FailedInstall> record = ParseFailedInstall(bytes);
  if (!record) {
    std::string line(bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    for (size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, " ");
    log.push_back("write " + U8(path) + " " + line);
    if (unwritable.contains(path)) return false;
    texts[path] = std::string(bytes);
    return true;
  }
  log.push_back("record " + U8(path) + " " + std::to_string(record->revision) + " " +
                std::to_string(record->failures) +
                (record->refusedSha256.empty() ? "" : " refused " + record->refusedSha256));
  if (recordWriteFails || unwritable.contains(path)) return false;
  records[path] = *record;
  return true;
}

Signature FakeSystem::OwnSignature() { return own; }

std::string FakeSystem::Sha256(std::string_view bytes) {
  auto it = digests_.find(bytes);
  if (it == digests_.end()) {
    char digest[65];
    std::snprintf(digest, sizeof(digest), "%064zx", digests_.size() + 1);
    it = digests_.emplace(std::string(bytes), digest).first;
  }
  return it->second;
}

Signature FakeSystem::SignatureOf(const std::u16string& path) const {
  auto it = signatures.find(path);
  return it == signatures.end() ? own : it->second;
}

ProgramNames FakeSystem::NamesFor(const std::u16string& path) const {
  if (auto it = names.find(path); it != names.end()) return it->second;
  std::u16string name = path.substr(path.rfind(u'\\') + 1);
  const std::u16string part = u".part";
  if (name.size() > part.size() && name.ends_with(part)) name.resize(name.size() - part.size());
  if (name.starts_with(u"New_")) name = name.substr(4);
  return ProgramNames{name, name.substr(0, name.rfind(u'.'))};
}

std::string FakeSystem::ImageOf(const std::u16string& path) const {
  if (auto head = heads.find(path); head != heads.end()) return head->second;
  // By default the names of the role the file is kept for: its name without "New_"
  // and ".part".
  const ProgramNames n = NamesFor(path);
  std::vector<TextValue> values = {{u"InternalName", n.internalName},
                                   {u"OriginalFilename", n.originalFilename}};
  if (auto it = versions.find(path); it != versions.end()) {
    values.push_back({u"FileVersion", it->second});
  }
  std::vector<uint8_t> image = PeImage(VersionRsrc(VersionBlock({{u"041204B0", values}})));
  image[0x44 + 18] |= 0x02;  // an executable image
  // The signature is part of a signed file's bytes: files signed otherwise differ.
  const Signature signature = SignatureOf(path);
  return std::string(image.begin(), image.end()) + "signature " +
         std::to_string(static_cast<int>(signature.status)) + " " + signature.signerKey;
}

std::u16string FakeSystem::ReadUrlText(const std::u16string& url) {
  Call("read");
  log.push_back("read " + U8(url));
  auto it = urlTexts.find(url);
  return it == urlTexts.end() ? u"" : it->second;
}

bool FakeSystem::FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  Call("fetch");
  log.push_back("fetch " + U8(url));
  auto it = bodies.find(url);
  if (it == bodies.end() || it->second.size() > maxBytes) return false;
  body = it->second;
  return true;
}

bool FakeSystem::DownloadToFile(const std::u16string& url, const std::u16string& localPath) {
  Call("download");
  log.push_back("download " + U8(url) + " -> " + U8(localPath));
  auto it = downloadResults.find(url);
  // Nothing can be stored where a folder is.
  const bool arrived =
      (it == downloadResults.end() || it->second) && !folders.contains(AsciiUpper(localPath));
  if (arrived) AddFile(localPath);
  return arrived;
}

void FakeSystem::RemoveLeftoverDownloads(const std::u16string& folderPath,
                                         std::initializer_list<std::u16string> partFiles) {
  for (const std::u16string& part : partFiles) {
    log.push_back("clear " + U8(folderPath) + "\\" + U8(part));
  }
}

void FakeSystem::StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                     const std::u16string& parameters,
                                     const std::u16string& directory, const int16_t& hidden,
                                     const int16_t& minimized) {
  Call("wait");
  log.push_back("wait " + U8(fileName) + " | " + U8(parameters) + " | " + U8(directory) + " | " +
                std::to_string(ownerWindow) + " " + std::to_string(hidden) + " " +
                std::to_string(minimized));
}

std::unique_ptr<StartedProgram> FakeSystem::Start(const std::u16string& commandLine,
                                                  const std::u16string& directory,
                                                  int32_t windowState, uint32_t& error) {
  Call("cmd");
  log.push_back("cmd " + std::to_string(windowState) + " " + U8(commandLine) +
                (directory.empty() ? "" : " in " + U8(directory)));
  const ProgramRun run = runs.contains(commandLine) ? runs[commandLine] : ProgramRun{};
  if (run.cannotStart) {
    error = 2;
    return nullptr;
  }
  lastRun_ = run;
  lastStart_ = ticks;
  lastId_ += 100;
  return std::make_unique<FakeStarted>(*this, run, lastId_);
}

void FakeSystem::WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) {
  log.push_back("await " + U8(path));
  // A program in use ends within the wait or not at all.
  if (busyUntil > ticks) ticks += std::min<uint64_t>(waitMs, busyUntil - ticks);
}

void FakeSystem::EndProcess() {
  log.push_back("end");
  throw ProcessEnded{};
}

std::u16string FakeSystem::TakeStartValue(std::u16string_view variable) {
  std::u16string value;
  value.swap(startValues[std::u16string(variable)]);
  return value;
}

void FakeSystem::TellStartValue(std::u16string_view variable, std::u16string_view value) {
  if (!value.empty()) log.push_back("tell " + U8(variable) + "=" + U8(value));
  toldValues[std::u16string(variable)] = value;
}

std::optional<uint32_t> FakeSystem::ServerOf(std::u16string_view service, uint32_t waitMs) {
  if (lastRun_ && lastRun_->answersAfterMs && ticks >= lastStart_ + *lastRun_->answersAfterMs) {
    log.push_back("answers " + U8(service));
    return lastRun_->answersAsOther ? lastId_ + 1 : lastId_;
  }
  ticks += waitMs;
  return std::nullopt;
}

void FakeSystem::Write(const UpdateEvent& event) {
  // The line without its time and program: the step and the fields.
  constexpr size_t kTimeAndProgram = sizeof("1970-01-01 00:00:00.000 - ") - 1;
  updateLog.push_back(U8(FormatLogLine(LocalTime{}, u"-", event).substr(kTimeAndProgram)));
}

void FakeSystem::Show(std::u16string_view text, uint32_t style) {
  Call("box");
  log.push_back("box " + std::to_string(style) + " " + U8(text));
}

namespace {
std::vector<uint8_t> BlockOf(const std::u16string& version) {
  return VersionBlock({{u"041204B0", {{u"FileVersion", version}}}});
}
}  // namespace

uint32_t FakeSystem::GetInfoSize(const std::u16string& fileName, uint32_t& handle) {
  Call("ver");
  log.push_back("ver " + U8(fileName));
  handle = 0;
  auto it = versions.find(fileName);
  return it == versions.end() ? 0 : static_cast<uint32_t>(BlockOf(it->second).size());
}

bool FakeSystem::GetInfo(const std::u16string& fileName, uint32_t, uint32_t size, void* buffer) {
  auto it = versions.find(fileName);
  if (it == versions.end()) return false;
  const std::vector<uint8_t> block = BlockOf(it->second);
  std::memcpy(buffer, block.data(), std::min<size_t>(size, block.size()));
  return true;
}

}  // namespace tindra::testing
