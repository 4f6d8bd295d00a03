#pragma once
// One scripted fake of every service the update uses: a file table, version texts,
// signatures, server answers, download results, started programs and a clock.
// Every call is logged, and any call of any service can be made to raise an error.
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/msgbox.h"
#include "fileutil/modFile.h"
#include "update/file_replacer.h"
#include "update/install_records.h"
#include "update/update_services.h"

namespace tindra::testing {

// The first bytes of a 32-bit Windows executable image.
std::string ProgramHead();

// Thrown by EndProcess so that a test sees where the process would have ended.
struct ProcessEnded {};

// How a started program behaves, by its command line.
struct ProgramRun {
  bool cannotStart = false;  // the start fails with error 2 (file not found)
  // It ends with `exitCode` this long after its start (never, by default).
  std::optional<uint32_t> endsAfterMs;
  uint32_t exitCode = 0;
  // Its own service answers this long after its start (at once, by default);
  // nothing: never.
  std::optional<uint32_t> answersAfterMs = 0;
  bool answersAsOther = false;  // another process answers to its service name
  bool answersWindows = true;   // its windows answer messages while it runs
  // It shows its fatal error box this long after its start (never, by default); its
  // windows answer still.
  std::optional<uint32_t> fatalAfterMs;
};

class FakeSystem : public ProgramFiles,
                   public ProgramInspector,
                   public UpdateNetwork,
                   public Processes,
                   public ServiceProbe,
                   public MessageBoxes,
                   public VersionBlockSource,
                   public UpdateLog {
 public:
  FakeSystem();

  UpdateServices services() { return UpdateServices{*this, *this, *this, *this, *this, floors}; }

  // Scripted state.
  std::u16string folder = u"C:\\Prog";
  std::u16string baseName = u"Tindra";
  int16_t revision = 27;
  ReleaseFloors floors;                               // none by default
  std::map<std::u16string, std::u16string> files;     // upper-cased path -> on-disk name
  std::set<std::u16string> folders;                   // upper-cased paths of folders
  std::set<std::u16string> fullFolders;               // those of them that hold files
  std::set<std::u16string> readOnly;                  // upper-cased paths
  std::map<std::u16string, std::u16string> versions;  // path -> version text
  std::map<std::u16string, std::u16string> urlTexts;  // url -> ReadUrlText text
  std::map<std::u16string, std::string> bodies;       // url -> FetchBody body (else fails)
  std::map<std::u16string, bool> downloadResults;     // url -> result (default true)
  // What each file holds, by path: its signature, its head (by default that of a
  // program, its signature appended) and its version block's FileVersion and names.
  // A held file keeps what
  // its file held when it was held; a move takes it along to the new name. By
  // default every file is a program signed like the running one.
  Signature own{SignatureStatus::kValid, "publisher key"};
  std::map<std::u16string, Signature> signatures;
  std::map<std::u16string, std::string> heads;
  // Version-block names per path; by default the names of the role the file is
  // kept for (its name without "New_" and ".part").
  std::map<std::u16string, ProgramNames> names;
  bool moveFails = false;
  std::vector<std::u16string> unholdable;  // paths that cannot be held
  // Paths that can be held for starting (reading) but not for renaming: another
  // reader holds them without sharing deletion.
  std::vector<std::u16string> lockedForRename;
  bool logHolds = false;  // log "hold" and "release" lines too
  std::map<std::u16string, FailedInstall> records;
  bool recordWriteFails = false;
  std::set<std::u16string> unwritable;  // small files that cannot be written, by path
  int64_t now = 1700000000;
  // The values in this process's variables (by name); the ones it hands on.
  std::map<std::u16string, std::u16string> startValues;
  std::map<std::u16string, std::u16string> toldValues;
  // Locks held by another process, and those this one holds.
  std::set<std::u16string> heldLocks;
  // Small files other than records (hand-back and pending files): path -> text.
  std::map<std::u16string, std::string> texts;
  uint64_t ticks = 0;
  uint64_t busyUntil = 0;                     // the old program is in use until this tick
  bool linkFails = false;                     // no second name can be made
  std::map<std::u16string, ProgramRun> runs;  // command line -> behaviour
  std::optional<uint32_t> checkerExitCode;    // what StartProcessAndWait's program returns
  std::optional<uint64_t> checkerCutAt;       // the ceiling that cut the wait for it short

  void AddFile(const std::u16string& path, const std::u16string& diskName = u"");
  bool HasFile(const std::u16string& path) const;
  // The `nth` call (1-based) of `service` raises error 76 (Path not found).
  void FailAt(const std::string& service, int nth) { failures_.emplace_back(service, nth); }

  // Everything observable, in order, as UTF-8 lines.
  std::vector<std::string> log;
  // The update log's lines, as UTF-8 from the step on (no time, no program).
  std::vector<std::string> updateLog;

  // ProgramFiles
  std::u16string ProgramFolder() override;
  std::u16string WindowsFolder() override;
  std::u16string ProgramBaseName() override;
  int16_t ProgramRevision() override;
  std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) override;
  bool IsFile(const std::u16string& path) override;
  bool Exists(const std::u16string& path) override;
  bool IsReadOnly(const std::u16string& path) override;
  bool IsFree(const std::u16string& path) override;
  bool RemoveFile(const std::u16string& path) override;
  bool RemoveEmptyFolder(const std::u16string& path) override;
  bool LinkOrCopy(const std::u16string& from, const std::u16string& to) override;
  bool MoveOver(const std::u16string& from, const std::u16string& to) override;
  std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) override;
  std::unique_ptr<FileLock> TakeLock(const std::u16string& path) override;
  bool LockHeld(const std::u16string& path) override { return heldLocks.contains(path); }
  std::optional<std::string> ReadSmallFile(const std::u16string& path, size_t maxBytes) override;
  bool WriteSmallFile(const std::u16string& path, std::string_view bytes) override;

  // ProgramInspector
  Signature OwnSignature() override;
  // A stand-in digest: one per distinct content, numbered in the order first seen, as
  // 64 hexadecimal digits. (The platform's SHA-256 is tested under Wine.)
  std::string Sha256(std::string_view bytes) override;
  // The digest of what the file at `path` holds now.
  std::string DigestOf(const std::u16string& path) { return Sha256(ImageOf(path)); }
  // What a file at `path` holds now: its signature, and its whole image (a PE image
  // with its version block, unless `heads` gives other bytes).
  Signature SignatureOf(const std::u16string& path) const;
  std::string ImageOf(const std::u16string& path) const;
  // The names of the version block of the file at `path`.
  ProgramNames NamesFor(const std::u16string& path) const;

  // UpdateNetwork
  std::u16string ReadUrlText(const std::u16string& url) override;
  bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) override;
  bool DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveLeftoverDownloads(const std::u16string& folder,
                               std::initializer_list<std::u16string> partFiles) override;

  // Processes
  void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                           const std::u16string& parameters, const std::u16string& directory,
                           const int16_t& hidden, const int16_t& minimized) override;
  std::unique_ptr<StartedProgram> Start(const std::u16string& commandLine,
                                        const std::u16string& directory, int32_t windowState,
                                        uint32_t& error) override;
  void WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) override;
  [[noreturn]] void EndProcess() override;
  int64_t UtcSecondsNow() override { return now; }
  uint64_t Ticks() override { return ticks; }
  void Sleep(uint32_t ms) override { ticks += ms; }
  std::optional<uint32_t> LastWaitExitCode() override { return checkerExitCode; }
  std::optional<uint64_t> LastWaitCutAt() override { return checkerCutAt; }
  std::u16string TakeStartValue(std::u16string_view variable) override;
  void TellStartValue(std::u16string_view variable, std::u16string_view value) override;
  std::u16string NewHandBackValue() override { return u"VALUE07"; }

  // ServiceProbe: the last started program answers once its time has come.
  std::optional<uint32_t> ServerOf(std::u16string_view service, uint32_t waitMs) override;

  // MessageBoxes: every box the procedures show.
  void Show(std::u16string_view text, uint32_t style) override;

  // VersionBlockSource: a block carrying `versions[path]` as its FileVersion.
  uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) override;
  bool GetInfo(const std::u16string& fileName, uint32_t handle, uint32_t size,
               void* buffer) override;

  // UpdateLog
  void Write(const UpdateEvent& event) override;
  // Holds the file at `path` (adding it to the table) and checks it: the check a
  // caller makes on a held file.
  ProgramCheck CheckFile(const std::u16string& path, std::u16string_view roleFile,
                         const RevisionRule& rule = {});

  // A held file's move, as the held file reports it.
  bool MoveHeld(const std::u16string& from, const std::u16string& to);

 private:
  // The file table and what the file held go from `from` to `to`.
  void MoveEntry(const std::u16string& from, const std::u16string& to);
  void Call(const std::string& service);
  std::map<std::string, int> calls_;
  std::map<std::string, std::string, std::less<>> digests_;
  std::vector<std::pair<std::string, int>> failures_;
  // The last started program: its run, when it started, its process identifier.
  std::optional<ProgramRun> lastRun_;
  uint64_t lastStart_ = 0;
  uint32_t lastId_ = 0;
  ScopedMessageBoxes boxes_;
  ScopedVersionBlockSource source_;
};

}  // namespace tindra::testing
