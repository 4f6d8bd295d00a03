// Pellmora.exe, the file replacer. Started by Tindra just before it ends as
//   Pellmora.exe OLD.exe;New_OLD.exe        (for example Tindra.exe;New_Tindra.exe)
// Both are bare file names of Pellmora's own folder: OLD ends in ".exe" and the new
// file's name is "New_" + OLD; anything else changes nothing and ends with a
// message. It opens New_OLD.exe and holds it against writers, checks that it is a
// program signed by the same publisher as this replacer, whose version block names
// OLD.exe, of a newer revision than OLD.exe, waits, at most TINDRA_PROGRAM_WAIT_MS, until
// OLD.exe no longer runs and can be opened for exclusive writing, keeps the old
// program as a second name of the same file (OLD.exe.bak; OLD.exe.bak2 and on when
// that name cannot be freed) and renames the held new file over OLD.exe in one
// step, so that OLD.exe is never missing. If anything fails the old program stays
// as it was. It then starts OLD.exe, and watches a new one for at most
// TINDRA_PROGRAM_READY_WAIT_MS: when it ends abnormally before the DDE service of that
// very process answers, the old program is put back and started instead. The
// backup is removed once the new program answers, or at the next update.
//
// When a new revision cannot be installed or is rolled back, the new file is
// removed and OLD's base name + "_failed.txt" records the revision and when, so
// that the checker leaves that revision alone for a while and no start repeats the
// attempt. The old program it starts again is told so through the environment
// (TINDRA_INSTALL_FAILED), which holds where no record can be written.
//
// Exit code: 0 replaced, 1 nothing replaced (the new file missing or refused,
// OLD.exe busy or read-only, or the move failed), 2 bad arguments, 3 rolled back,
// 4 the new program failed and could not be rolled back (or there was no old one).
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "common/win32/ansi.h"
#include "common/win32/dde_client.h"
#include "common/win32/dll_search.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "update/CompanionRules.h"
#include "update/InstallRules.h"
#include "update/ProgramRole.h"
#include "update/ProgramTrust.h"
#include "update/win32/CompanionFiles_win32.h"
#include "update/win32/ProgramTrust_win32.h"
// This copy's build settings (TINDRA_PROGRAM_*).
#include "tindra_program.h"

namespace {

using namespace tindra;
using namespace tindra::win32;

constexpr DWORD kWaitMs = TINDRA_PROGRAM_WAIT_MS;
constexpr DWORD kReadyWaitMs = TINDRA_PROGRAM_READY_WAIT_MS;
constexpr DWORD kPollMs = 100;

constexpr int kReplaced = 0;
constexpr int kNotReplaced = 1;
constexpr int kBadArgs = 2;
constexpr int kRolledBack = 3;
constexpr int kNotRolledBack = 4;

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

DWORD Remaining(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Waits for every running process whose image is `path` (or whose image cannot be
// named but whose file name matches) to end.
void WaitForProcessesOf(const std::wstring& path, const std::wstring& name, ULONGLONG deadline) {
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || !SameText(entry.szExeFile, name)) continue;
    UniqueHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
        !SameText(std::wstring(image, size), path)) {
      continue;  // a program of the same name elsewhere
    }
    WaitForSingleObject(process.get(), Remaining(deadline));
  }
}

// True once `path` can be opened for exclusive writing (or does not exist). A
// read-only file will not become free by waiting.
bool WaitUntilFree(const std::wstring& path, const std::wstring& name, ULONGLONG deadline) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  WaitForProcessesOf(path, name, deadline);
  for (;;) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND) return true;
    if (Remaining(deadline) == 0) return false;
    Sleep(kPollMs);
  }
}

bool IsOrdinaryFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A program signed like this replacer for the old program's role, of a newer
// revision than the old program (or than nothing, when there is none).
bool Acceptable(HeldProgram& held, const std::wstring& newPath, const std::wstring& oldPath,
                const std::wstring& oldName) {
  Win32ProgramInspector files;
  RevisionRule newer;
  if (std::optional<int32_t> old = RevisionOfVersion(files.VersionOf(FromWide(oldPath)))) {
    newer.atLeast = *old + 1;
  } else {
    newer.atLeast = 0;
  }
  return CheckProgramFor(held, FromWide(newPath), FromWide(oldName), newer) ==
         ProgramVerdict::kTrusted;
}

// Frees a name for the backup of `oldPath`: the backups of earlier updates go
// (read-only or not); a name that cannot be freed (a folder) is passed over for the
// next one. Empty when none is free.
std::wstring FreeBackupPath(const std::wstring& oldPath) {
  std::wstring chosen;
  for (int i = 1; i <= 9; ++i) {
    const std::wstring candidate = oldPath + L".bak" + (i == 1 ? L"" : std::to_wstring(i));
    const bool gone = RemoveProgramFile(FromWide(candidate)) &&
                      GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (gone && chosen.empty()) chosen = candidate;
  }
  return chosen;
}

// Where the replacer works: OLD.exe, NEW.exe, the old program's backup and the
// failed-install record, all in its own folder.
struct Paths {
  std::wstring folder;
  std::wstring oldName;
  std::wstring oldPath;
  std::wstring newPath;
  std::wstring backupPath;
  std::wstring recordPath;
};

// Removes the new file and records that `revision` could not be installed, so that
// the checker does not fetch it again at once.
void RecordFailure(const Paths& p, std::optional<int32_t> revision) {
  RemoveProgramFile(FromWide(p.newPath));
  if (!revision) return;
  const std::u16string record = FromWide(p.recordPath);
  WriteFailedInstall(record, NextFailure(ReadFailedInstall(record), *revision, UnixTimeNow()));
}

// Puts the held new file in place of OLD.exe, which is kept as the backup. On any
// failure OLD.exe is as it was, and the failure is recorded for every new file
// whose revision can be told.
int Install(Paths& p, std::optional<int32_t>& revision, bool& hadOld) {
  if (!IsOrdinaryFile(p.newPath)) return kNotReplaced;
  const std::u16string newPath = FromWide(p.newPath);
  std::optional<HeldProgram> held = HeldProgram::Open(newPath);
  if (!held) {
    // Held by someone else: its revision, when it can be read and trusted, is still
    // recorded, so that the next start does not hand over again.
    Win32ProgramInspector files;
    RecordFailure(p, TrustedRevision(files, newPath, FromWide(p.oldName)));
    return kNotReplaced;
  }
  revision = TrustedRevision(*held, newPath, FromWide(p.oldName));
  if (!Acceptable(*held, p.newPath, p.oldPath, p.oldName)) {
    held.reset();
    RecordFailure(p, revision);
    return kNotReplaced;
  }
  auto fail = [&] {
    held.reset();
    RecordFailure(p, revision);
    return kNotReplaced;
  };
  ULONGLONG deadline = GetTickCount64() + kWaitMs;
  if (!WaitUntilFree(p.oldPath, p.oldName, deadline)) return fail();

  // The old program gets a second name, the backup; the rename of the new file over
  // OLD.exe then replaces it in one step.
  hadOld = IsOrdinaryFile(p.oldPath);
  if (hadOld) {
    p.backupPath = FreeBackupPath(p.oldPath);
    if (p.backupPath.empty()) return fail();
    if (!CreateHardLinkW(p.backupPath.c_str(), p.oldPath.c_str(), nullptr) &&
        !CopyFileW(p.oldPath.c_str(), p.backupPath.c_str(), TRUE)) {
      return fail();
    }
  }
  for (;;) {
    if (held->MoveOver(FromWide(p.oldPath))) return kReplaced;
    if (Remaining(deadline) == 0) break;
    Sleep(kPollMs);
  }
  // OLD.exe was never touched: only the backup's name goes.
  if (hadOld) RemoveProgramFile(FromWide(p.backupPath));
  return fail();
}

// Starts OLD.exe in its folder; the process handle, or null when it cannot start
// (GetLastError tells why).
UniqueHandle StartProgram(const Paths& p) {
  std::wstring line = L"\"" + p.oldPath + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(p.oldPath.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      p.folder.c_str(), &si, &pi)) {
    return nullptr;
  }
  UniqueHandle thread(pi.hThread);
  return UniqueHandle(pi.hProcess);
}

// Starts the program and watches it until its own DDE service answers (another
// program answering to the name does not count), it ends, or kReadyWaitMs is over.
FirstRun StartAndWatch(const Paths& p) {
  FirstRun run;
  UniqueHandle process = StartProgram(p);
  if (!process) {
    run.ended = true;
    run.exitCode = GetLastError();
    return run;
  }
  poke::PokeRequest service;
  service.service = std::u16string(FileStem(FromWide(p.oldName)));
  service.connectWaitMs = kPollMs;
  const ULONGLONG deadline = GetTickCount64() + kReadyWaitMs;
  while (Remaining(deadline) > 0) {
    if (WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process.get(), &code);
      run.ended = true;
      run.exitCode = code;
      return run;
    }
    poke::DdeConversation conversation;
    if (conversation.Connect(service) == poke::PokeOutcome::kAcknowledged &&
        conversation.ServerProcessId() == GetProcessId(process.get())) {
      run.ready = true;
      return run;
    }
  }
  return run;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  LoadDllsFromSystemFolderOnly();
  // Set only for an old program started again after a failure.
  SetEnvironmentVariableW(WidePtr(kFailedHandOverVariable), nullptr);
  const std::u16string args = ArgumentsOf(FromWide(GetCommandLineW()));
  std::optional<ArgPair> names = ParseReplacerArgs(args);
  if (!names) {
    std::u16string text = u"잘못된 실행 인수입니다: \"" + args +
                          u"\"\r\n\r\n사용법: Pellmora.exe 기존파일.exe;New_기존파일.exe"
                          u" (예: Tindra.exe;New_Tindra.exe)\r\n\r\n아무 파일도 바꾸지 않았습니다.";
    MessageBoxW(nullptr, WidePtr(text), L"Pellmora", MB_OK | MB_ICONERROR);
    return kBadArgs;
  }
  Paths p;
  try {
    p.folder = ToWide(ProgramFolder());
  } catch (const AppError&) {
    return kNotReplaced;  // nowhere to work
  }
  p.oldName = ToWide(names->first);
  p.oldPath = p.folder + L"\\" + p.oldName;
  p.newPath = p.folder + L"\\" + ToWide(names->second);
  p.recordPath = p.folder + L"\\" + ToWide(FailedInstallFileName(names->first));
  std::optional<int32_t> revision;
  bool hadOld = false;
  int code = Install(p, revision, hadOld);
  if (code == kReplaced) {
    const FirstRun run = StartAndWatch(p);
    if (!ShouldRollBack(run)) {
      // Proved itself: the old program is no longer needed. Still starting: the
      // backup stays until the next update.
      if (run.ready && hadOld) RemoveProgramFile(FromWide(p.backupPath));
      return kReplaced;
    }
    // The new program could not start: the old one comes back, when there is one
    // and it can be put back.
    RecordFailure(p, revision);
    if (!hadOld || !MoveFileExW(p.backupPath.c_str(), p.oldPath.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return kNotRolledBack;
    }
    code = kRolledBack;
  }
  // The old program runs again, and knows not to hand over once more.
  SetEnvironmentVariableW(WidePtr(kFailedHandOverVariable), L"1");
  StartProgram(p);
  return code;
}
