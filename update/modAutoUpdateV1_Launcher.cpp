#include "update/modAutoUpdateV1_Launcher.h"

#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/numeric.h"
#include "common/text.h"
#include "fileutil/modFile.h"
#include "update/companion_rules.h"
#include "update/install_files.h"
#include "update/install_records.h"
#include "update/program_role.h"
#include "update/trusted_fetch.h"
#include "update/update_checker.h"
#include "update/update_events.h"

namespace tindra {

namespace {

constexpr char16_t kModule[] = u"modAutoUpdateV1_Launcher";

// One update procedure's statements, each run guarded: an error is reported for the
// procedure, and the procedure goes on with its next statement.
class Statements {
 public:
  explicit Statements(std::u16string_view procedure) : procedure_(procedure) {}
  // Runs `statement`; false when it raised.
  template <typename F>
  bool operator()(F&& statement) const {
    return ReportAndContinue(procedure_, kModule, std::forward<F>(statement));
  }
  // The value of `expression`, or `fallback` when it raised. A test that raises goes on
  // inside the branch it guards, so a branch's fallback is true.
  template <typename T, typename F>
  T Or(T fallback, F&& expression) const {
    T value = fallback;
    (*this)([&] { value = expression(); });
    return value;
  }

 private:
  std::u16string_view procedure_;
};

// Starts a command line without waiting; File not found (53) when it cannot start.
void StartCommand(Processes& processes, const std::u16string& commandLine, int32_t windowState) {
  uint32_t error = 0;
  if (!processes.Start(commandLine, u"", windowState, error)) Raise(kErrFileNotFound);
}

// The program folder and the companions' files in it. Every path is empty while the
// folder is unknown, so that nothing is looked for or written anywhere else. A drive's
// root ("C:\") gives "C:\\Vantorel.exe", which the file system accepts.
struct Paths {
  std::u16string folder;
  std::u16string checker;        // Vantorel.exe
  std::u16string replacer;       // Pellmora.exe
  std::u16string checkerRecord;  // a refused checker revision, left alone for a while

  static Paths In(const std::u16string& folder) {
    Paths p{.folder = folder};
    p.checker = p.File(kCheckerName);
    p.replacer = p.File(kReplacerName);
    p.checkerRecord = p.File(FailedInstallFileName(kCheckerName));
    return p;
  }
  // `name` in the folder.
  std::u16string File(std::u16string_view name) const {
    return folder.empty() ? std::u16string() : folder + u"\\" + std::u16string(name);
  }
};

// The files of the program itself ("Tindra.exe") beside it.
struct ProgramPaths {
  std::u16string newProgram;  // New_Tindra.exe, which the checker leaves
  std::u16string record;      // Tindra_failed.txt: the failed installs
  std::u16string pending;     // Tindra_pending.txt: a hand-over not yet decided
  std::u16string handBack;    // Tindra_handback.txt: the replacer's word that it failed

  static ProgramPaths Of(const Paths& at, const std::u16string& exeFile) {
    return {.newProgram = at.File(kNewPrefix + exeFile),
            .record = at.File(FailedInstallFileName(exeFile)),
            .pending = at.File(PendingInstallFileName(exeFile)),
            .handBack = at.File(HandBackFileName(exeFile))};
  }
};

// Fetches the companion `name` from the update folder over its file in the program
// folder, under `rule`. Without a folder to put it in, nothing is fetched.
Fetched FetchNamed(const Statements& run, const UpdateServices& s, const std::u16string& baseUrl,
                   std::u16string_view name, const std::u16string& target,
                   const RevisionRule& rule) {
  if (target.empty()) return Fetched::kNotFetched;
  std::u16string url;
  run([&] { url = baseUrl + std::u16string(name); });
  return run.Or(Fetched::kNotFetched, [&] { return FetchCompanion(s, url, target, name, rule); });
}

// Runs the checker, when it is trusted as Vantorel.exe and no older than this build's
// floor, in the program folder, and returns when it has ended. It is held against
// writers from its check until then; any other is passed over like one that cannot
// start.
void RunChecker(const UpdateServices& s, const Paths& at, const std::u16string& parameters) {
  std::unique_ptr<HeldFile> held = s.files.Hold(at.checker, HoldFor::kRun);
  if (!held ||
      CheckAndLog(s.log, s.trust, *held, at.checker, kCheckerName, FloorRule(s.floors.checker))
              .verdict != ProgramVerdict::kTrusted) {
    return;
  }
  const int32_t noOwner = 0;
  const int16_t no = 0;
  s.processes.StartProcessAndWait(at.checker, noOwner, parameters, at.folder, no, no);
  LogCheckerRun(s);
}

// Starts the replacer on the new program, when it is trusted as Pellmora.exe and no
// older than this build's floor; it is held from its check until it has been started.
// First writes what a later start finds when the replacer never decides. False when
// it was not started.
bool StartReplacer(const UpdateServices& s, const Paths& at, const ProgramPaths& own,
                   const std::u16string& exeFile, std::optional<int32_t> newRevision) {
  std::unique_ptr<HeldFile> held = s.files.Hold(at.replacer, HoldFor::kRun);
  if (!held ||
      CheckAndLog(s.log, s.trust, *held, at.replacer, kReplacerName, FloorRule(s.floors.replacer))
              .verdict != ProgramVerdict::kTrusted) {
    return false;
  }
  WritePendingInstall(s.files, own.pending,
                      PendingInstall{newRevision.value_or(0), s.processes.Now()});
  try {
    StartCommand(s.processes, ReplacerCommandLine(at.replacer, exeFile), kSwShowMinimized);
  } catch (...) {
    s.files.RemoveFile(own.pending);
    throw;
  }
  return true;
}

// Hands the new program over to the replacer, and the program ends. A new program is
// handed over only when it is trusted as this program, and not again while its failed
// install's back-off runs: otherwise it goes, and start-up goes on.
void HandOver(const Statements& run, const UpdateServices& s, const Paths& at,
              const ProgramPaths& own, const std::u16string& exeFile) {
  std::optional<int32_t> newRevision;
  run([&] { newRevision = TrustedRevisionAndLog(s, own.newProgram, exeFile); });
  std::optional<FailedInstall> record;
  const bool mayHandOver = run.Or(false, [&] {
    record = ReadFailedInstall(s.files, own.record);
    return MayHandOver(record, newRevision, s.processes.Now());
  });
  if (!mayHandOver) {
    s.log.Write({.step = u"hand-over",
                 .file = kNewPrefix + exeFile,
                 .verdict = u"skipped",
                 .reason = !newRevision ? u"not trusted"
                           : record     ? BackoffReason(*record)
                                        : u"held back after a failed install"});
    run([&] { s.files.RemoveFile(own.newProgram); });
    return;
  }

  // A trusted replacer takes over, and the program ends.
  const bool noReplacer =
      run.Or(true, [&] { return !s.files.FindOrdinaryFile(at.replacer).has_value(); });
  if (!noReplacer) {
    const bool started =
        run.Or(false, [&] { return StartReplacer(s, at, own, exeFile, newRevision); });
    if (started) {
      s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"ok"});
      s.processes.EndProcess();
    }
  }

  // No replacer that can take over (missing, untrusted or not starting). The
  // user is told and shown the folder; the new program goes and its failure is
  // recorded like a failed install, so that no later start repeats this, and the
  // program goes on taking notifications.
  run([&] { ShowMessage(u"파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + at.replacer, kMbOk); });
  run([&] {
    StartCommand(s.processes, ExplorerCommandLine(s.files.WindowsFolder(), at.folder),
                 kSwShowNormal);
  });
  const std::u16string why = u"no trusted replacer could be started";
  s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"failed", .reason = why});
  run([&] { s.files.RemoveFile(own.newProgram); });
  run([&] {
    RecordFailedInstall(s.files, own.record, newRevision.value_or(0), s.processes.Now(), why);
  });
}

}  // namespace

std::u16string CheckerParameters(int16_t revision, const std::u16string& exeFileName) {
  return ToDecimal(revision) + u";" + exeFileName;
}

std::u16string ExplorerCommandLine(const std::u16string& windowsFolder,
                                   const std::u16string& folder) {
  std::u16string quoted = folder;
  // A drive root ends in "\", which would escape the closing quote.
  if (!quoted.empty() && quoted.back() == u'\\') quoted += u'\\';
  std::u16string explorer = windowsFolder;
  if (explorer.empty() || explorer.back() != u'\\') explorer += u'\\';
  return u"\"" + explorer + u"explorer.exe\" \"" + quoted + u"\"";
}

std::u16string ReplacerCommandLine(const std::u16string& replacerPath,
                                   const std::u16string& exeFileName) {
  return u"\"" + replacerPath + u"\" " + exeFileName + u";" + kNewPrefix + exeFileName;
}

int16_t AutoUpdaterSelfUpdate(const UpdateServices& s, std::u16string_view serverHost) {
  const Statements run(u"AutoUpdaterSelfUpdate");

  // Not done until every step below has passed.
  int16_t result = 0;
  // The files it works on, in the program folder.
  Paths at;
  run([&] { at = Paths::In(s.files.ProgramFolder()); });

  // The local checker's revision, from its check on the held file: "0" when it is
  // missing, unreadable, untrusted or below this build's floor, so that such a checker
  // is fetched again. Only a checker with a revision is one that may run.
  const bool missing =
      run.Or(true, [&] { return !s.files.FindOrdinaryFile(at.checker).has_value(); });
  std::optional<int32_t> localRevision;
  if (!missing) {
    run([&] {
      localRevision =
          TrustedRevisionAndLog(s, at.checker, kCheckerName, FloorRule(s.floors.checker));
    });
  }
  const std::u16string local = ToDecimal(localRevision.value_or(0));

  // The version file's name and the update folder's address.
  std::u16string versionFile;
  run([&] { versionFile = VersionFileName(kCheckerName); });
  std::u16string baseUrl;
  run([&] { baseUrl = GetUpdateBaseUrl(serverHost); });

  // The latest revision, as the server announces it.
  std::u16string text;
  run([&] { text = s.network.ReadUrlText(baseUrl + versionFile); });

  // Nothing read: the user is told, and the update stops here.
  const bool empty = run.Or(true, [&] { return TrimSpaces(text).empty(); });
  if (empty) {
    LogRevisions(s.log, kCheckerName, std::nullopt, u"in place", localRevision);
    run([&] {
      ShowMessage(std::u16string(kCheckerName) + u"의 최신버전 정보를 읽어올 수 없습니다!",
                  kMbOk | kMbIconError);
    });
    return result;
  }

  // The announced revision: halves round to even; beyond 32 bits is an Overflow, and
  // latest stays 0.
  int32_t latest = 0;
  run([&] { latest = ToInt32(ReadNumber(text)); });

  // What the server announces against what is in place, at every start.
  LogRevisions(s.log, kCheckerName, latest, u"in place", localRevision);

  // Whether the local checker is older than the announced revision.
  bool older = run.Or(true, [&] { return ReadNumber(local) < static_cast<double>(latest); });

  // An unsigned build trusts no program it could fetch: it leaves them on the server.
  if (older) {
    run([&] { older = TrustsAnyProgram(s.trust); });
    if (!older)
      s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"unsigned build"});
  }

  // A checker revision that was announced but refused when fetched is left alone for
  // a while; the trusted checker in place runs meanwhile.
  if (older) {
    run([&] {
      const std::optional<FailedInstall> refused = ReadFailedInstall(s.files, at.checkerRecord);
      older = MayFetch(refused, latest, s.processes.Now());
      if (!older) {
        s.log.Write({.step = u"version",
                     .file = kCheckerName,
                     .verdict = u"skipped",
                     .reason = BackoffReason(*refused)});
      }
    });
  }

  if (older) {
    // The checker, signed for its role, must carry the announced revision, so that a
    // stale file on the server cannot start an update loop, and be no older than this
    // build's floor.
    RevisionRule checkerRule = FloorRule(s.floors.checker);
    checkerRule.exact = latest;
    switch (FetchNamed(run, s, baseUrl, kCheckerName, at.checker, checkerRule)) {
      case Fetched::kDone:
        break;
      case Fetched::kRefused:
        run([&] { RecordFailedInstall(s.files, at.checkerRecord, latest, s.processes.Now()); });
        [[fallthrough]];
      case Fetched::kNotFetched:
        // The trusted checker in place still runs, so that the program's own update
        // still comes while the server cannot give the checker; the replacer is left
        // as it is. A checker that was not fetched (no answer, an error status, a cut
        // body, a time-out, a file that cannot be replaced) is tried again at the next
        // start: unlike a refused one, it says nothing against that revision.
        if (localRevision) result = -1;
        return result;
    }

    // The replacer, signed for its role, whose revision the server does not announce,
    // must be no older than this build's floor nor than a trusted one in place. When it
    // cannot be fetched, the one in place stays, and the checker, now current, makes
    // sure of a trusted replacer before it leaves a new program.
    RevisionRule replacerRule = FloorRule(s.floors.replacer);
    run([&] {
      const std::optional<int32_t> inPlace = TrustedRevision(s, at.replacer, kReplacerName);
      if (inPlace && inPlace > replacerRule.atLeast) replacerRule.atLeast = inPlace;
    });
    FetchNamed(run, s, baseUrl, kReplacerName, at.replacer, replacerRule);
  }

  // Every step passed.
  result = -1;
  return result;
}

void RunAutoUpdate(const UpdateServices& s, std::u16string_view serverHost,
                   const int16_t& skipSelfUpdate) {
  const Statements run(u"RunAutoUpdate");

  // The companions are brought up to date first; when that fails nothing more runs.
  const bool stop =
      run.Or(true, [&] { return !skipSelfUpdate && !AutoUpdaterSelfUpdate(s, serverHost); });
  if (stop) return;

  // The files it works on, in the program folder.
  Paths at;
  run([&] { at = Paths::In(s.files.ProgramFolder()); });

  // The executable's name as the directory lists it; without the program's own file
  // there is nothing to update.
  std::u16string exeFile;
  run([&] { exeFile = s.files.ProgramBaseName() + u".exe"; });
  run([&] { exeFile = s.files.FindOrdinaryFile(at.File(exeFile)).value_or(u""); });
  const bool noExe = run.Or(true, [&] { return exeFile.empty(); });
  if (noExe) return;
  ProgramPaths own;
  run([&] { own = ProgramPaths::Of(at, exeFile); });

  // Right after the replacer failed to install a new program nothing more is tried
  // at this start: the program goes on taking notifications. The replacer says so
  // with a value that its hand-back file holds too; a value from anyone else does
  // not count.
  bool afterFailure = false;
  run([&] {
    const std::u16string value = s.processes.TakeFailedHandOver();
    afterFailure = !own.handBack.empty() && TakeHandBack(s.files, own.handBack, value);
  });
  if (afterFailure) {
    s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"the install just failed"});
    return;
  }

  // The checker's parameters: this program's revision and file name.
  std::optional<int16_t> revision;
  std::u16string parameters;
  run([&] {
    revision = s.files.ProgramRevision();
    parameters = CheckerParameters(*revision, exeFile);
  });

  // A hand-over that never came back (the replacer ended before it had decided)
  // counts as a failed install of that revision: the new file it left goes, and
  // nothing more is tried.
  run([&] {
    afterFailure =
        revision && !own.pending.empty() &&
        SettlePendingInstall(s.files, own.pending, own.record, *revision, s.processes.Now());
    if (afterFailure) s.files.RemoveFile(own.newProgram);
  });
  if (afterFailure) {
    s.log.Write({.step = u"update", .verdict = u"skipped", .reason = kHandOverNeverCameBack});
    return;
  }

  // The checker runs; the call returns when it has ended.
  run([&] { RunChecker(s, at, parameters); });

  // Whether the checker left a new program.
  const bool nothingNew =
      run.Or(true, [&] { return !s.files.FindOrdinaryFile(own.newProgram).has_value(); });
  if (nothingNew) return;

  // It is handed over, or it goes.
  HandOver(run, s, at, own, exeFile);
}

}  // namespace tindra
