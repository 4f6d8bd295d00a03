#include "update/modAutoUpdateV1_Launcher.h"

#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "app/modMain.h"
#include "common/errors.h"
#include "common/msgbox.h"
#include "common/numeric.h"
#include "common/text.h"
#include "fileutil/modFile.h"
#include "update/companion_rules.h"
#include "update/install_rules.h"
#include "update/program_role.h"
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

}  // namespace

std::u16string GetUpdateBaseUrl() { return UpdateBaseUrl(gServerHost); }

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

int16_t AutoUpdaterSelfUpdate(const UpdateServices& s) {
  const Statements run(u"AutoUpdaterSelfUpdate");

  // Not done until every step below has passed.
  int16_t result = 0;
  std::u16string name = kCheckerName;

  // The local checker.
  std::u16string path;
  run([&] { path = s.files.ProgramFolder() + u"\\" + name; });

  // The local checker's revision, from its check on the held file: "0" when it is
  // missing, unreadable or untrusted, so that a damaged checker is fetched again.
  const bool missing = run.Or(true, [&] { return !s.files.FindOrdinaryFile(path).has_value(); });
  std::optional<int32_t> localRevision;
  if (!missing) run([&] { localRevision = TrustedRevisionAndLog(s, path, name); });
  const std::u16string local = ToDecimal(localRevision.value_or(0));

  // The version file's name and the update folder's address.
  std::u16string versionFile;
  run([&] { versionFile = VersionFileName(name); });
  std::u16string baseUrl;
  run([&] { baseUrl = GetUpdateBaseUrl(); });

  // The latest revision, as the server announces it.
  std::u16string text;
  run([&] { text = s.network.ReadUrlText(baseUrl + versionFile); });

  // Nothing read: the user is told, and the update stops here.
  const bool empty = run.Or(true, [&] { return TrimSpaces(text).empty(); });
  if (empty) {
    run([&] {
      ShowMessage(name + u"의 최신버전 정보를 읽어올 수 없습니다!", kMbOk | kMbIconError);
    });
    return result;
  }

  // The announced revision: rounded halves to even; beyond 32 bits is an Overflow and latest stays
  // 0.
  int32_t latest = 0;
  run([&] { latest = ToInt32(ReadNumber(text)); });

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
  std::u16string checkerRecord;
  run([&] {
    checkerRecord = s.files.ProgramFolder() + u"\\" + FailedInstallFileName(kCheckerName);
  });
  if (older) {
    run([&] {
      older = MayFetch(ReadFailedInstall(s.files, checkerRecord), latest, s.processes.Now());
    });
  }

  if (older) {
    // The checker is fetched, then the replacer. Each must be signed for its own role
    // and be no older than this build's floor for it; the checker must carry the
    // announced revision, so that a stale file on the server cannot start an update
    // loop, and the replacer, whose revision the server does not announce, must be no
    // older than a trusted one in place.
    for (const char16_t* file : {kCheckerName, kReplacerName}) {
      name = file;
      std::u16string url;
      std::u16string target;
      run([&] { url = baseUrl + name; });
      run([&] { target = s.files.ProgramFolder() + u"\\" + name; });
      RevisionRule rule;
      if (name == kCheckerName) {
        rule.exact = latest;
        if (s.floors.checker > 0) rule.atLeast = s.floors.checker;
      } else {
        if (s.floors.replacer > 0) rule.atLeast = s.floors.replacer;
        run([&] {
          const std::optional<int32_t> inPlace = TrustedRevision(s, target, name);
          if (inPlace && inPlace > rule.atLeast) rule.atLeast = inPlace;
        });
      }
      Fetched fetched = Fetched::kNotFetched;
      run([&] { fetched = FetchCompanion(s, url, target, name, rule); });
      if (fetched == Fetched::kDone) continue;
      if (name == kCheckerName && fetched == Fetched::kRefused) {
        run([&] { RecordFailedInstall(s.files, checkerRecord, latest, s.processes.Now()); });
        // The trusted checker in place still runs.
        if (localRevision) break;
      }
      return result;
    }
  }

  // Every step passed.
  result = -1;
  return result;
}

void RunAutoUpdate(const UpdateServices& s, const int16_t& skipSelfUpdate) {
  const Statements run(u"RunAutoUpdate");

  // The companions are brought up to date first; when that fails nothing more runs.
  const bool stop = run.Or(true, [&] { return !skipSelfUpdate && !AutoUpdaterSelfUpdate(s); });
  if (stop) return;

  // The checker in the program folder.
  std::u16string checker;
  run([&] { checker = s.files.ProgramFolder() + u"\\" + kCheckerName; });

  // The executable's name as the directory lists it.
  std::u16string exeFile;
  run([&] { exeFile = s.files.ProgramBaseName() + u".exe"; });
  run([&] {
    exeFile = s.files.FindOrdinaryFile(s.files.ProgramFolder() + u"\\" + exeFile).value_or(u"");
  });

  // Without the program's own file there is nothing to update.
  const bool noExe = run.Or(true, [&] { return exeFile.empty(); });
  if (noExe) return;

  // The files the replacer and an earlier start leave beside the program, in the
  // checker's folder.
  std::u16string handBack;
  std::u16string pending;
  std::u16string failed;
  std::u16string left;
  if (!checker.empty()) {
    const std::u16string folder = checker.substr(0, checker.size() - (std::size(kCheckerName) - 1));
    handBack = folder + HandBackFileName(exeFile);
    pending = folder + PendingInstallFileName(exeFile);
    failed = folder + FailedInstallFileName(exeFile);
    left = folder + kNewPrefix + exeFile;
  }

  // Right after the replacer failed to install a new program nothing more is tried
  // at this start: the program goes on taking notifications. The replacer says so
  // with a value that its hand-back file holds too; a value from anyone else does
  // not count.
  bool afterFailure = false;
  run([&] {
    const std::u16string value = s.processes.TakeFailedHandOver();
    afterFailure = !handBack.empty() && TakeHandBack(s.files, handBack, value);
  });
  if (afterFailure) {
    s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"the install just failed"});
    return;
  }

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
    afterFailure = revision && !pending.empty() &&
                   SettlePendingInstall(s.files, pending, failed, *revision, s.processes.Now());
    if (afterFailure) s.files.RemoveFile(left);
  });
  if (afterFailure) {
    s.log.Write({.step = u"update", .verdict = u"skipped", .reason = kHandOverNeverCameBack});
    return;
  }

  // The checker runs in the program folder; the call returns when it ends.
  // Only a checker signed as Vantorel.exe is started, held against writers from its
  // check until it has ended; any other is passed over like one that cannot start.
  run([&] {
    std::unique_ptr<HeldFile> held = s.files.Hold(checker, HoldFor::kRun);
    if (!held || CheckAndLog(s.log, s.trust, *held, checker, kCheckerName).verdict !=
                     ProgramVerdict::kTrusted) {
      return;
    }
    const int32_t noOwner = 0;
    const int16_t no = 0;
    s.processes.StartProcessAndWait(checker, noOwner, parameters, s.files.ProgramFolder(), no, no);
    LogCheckerRun(s);
  });

  // Whether the checker left a new program.
  std::u16string newExe;
  run([&] { newExe = s.files.ProgramFolder() + u"\\" + kNewPrefix + exeFile; });
  const bool nothingNew =
      run.Or(true, [&] { return !s.files.FindOrdinaryFile(newExe).has_value(); });
  if (nothingNew) return;

  // A new program is handed over only when it is trusted as this program, and not
  // again while its failed install's back-off runs: otherwise it goes, and start-up
  // goes on.
  std::u16string record;
  run([&] { record = s.files.ProgramFolder() + u"\\" + FailedInstallFileName(exeFile); });
  std::optional<int32_t> newRevision;
  run([&] { newRevision = TrustedRevisionAndLog(s, newExe, exeFile); });
  bool mayHandOver = false;
  run([&] {
    mayHandOver = MayHandOver(ReadFailedInstall(s.files, record), newRevision, s.processes.Now());
  });
  if (!mayHandOver) {
    s.log.Write({.step = u"hand-over",
                 .file = kNewPrefix + exeFile,
                 .verdict = u"skipped",
                 .reason = newRevision ? u"held back after a failed install" : u"not trusted"});
    run([&] { s.files.RemoveFile(newExe); });
    return;
  }

  // The replacer in the program folder.
  std::u16string replacer;
  run([&] { replacer = s.files.ProgramFolder() + u"\\" + kReplacerName; });

  // A replacer trusted as Pellmora.exe, held from its check until it has
  // been started, takes over and the program ends.
  const bool noReplacer =
      run.Or(true, [&] { return !s.files.FindOrdinaryFile(replacer).has_value(); });
  if (!noReplacer) {
    bool started = false;
    run([&] {
      std::unique_ptr<HeldFile> held = s.files.Hold(replacer, HoldFor::kRun);
      if (!held || CheckAndLog(s.log, s.trust, *held, replacer, kReplacerName).verdict !=
                       ProgramVerdict::kTrusted) {
        return;
      }
      // What a later start finds when the replacer never decides.
      if (!pending.empty()) {
        WritePendingInstall(s.files, pending,
                            PendingInstall{newRevision.value_or(0), s.processes.Now()});
      }
      try {
        StartCommand(s.processes, ReplacerCommandLine(replacer, exeFile), kSwShowMinimized);
      } catch (...) {
        if (!pending.empty()) s.files.RemoveFile(pending);
        throw;
      }
      started = true;
    });
    if (started) {
      s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"ok"});
      s.processes.EndProcess();
    }
  }

  // No replacer that can take over (missing, untrusted or not starting). The
  // user is told and shown the folder; the new program goes and its failure is
  // recorded like a failed install, so that no later start repeats this, and the
  // program goes on taking notifications.
  run([&] { ShowMessage(u"파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + replacer, kMbOk); });
  run([&] {
    StartCommand(s.processes, ExplorerCommandLine(s.files.WindowsFolder(), s.files.ProgramFolder()),
                 kSwShowNormal);
  });
  const std::u16string why = u"no trusted replacer could be started";
  s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"failed", .reason = why});
  run([&] { s.files.RemoveFile(newExe); });
  run([&] {
    RecordFailedInstall(s.files, record, newRevision.value_or(0), s.processes.Now(), why);
  });
}

}  // namespace tindra
