#include "update/modAutoUpdateV1_Launcher.h"

#include <optional>
#include <type_traits>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/numeric.h"
#include "common/text.h"
#include "fileutil/modFile.h"
#include "update/install_files.h"
#include "update/install_records.h"
#include "update/program_role.h"
#include "update/trusted_fetch.h"
#include "update/update_checker.h"
#include "update/update_events.h"

namespace tindra {

namespace {

constexpr char16_t kModule[] = u"modAutoUpdateV1_Launcher";
// The two procedures, as their error boxes name them.
constexpr char16_t kSelfUpdate[] = u"AutoUpdaterSelfUpdate";
constexpr char16_t kRunUpdate[] = u"RunAutoUpdate";

// Runs a step of `procedure` that can raise: a platform call that reports a fault
// (a rejected path, a drive that is not ready, a command that cannot start), an
// overflow, a message box. An error is shown in the procedure's error box ("Error 76
// (Path not found) in procedure RunAutoUpdate of Module modAutoUpdateV1_Launcher")
// and the update survives it: the step's value is then nothing (false for a step
// without one), and the caller says how it goes on.
template <typename Step>
auto Reported(std::u16string_view procedure, Step&& step) {
  using Value = std::invoke_result_t<Step&>;
  if constexpr (std::is_void_v<Value>) {
    return ReportAndContinue(procedure, kModule, step);
  } else {
    std::optional<Value> value;
    ReportAndContinue(procedure, kModule, [&] { value.emplace(step()); });
    return value;
  }
}

// Starts a command line without waiting; File not found (53) when it cannot start.
std::unique_ptr<StartedProgram> StartCommand(Processes& processes,
                                             const std::u16string& commandLine,
                                             int32_t windowState) {
  uint32_t error = 0;
  std::unique_ptr<StartedProgram> started = processes.Start(commandLine, u"", windowState, error);
  if (!started) Raise(kErrFileNotFound);
  return started;
}

// How long a program that handed over waits for the replacer to take its install lock
// before it ends, and how often it looks. A replacer of an earlier revision takes none.
constexpr uint32_t kLockTakenWithinMs = 5000;
constexpr uint32_t kLockLookMs = 50;

// What the replacer said to this start as it started it, or whether one is still at
// work in this folder.
enum class AfterHandOver {
  kNone,
  kInstalled,       // the new program, just put in place
  kFailed,          // the old program again, after the install failed
  kReplacerAtWork,  // another start while the replacer installs
};

// The replacer's word counts only with the one-time value its file also holds, so that
// a variable set by anyone else changes nothing. The install lock is held only by a
// replacer of this folder (it takes a program that can write in the folder to take it
// first), and a pending hand-over must be there too.
AfterHandOver StartAfterHandOver(const UpdateServices& s, const InstallFiles& own) {
  const std::u16string failed = s.processes.TakeStartValue(kFailedHandOverVariable);
  const std::u16string installed = s.processes.TakeStartValue(kInstalledVariable);
  if (own.folder.empty() || own.exeFile.empty()) return AfterHandOver::kNone;
  if (TakeHandBack(s.files, own.HandBack(), failed)) return AfterHandOver::kFailed;
  if (TakeHandBack(s.files, own.Installed(), installed)) return AfterHandOver::kInstalled;
  if (s.files.LockHeld(own.InstallLock()) && s.files.ReadSmallFile(own.Pending(), 64)) {
    return AfterHandOver::kReplacerAtWork;
  }
  return AfterHandOver::kNone;
}

// The program folder, or nothing (every path then stays empty) when it cannot be
// named.
std::u16string ProgramFolderFor(std::u16string_view procedure, ProgramFiles& files) {
  return Reported(procedure, [&] { return files.ProgramFolder(); }).value_or(std::u16string());
}

// The checker in place: its revision, from its check on the held file, when it is
// there, trusted as Vantorel.exe and no older than this build's floor. Nothing when it
// is missing, unreadable, untrusted or below the floor, so that such a checker is
// fetched again; only a checker with a revision is one that may run.
std::optional<int32_t> CheckerInPlace(const UpdateServices& s, const std::u16string& checker) {
  const auto revision = Reported(kSelfUpdate, [&]() -> std::optional<int32_t> {
    if (!s.files.FindOrdinaryFile(checker)) return std::nullopt;
    return TrustedRevisionAndLog(s, checker, kCheckerName, FloorRule(s.floors.checker));
  });
  return revision.value_or(std::nullopt);
}

// Fetches the companion `name` from the update folder over its file in the program
// folder, under `rule` (a refusal recorded at `refusals`, when given). Without a folder
// to put it in, nothing is fetched.
Fetched FetchNamed(const UpdateServices& s, const std::u16string& baseUrl, std::u16string_view name,
                   const std::u16string& target, const RevisionRule& rule,
                   const std::u16string& refusals = {}) {
  if (target.empty()) return Fetched::kNotFetched;
  const std::u16string url = baseUrl + std::u16string(name);
  return Reported(kSelfUpdate, [&] { return FetchCompanion(s, url, target, name, rule, refusals); })
      .value_or(Fetched::kNotFetched);
}

// Fetches the checker, then the replacer, as `plan` says. -1 when a trusted checker is
// in place afterwards.
int16_t FetchCompanions(const UpdateServices& s, const InstallFiles& checker,
                        const InstallFiles& replacer, const std::u16string& baseUrl,
                        const CompanionPlan& plan) {
  // A refused checker is recorded by its SHA-256, so that the same file is dropped
  // unchecked for a while and the genuine one is kept as soon as it is served.
  switch (FetchNamed(s, baseUrl, kCheckerName, checker.Program(), plan.checker,
                     checker.FailedRecord())) {
    case Fetched::kDone:
      break;
    case Fetched::kRefused:
    case Fetched::kNotFetched:
      // The trusted checker in place still runs, so that the program's own update
      // still comes while the server cannot give the checker; the replacer is left
      // as it is. A checker that was not fetched (no answer, an error status, a cut
      // body, a time-out, a file that cannot be replaced) or was refused is tried
      // again at the next start: neither says anything against that revision.
      return plan.checkerInPlaceRuns ? -1 : 0;
  }

  // When the replacer cannot be fetched, the one in place stays, and the checker, now
  // current, makes sure of a trusted replacer before it leaves a new program.
  RevisionRule replacerRule = plan.replacer;
  const std::optional<int32_t> inPlace = TrustedRevision(s, replacer.Program(), kReplacerName);
  if (inPlace && inPlace > replacerRule.atLeast) replacerRule.atLeast = inPlace;
  FetchNamed(s, baseUrl, kReplacerName, replacer.Program(), replacerRule);
  return -1;
}

// Runs the checker, when it is trusted as Vantorel.exe and no older than this build's
// floor, in the program folder, and returns when it has ended. It is held against
// writers from its check until then; any other is passed over like one that cannot
// start.
void RunChecker(const UpdateServices& s, const InstallFiles& own,
                const std::u16string& parameters) {
  const std::u16string checker = own.In(kCheckerName);
  std::unique_ptr<HeldFile> held = s.files.Hold(checker, HoldFor::kRun);
  if (!held ||
      CheckAndLog(s.log, s.trust, *held, checker, kCheckerName, FloorRule(s.floors.checker))
              .verdict != ProgramVerdict::kTrusted) {
    return;
  }
  const int32_t noOwner = 0;
  const int16_t no = 0;
  s.processes.StartProcessAndWait(checker, noOwner, parameters, own.folder, no, no);
  LogCheckerRun(s);
}

// Starts the replacer on the new program, when it is trusted as Pellmora.exe and no
// older than this build's floor; it is held from its check until it has been started.
// First writes what a later start finds when the replacer never decides. False when
// it was not started.
bool StartReplacer(const UpdateServices& s, const InstallFiles& own, const std::u16string& replacer,
                   std::optional<int32_t> newRevision) {
  std::unique_ptr<HeldFile> held = s.files.Hold(replacer, HoldFor::kRun);
  if (!held ||
      CheckAndLog(s.log, s.trust, *held, replacer, kReplacerName, FloorRule(s.floors.replacer))
              .verdict != ProgramVerdict::kTrusted) {
    return false;
  }
  WritePendingInstall(s.files, own.Pending(),
                      PendingInstall{newRevision.value_or(0), s.processes.UtcSecondsNow()});
  std::unique_ptr<StartedProgram> started;
  try {
    started =
        StartCommand(s.processes, ReplacerCommandLine(replacer, own.exeFile), kSwShowMinimized);
  } catch (...) {
    s.files.RemoveFile(own.Pending());
    throw;
  }
  // Until the replacer holds its lock, a second start would not know that it is at
  // work; this program, still running, keeps such a start out as a second copy.
  const uint64_t deadline = s.processes.Ticks() + kLockTakenWithinMs;
  while (!s.files.LockHeld(own.InstallLock()) && !started->WaitForEnd(kLockLookMs) &&
         s.processes.Ticks() < deadline) {
  }
  return true;
}

// Hands the new program over to the replacer, and the program ends. A new program is
// handed over only when it is trusted as this program, and not again while its failed
// install's back-off runs: otherwise it goes, and start-up goes on.
void HandOver(const UpdateServices& s, const InstallFiles& own) {
  const std::optional<int32_t> newRevision =
      TrustedRevisionAndLog(s, own.NewProgram(), own.exeFile);
  const std::optional<FailedInstall> record = ReadFailedInstall(s.files, own.FailedRecord());
  if (!MayHandOver(record, newRevision, s.processes.UtcSecondsNow())) {
    s.log.Write({.step = u"hand-over",
                 .file = kNewPrefix + own.exeFile,
                 .verdict = u"skipped",
                 .reason = !newRevision ? u"not trusted"
                           : record     ? BackoffReason(*record)
                                        : u"held back after a failed install"});
    s.files.RemoveFile(own.NewProgram());
    return;
  }

  // A trusted replacer takes over, and the program ends.
  const std::u16string replacer = own.In(kReplacerName);
  const bool started = Reported(kRunUpdate, [&] {
                         return s.files.FindOrdinaryFile(replacer).has_value() &&
                                StartReplacer(s, own, replacer, newRevision);
                       }).value_or(false);
  if (started) {
    s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"ok"});
    s.processes.EndProcess();
  }

  // No replacer that can take over (missing, untrusted or not starting). The
  // user is told and shown the folder; the new program goes and its failure is
  // recorded like a failed install, so that no later start repeats this, and the
  // program goes on taking notifications.
  Reported(kRunUpdate, [&] {
    ShowMessage(u"파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + replacer, kMbOk);
  });
  Reported(kRunUpdate, [&] {
    StartCommand(s.processes, ExplorerCommandLine(s.files.WindowsFolder(), own.folder),
                 kSwShowNormal);
  });
  const std::u16string why = u"no trusted replacer could be started";
  s.log.Write({.step = u"hand-over", .file = kReplacerName, .verdict = u"failed", .reason = why});
  s.files.RemoveFile(own.NewProgram());
  RecordFailedInstall(s.files, own.FailedRecord(), newRevision.value_or(0),
                      s.processes.UtcSecondsNow(), why);
}

}  // namespace

CompanionPlan PlanCompanions(const CompanionFacts& facts) {
  CompanionPlan plan;
  plan.checker = FloorRule(facts.floors.checker);
  plan.checker.exact = facts.announced;
  plan.replacer = FloorRule(facts.floors.replacer);
  plan.checkerInPlaceRuns = facts.checkerInPlace.has_value();
  if (facts.checkerInPlace.value_or(0) >= facts.announced) {
    plan.step = CompanionStep::kCurrent;
  } else if (!facts.signedBuild) {
    plan.step = CompanionStep::kUnsignedBuild;
  } else {
    plan.step = CompanionStep::kFetch;
  }
  return plan;
}

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
  const std::u16string folder = ProgramFolderFor(kSelfUpdate, s.files);
  const InstallFiles checker{folder, kCheckerName};
  const InstallFiles replacer{folder, kReplacerName};
  const std::optional<int32_t> inPlace = CheckerInPlace(s, checker.Program());

  // The latest revision, as the server announces it. Nothing read: the user is told,
  // and the update stops here.
  const std::u16string baseUrl = GetUpdateBaseUrl(serverHost);
  const std::u16string text =
      Reported(kSelfUpdate, [&] {
        return s.network.ReadUrlText(baseUrl + VersionFileName(kCheckerName));
      }).value_or(std::u16string());
  if (TrimSpaces(text).empty()) {
    LogRevisions(s.log, kCheckerName, std::nullopt, u"in place", inPlace);
    Reported(kSelfUpdate, [&] {
      ShowMessage(std::u16string(kCheckerName) + u"의 최신버전 정보를 읽어올 수 없습니다!",
                  kMbOk | kMbIconError);
    });
    return 0;
  }

  // Halves round to even; beyond 32 bits is an Overflow, and the announced revision
  // stays 0.
  const int32_t announced =
      Reported(kSelfUpdate, [&] { return ToInt32(ReadNumber(text)); }).value_or(0);
  // What the server announces against what is in place, at every start.
  LogRevisions(s.log, kCheckerName, announced, u"in place", inPlace);

  const CompanionFacts facts{.checkerInPlace = inPlace,
                             .announced = announced,
                             .signedBuild = TrustsAnyProgram(s.trust),
                             .floors = s.floors};
  const CompanionPlan plan = PlanCompanions(facts);
  switch (plan.step) {
    case CompanionStep::kCurrent:
      break;
    case CompanionStep::kUnsignedBuild:
      s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"unsigned build"});
      break;
    case CompanionStep::kFetch:
      return FetchCompanions(s, checker, replacer, baseUrl, plan);
  }
  return -1;
}

void RunAutoUpdate(const UpdateServices& s, std::u16string_view serverHost,
                   const int16_t& skipSelfUpdate) {
  InstallFiles own{.folder = ProgramFolderFor(kRunUpdate, s.files)};
  own.exeFile = Reported(kRunUpdate, [&] {
                  return s.files.ProgramBaseName() + u".exe";
                }).value_or(std::u16string());

  // Right after a hand-over nothing is fetched or run at this start: the new program
  // the replacer just put in place, and the old one it started again after a failure,
  // go on taking notifications, so that the user's start stays within one start-up
  // ceiling. Another start while the replacer installs ends at once: it would hold the
  // program file the replacer is to replace, and the replacer starts a program itself.
  switch (StartAfterHandOver(s, own)) {
    case AfterHandOver::kNone:
      break;
    case AfterHandOver::kInstalled:
      s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"just installed"});
      return;
    case AfterHandOver::kFailed:
      s.log.Write({.step = u"update", .verdict = u"skipped", .reason = u"the install just failed"});
      return;
    case AfterHandOver::kReplacerAtWork:
      s.log.Write({.step = u"update",
                   .verdict = u"skipped",
                   .reason = u"the replacer is at work; it starts the program itself"});
      s.processes.EndProcess();
  }

  // The companions are brought up to date first; when that fails nothing more runs.
  if (!skipSelfUpdate) {
    const std::optional<int16_t> current =
        Reported(kRunUpdate, [&] { return AutoUpdaterSelfUpdate(s, serverHost); });
    if (!current.value_or(0)) return;
  }

  // The program's own file as the directory lists it; without it there is nothing to
  // update. When the search fails, the name stays as formed.
  const auto found = Reported(kRunUpdate, [&] { return s.files.FindOrdinaryFile(own.Program()); });
  if (found) own.exeFile = found->value_or(u"");
  if (own.exeFile.empty()) return;

  // The checker's parameters: this program's revision and file name (none when the
  // revision cannot be read).
  const std::optional<int16_t> revision =
      Reported(kRunUpdate, [&] { return s.files.ProgramRevision(); });
  const std::u16string parameters =
      revision ? CheckerParameters(*revision, own.exeFile) : std::u16string();

  // A hand-over that never came back (the replacer ended before it had decided)
  // counts as a failed install of that revision: the new file it left goes, and
  // nothing more is tried.
  if (revision && !own.folder.empty() &&
      SettlePendingInstall(s.files, own.Pending(), own.FailedRecord(), *revision,
                           s.processes.UtcSecondsNow())) {
    s.files.RemoveFile(own.NewProgram());
    s.log.Write({.step = u"update", .verdict = u"skipped", .reason = kHandOverNeverCameBack});
    return;
  }

  // The checker runs; the call returns when it has ended.
  Reported(kRunUpdate, [&] { RunChecker(s, own, parameters); });

  // Whether the checker left a new program; it is handed over, or it goes.
  const auto newProgram =
      Reported(kRunUpdate, [&] { return s.files.FindOrdinaryFile(own.NewProgram()); });
  if (!newProgram || !*newProgram) return;
  HandOver(s, own);
}

}  // namespace tindra
