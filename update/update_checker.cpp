#include "update/update_checker.h"

#include "update/install_files.h"
#include "update/install_records.h"
#include "update/logged_network.h"
#include "update/server_layout.h"
#include "update/trusted_fetch.h"
#include "update/update_events.h"

namespace tindra {

std::optional<CheckerArgs> ReadCheckerCommandLine(std::u16string_view commandLine) {
  const std::u16string args = ArgumentsOf(commandLine);
  std::optional<CheckerArgs> parsed = ParseCheckerArgs(args);
  if (!parsed) {
    ShowBadArguments(args, u"사용법: Vantorel.exe 리비전;파일이름.exe (예: 27;Tindra.exe)");
  }
  return parsed;
}

CheckerExit CheckForUpdate(const CheckerArgs& args, std::u16string_view host,
                           const UpdateServices& s, const std::atomic<bool>& cancelled) {
  const InstallFiles own{s.files.ProgramFolder(), args.exeFile};
  const std::u16string target = own.NewProgram();
  const std::u16string replacer = own.In(kReplacerName);
  if (!ClearPlaceFor(s.files, target)) return kCheckerStale;
  s.network.RemoveLeftoverDownloads(own.folder,
                                    {std::u16string(kNewPrefix) + args.exeFile + kPartSuffix,
                                     std::u16string(kReplacerName) + kPartSuffix});

  const std::u16string base = GetUpdateBaseUrl(host);
  std::string body;
  const std::optional<int32_t> latest =
      s.network.FetchBody(base + VersionFileName(args.exeFile), 64, body)
          ? ParseLatestRevision(body)
          : std::nullopt;
  // What the server announces against what runs, at every check: a revision held back
  // shows in the log.
  LogRevisions(s.log, args.exeFile, latest, u"running", args.revision);
  if (!latest || *latest <= args.revision) return kCheckerNothing;
  // A revision whose install failed is left alone for a while (a refused file holds
  // back no revision).
  const std::u16string record = own.FailedRecord();
  if (const auto failed = ReadFailedInstall(s.files, record);
      !MayFetch(failed, *latest, s.processes.UtcSecondsNow())) {
    s.log.Write({.step = u"version",
                 .file = args.exeFile,
                 .verdict = u"skipped",
                 .reason = BackoffReason(*failed)});
    return kCheckerNothing;
  }

  // The new program is left only for a replacer that can install it.
  if (!EnsureTrustedCompanion(s, base + kReplacerName, replacer, kReplacerName,
                              s.floors.replacer)) {
    return kCheckerFailed;
  }
  RevisionRule announced;
  announced.exact = *latest;
  // A refused file (a forged answer, or the server announcing a revision it does not
  // serve) is recorded by its SHA-256: that file is not checked again for a while, and
  // the genuine one is installed as soon as it is served.
  const Fetched fetched =
      FetchCompanion(s, base + args.exeFile, target, args.exeFile, announced, record);
  // A cancel ends the transfer too.
  if (fetched != Fetched::kDone) return cancelled ? kCheckerCancelled : kCheckerFailed;
  if (cancelled) {
    s.files.RemoveFile(target);
    return kCheckerCancelled;
  }
  return kCheckerReady;
}

std::u16string CheckerExitReason(uint32_t code) {
  switch (code) {
    case kCheckerNothing:
      return u"nothing to install";
    case kCheckerReady:
      return u"a new program is ready";
    case kCheckerBadArgs:
      return u"bad parameters";
    case kCheckerStale:
      return u"a stale New_ file could not be removed";
    case kCheckerFailed:
      return u"the download or its check failed";
    case kCheckerCancelled:
      return u"cancelled by the user";
    default:
      return OtherExitReason(code);
  }
}

void LogCheckerEnd(UpdateLog& log, uint32_t code) {
  LogEnd(log, code, code == kCheckerNothing || code == kCheckerReady, CheckerExitReason(code));
}

void LogCheckerRun(const UpdateServices& s) {
  const std::optional<uint32_t> code = s.processes.LastWaitExitCode();
  UpdateEvent e;
  e.step = u"run";
  e.file = kCheckerName;
  e.verdict = !code ? u"failed" : *code <= kCheckerReady ? u"ok" : u"failed";
  e.reason = code ? CheckerExitReason(*code) : u"not started";
  if (const std::optional<uint64_t> cut = s.processes.LastWaitCutAt()) {
    e.verdict = u"failed";
    e.reason = BoundReason({.endedBy = TransferBound::kCeiling, .boundMs = *cut});
  }
  e.exitCode = code;
  s.log.Write(e);
}

}  // namespace tindra
