#include "update/file_replacer.h"

#include <algorithm>

#include "common/errors.h"
#include "common/text.h"
#include "update/command_lines.h"
#include "update/install_files.h"
#include "update/install_records.h"
#include "update/program_role.h"
#include "update/trusted_fetch.h"
#include "update/update_events.h"

namespace tindra {

namespace {

// Where the replacer works: OLD.exe's files in the program folder, the new file by
// the name it was given (the case of its letters may differ from "New_" + OLD), and
// the backup the install chose.
struct Paths {
  InstallFiles at;
  std::u16string newPath;
  std::u16string backupPath;
};

// OLD.exe's command line: its quoted path.
std::u16string OldCommandLine(const Paths& p) {
  const std::u16string program = p.at.Program();
  return u"\"" + program + u"\"";
}

class Replacer {
 public:
  Replacer(const UpdateServices& s, ServiceProbe& probe, const ReplacerWaits& waits, Paths paths)
      : s_(s), probe_(probe), waits_(waits), p_(std::move(paths)) {}

  ReplacerExit Run() {
    // Until the new program is in place (or the install has failed) another start of
    // the old program ends at once rather than hold the file or settle the hand-over
    // as a failure; every program this replacer starts then finds the lock free.
    lock_ = TakeInstallLock();
    ReplacerExit code = Install();
    lock_.reset();
    if (code == kReplaced) {
      const FirstRun run = StartAndWatch();
      // The new program had its one chance to take the replacer's word.
      s_.processes.TellStartValue(kInstalledVariable, u"");
      s_.files.RemoveFile(p_.at.Installed());
      LogFirstRun(s_.log, p_.at.exeFile, run);
      if (!ShouldRollBack(run)) {
        // Proved itself: the old program is no longer needed. Still starting: the
        // backup stays until the next update.
        if (run.ready && hadOld_) s_.files.RemoveFile(p_.backupPath);
        s_.files.RemoveFile(p_.at.Pending());
        return kReplaced;
      }
      // The new program could not start: the old one comes back, when there is one
      // and it can be put back.
      RecordFailure(FirstRunReason(run));
      if (!hadOld_ || !PutBack()) {
        s_.files.RemoveFile(p_.at.Pending());
        return kNotRolledBack;
      }
      code = kRolledBack;
    }
    StartOldAgain(s_, p_, waits_.answerMs);
    return code;
  }

  // The old program runs again, and knows not to hand over once more: it is handed a
  // one-time value that the hand-back file also holds. The install is decided; but
  // when no hand-back can be written, the pending file stays, so that the old program
  // settles it as a failed install and backs off even where no record can be written.
  // A copy still running (the program that handed over, waiting a moment for this
  // replacer's lock) is given `waitMs` to end first, so that the one started here does
  // not end at once as a second copy.
  static void StartOldAgain(const UpdateServices& s, const Paths& p, uint32_t waitMs) {
    const std::u16string value = s.processes.NewHandBackValue();
    if (!value.empty() && WriteHandBack(s.files, p.at.HandBack(), value)) {
      s.processes.TellStartValue(kFailedHandOverVariable, value);
      s.files.RemoveFile(p.at.Pending());
    }
    s.processes.WaitForProgramsOf(p.at.Program(), waitMs);
    uint32_t error = 0;
    s.processes.Start(OldCommandLine(p), p.at.folder, kSwDefault, error);
  }

 private:
  // The install lock, tried for a moment: a start of the old program may be looking
  // at it. Without it the install still goes on (another replacer of this folder
  // finishing its watch, or a program that holds the file): the lock only keeps a
  // second start from getting in the way.
  std::unique_ptr<FileLock> TakeInstallLock() {
    const uint64_t deadline = s_.processes.Ticks() + waits_.answerMs;
    for (;;) {
      if (std::unique_ptr<FileLock> lock = s_.files.TakeLock(p_.at.InstallLock())) return lock;
      if (Remaining(deadline) == 0) return nullptr;
      s_.processes.Sleep(waits_.pollMs);
    }
  }

  uint32_t Remaining(uint64_t deadline) {
    const uint64_t now = s_.processes.Ticks();
    return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
  }

  // Puts the backup back in place of OLD.exe: only a file that, held, passes the check
  // for the old program's role, and the very file held is what is moved. The move is
  // tried again for a while: the new program's file may still be held a moment after
  // it ended.
  bool PutBack() {
    std::unique_ptr<HeldFile> held = s_.files.Hold(p_.backupPath, HoldFor::kRename);
    if (!held ||
        CheckHeldProgram(s_.trust, *held, p_.at.exeFile).verdict != ProgramVerdict::kTrusted) {
      return false;
    }
    const uint64_t deadline = s_.processes.Ticks() + waits_.freeMs;
    for (;;) {
      if (held->MoveOver(p_.at.Program())) return true;
      if (Remaining(deadline) == 0) return false;
      s_.processes.Sleep(waits_.pollMs);
    }
  }

  // True once OLD.exe can be opened for exclusive writing (or does not exist). A
  // read-only file will not become free by waiting.
  bool WaitUntilFree(uint64_t deadline) {
    if (s_.files.IsReadOnly(p_.at.Program())) return false;
    s_.processes.WaitForProgramsOf(p_.at.Program(), Remaining(deadline));
    for (;;) {
      if (s_.files.IsFree(p_.at.Program())) return true;
      if (Remaining(deadline) == 0) return false;
      s_.processes.Sleep(waits_.pollMs);
    }
  }

  // A program signed like this replacer for the old program's role, of a newer
  // revision than a trusted old program, and never below this build's floor for it.
  // The old program's revision comes from its own held check: one that is missing or
  // fails it gives no floor of its own.
  bool Acceptable(HeldFile& held) {
    RevisionRule newer;
    const std::optional<int32_t> old = TrustedRevision(s_, p_.at.Program(), p_.at.exeFile);
    newer.atLeast = std::max(old ? *old + 1 : 0, s_.floors.program);
    const ProgramCheck check =
        CheckAndLog(s_.log, s_.trust, held, p_.newPath, p_.at.exeFile, newer, &refusal_);
    revision_ = check.revision;
    return check.verdict == ProgramVerdict::kTrusted;
  }

  // Frees a name for the backup of OLD.exe: the backups of earlier updates go
  // (read-only or not); a name that cannot be freed (a folder) is passed over for the
  // next one. Empty when none is free.
  std::u16string FreeBackupPath() {
    std::u16string chosen;
    for (int i = 1; i <= 9; ++i) {
      const std::u16string candidate = p_.at.Backup(i);
      const bool gone = s_.files.RemoveFile(candidate) && !s_.files.Exists(candidate);
      if (gone && chosen.empty()) chosen = candidate;
    }
    return chosen;
  }

  // Removes the new file and records that its revision could not be installed, and
  // why, so that the checker does not fetch it again at once.
  void RecordFailure(const std::u16string& why) {
    s_.log.Write(
        {.step = u"install", .file = FileNameOf(p_.newPath), .verdict = u"failed", .reason = why});
    s_.files.RemoveFile(p_.newPath);
    if (!revision_) return;
    RecordFailedInstall(s_.files, p_.at.FailedRecord(), *revision_, s_.processes.UtcSecondsNow(),
                        why);
  }

  // Puts the held new file in place of OLD.exe, which is kept as the backup. On any
  // failure OLD.exe is as it was, and the failure is recorded for every new file
  // whose revision can be told.
  ReplacerExit Install() {
    if (!s_.files.IsFile(p_.newPath)) return kNotReplaced;  // nothing to install
    std::unique_ptr<HeldFile> held = s_.files.Hold(p_.newPath, HoldFor::kRename);
    if (!held) {
      // Held by someone else: its revision, when it can be read and trusted, is still
      // recorded, so that the next start does not hand over again.
      revision_ = TrustedRevision(s_, p_.newPath, p_.at.exeFile);
      RecordFailure(u"the new program is held open by another program");
      return kNotReplaced;
    }
    auto fail = [&](const std::u16string& why) {
      held.reset();
      RecordFailure(why);
      return kNotReplaced;
    };
    if (!Acceptable(*held)) return fail(u"refused: " + refusal_);
    const uint64_t deadline = s_.processes.Ticks() + waits_.freeMs;
    if (!WaitUntilFree(deadline)) return fail(p_.at.exeFile + u" is read-only or still in use");

    // The old program gets a second name, the backup; the rename of the new file over
    // OLD.exe then replaces it in one step.
    hadOld_ = s_.files.IsFile(p_.at.Program());
    if (hadOld_) {
      p_.backupPath = FreeBackupPath();
      if (p_.backupPath.empty() || !s_.files.LinkOrCopy(p_.at.Program(), p_.backupPath)) {
        return fail(u"no backup of " + p_.at.exeFile + u" could be made");
      }
    }
    for (;;) {
      if (held->MoveOver(p_.at.Program())) return kReplaced;
      if (Remaining(deadline) == 0) break;
      s_.processes.Sleep(waits_.pollMs);
    }
    // OLD.exe was never touched: only the backup's name goes.
    if (hadOld_) s_.files.RemoveFile(p_.backupPath);
    return fail(u"the new program could not be moved over " + p_.at.exeFile);
  }

  // Starts the program and watches it until its own DDE service answers (another
  // program answering to the name does not count), it ends, or the wait, which covers
  // its whole start-up, is over. From answerFromMs on it must answer its window
  // messages at every look, or it is stuck and ended. It is told, with a one-time
  // value that the Installed file also holds, that it was just installed: it then
  // runs no start-up update of its own.
  FirstRun StartAndWatch() {
    FirstRun run;
    const std::u16string value = s_.processes.NewHandBackValue();
    if (!value.empty() && WriteHandBack(s_.files, p_.at.Installed(), value)) {
      s_.processes.TellStartValue(kInstalledVariable, value);
    }
    uint32_t error = 0;
    std::unique_ptr<StartedProgram> program =
        s_.processes.Start(OldCommandLine(p_), p_.at.folder, kSwDefault, error);
    if (!program) {
      run.ended = true;
      run.exitCode = error;
      return run;
    }
    const std::u16string service(FileStem(p_.at.exeFile));
    const uint64_t started = s_.processes.Ticks();
    const uint64_t deadline = started + waits_.readyMs;
    uint64_t nextLook = started + waits_.answerFromMs;
    while (Remaining(deadline) > 0) {
      if (std::optional<uint32_t> code = program->WaitForEnd(waits_.pollMs)) {
        run.ended = true;
        run.exitCode = *code;
        return run;
      }
      // Its fatal error box would keep it running, and answering, for good.
      if (program->ShowedFatalError()) return EndFatal(*program);
      if (probe_.ServerOf(service, waits_.pollMs) == program->Id()) {
        run.ready = true;
        return run;
      }
      if (s_.processes.Ticks() >= nextLook) {
        if (!program->AnswersWindowMessages(waits_.answerMs)) return EndStuck(*program);
        nextLook = s_.processes.Ticks() + waits_.lookEveryMs;
      }
    }
    // Neither ready nor ended: a program that answers its window messages is still
    // starting (a box waiting for the user), unless that box is its fatal error; one
    // that answers none is held by a fault or hung. Either failure is ended so that the
    // old program can come back.
    if (program->ShowedFatalError()) return EndFatal(*program);
    if (!program->AnswersWindowMessages(waits_.answerMs)) return EndStuck(*program);
    return run;
  }

  static FirstRun EndStuck(StartedProgram& program) {
    program.End(kStuckExitCode);
    return FirstRun{.stuck = true};
  }

  // A program that showed its fatal error before it was ready has failed: it is ended,
  // box and all.
  static FirstRun EndFatal(StartedProgram& program) {
    program.End(kFatalExitCode);
    return FirstRun{.fatal = true};
  }

  const UpdateServices& s_;
  ServiceProbe& probe_;
  const ReplacerWaits& waits_;
  Paths p_;
  std::unique_ptr<FileLock> lock_;
  std::optional<int32_t> revision_;
  bool hadOld_ = false;
  std::u16string refusal_;  // why the check refused the new program
};

}  // namespace

std::u16string ReplacerExitReason(uint32_t code) {
  switch (code) {
    case kReplaced:
      return u"replaced";
    case kNotReplaced:
      return u"nothing replaced";
    case kReplacerBadArgs:
      return u"bad arguments";
    case kRolledBack:
      return u"the new program failed and the old one is back";
    case kNotRolledBack:
      return u"the new program failed and could not be rolled back";
    default:
      return OtherExitReason(code);
  }
}

void LogReplacerEnd(UpdateLog& log, uint32_t code) {
  LogEnd(log, code, code == kReplaced, ReplacerExitReason(code));
}

bool ShouldRollBack(const FirstRun& run) {
  return !run.ready && (run.stuck || run.fatal || (run.ended && run.exitCode != 0));
}

std::u16string FirstRunReason(const FirstRun& run) {
  if (run.ready) return u"its service answered";
  if (run.fatal) return u"showed a fatal error before it answered";
  if (run.stuck) return u"its windows answered no message before its service answered";
  if (!run.ended) return u"still starting when the watch ended";
  if (run.exitCode >= 0xC0000000u) return OtherExitReason(run.exitCode) + u" before it answered";
  return u"ended with exit code " + ToDecimal(run.exitCode) + u" before it answered";
}

void LogFirstRun(UpdateLog& log, std::u16string_view program, const FirstRun& run) {
  UpdateEvent e;
  e.step = u"watch";
  e.file = program;
  e.verdict = ShouldRollBack(run) ? u"failed" : u"ok";
  e.reason = FirstRunReason(run);
  if (run.ended) e.exitCode = run.exitCode;
  log.Write(e);
}

ReplacerExit RunReplacer(std::u16string_view commandLine, const UpdateServices& s,
                         ServiceProbe& probe, const ReplacerWaits& waits) {
  // Set only for the programs this replacer starts.
  s.processes.TellStartValue(kFailedHandOverVariable, u"");
  s.processes.TellStartValue(kInstalledVariable, u"");
  const std::u16string args = ArgumentsOf(commandLine);
  const std::optional<ArgPair> names = ParseReplacerArgs(args);
  if (!names) {
    ShowBadArguments(args,
                     u"사용법: Pellmora.exe 기존파일.exe;New_기존파일.exe"
                     u" (예: Tindra.exe;New_Tindra.exe)\r\n\r\n아무 파일도 바꾸지 않았습니다.");
    return kReplacerBadArgs;
  }
  Paths p;
  try {
    p.at = InstallFiles{s.files.ProgramFolder(), names->first};
  } catch (const AppError&) {
    return kNotReplaced;  // nowhere to work
  }
  p.newPath = p.at.In(names->second);
  try {
    return Replacer(s, probe, waits, p).Run();
  } catch (...) {
    // Whatever went wrong, the user is not left without a program.
    try {
      Replacer::StartOldAgain(s, p, waits.answerMs);
    } catch (...) {
    }
    return kNotReplaced;
  }
}

}  // namespace tindra
