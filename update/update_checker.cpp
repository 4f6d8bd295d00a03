#include "update/update_checker.h"

#include "common/msgbox.h"
#include "update/companion_rules.h"
#include "update/install_rules.h"
#include "update/update_events.h"

namespace tindra {

namespace {

// Clears the place the new program is left at: a stale file goes (read-only or not),
// and so does an empty folder of that name. False when the place stays taken: a file
// that cannot go yet is tried again next time; a folder that holds something is the
// user's, and the user is told why no update can come.
bool ClearPlaceOfNewProgram(ProgramFiles& files, const std::u16string& target) {
  if (files.RemoveFile(target)) return true;
  if (files.IsFile(target)) return false;
  if (files.RemoveEmptyFolder(target)) return true;
  ShowMessage(
      u"새 버전을 받을 자리에 같은 이름의 폴더가 있어 업데이트할 수 없습니다."
      u" 이 폴더를 옮기거나 지워 주십시오.\r\n\r\n" +
          target,
      kMbOk | kMbIconError);
  return false;
}

}  // namespace

std::optional<CheckerArgs> ReadCheckerCommandLine(std::u16string_view commandLine) {
  const std::u16string args = ArgumentsOf(commandLine);
  std::optional<CheckerArgs> parsed = ParseCheckerArgs(args);
  if (!parsed) {
    ShowMessage(u"잘못된 실행 인수입니다: \"" + args +
                    u"\"\r\n\r\n사용법: Vantorel.exe 리비전;파일이름.exe (예: 27;Tindra.exe)",
                kMbOk | kMbIconError);
  }
  return parsed;
}

CheckerExit CheckForUpdate(const CheckerArgs& args, std::u16string_view host,
                           const UpdateServices& s, const std::atomic<bool>& cancelled) {
  const std::u16string folder = s.files.ProgramFolder();
  const std::u16string target = folder + u"\\" + kNewPrefix + args.exeFile;
  const std::u16string replacer = folder + u"\\" + kReplacerName;
  if (!ClearPlaceOfNewProgram(s.files, target)) return kCheckerStale;
  s.network.RemoveLeftoverDownloads(folder,
                                    {std::u16string(kNewPrefix) + args.exeFile + kPartSuffix,
                                     std::u16string(kReplacerName) + kPartSuffix});

  const std::u16string base = GetUpdateBaseUrl(host);
  std::string body;
  if (!s.network.FetchBody(base + VersionFileName(args.exeFile), 64, body)) return kCheckerNothing;
  const std::optional<int32_t> latest = ParseLatestRevision(body);
  if (!latest || *latest <= args.revision) return kCheckerNothing;
  // A revision whose install failed is left alone for a while.
  const std::u16string record = folder + u"\\" + FailedInstallFileName(args.exeFile);
  if (const auto failed = ReadFailedInstall(s.files, record);
      !MayFetch(failed, *latest, s.processes.Now())) {
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
  const Fetched fetched = FetchCompanion(s, base + args.exeFile, target, args.exeFile, announced);
  if (fetched == Fetched::kRefused) {
    // The server announces a revision it does not serve (or serves a file that fails
    // its check): left alone for a while, like a failed install.
    RecordFailedInstall(s.files, record, *latest, s.processes.Now(),
                        u"the served program failed its check");
  }
  // A cancel ends the transfer too.
  if (fetched != Fetched::kDone) return cancelled ? kCheckerCancelled : kCheckerFailed;
  if (cancelled) {
    s.files.RemoveFile(target);
    return kCheckerCancelled;
  }
  return kCheckerReady;
}

}  // namespace tindra
