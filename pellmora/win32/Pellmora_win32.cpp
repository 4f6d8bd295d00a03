// Pellmora.exe, the file replacer. Started by Tindra just before it ends as
//   Pellmora.exe OLD.exe;NEW.exe            (for example Tindra.exe;New_Tindra.exe)
// Both are bare file names of Pellmora's own folder; names with a folder part or
// ".." are refused. It opens NEW.exe and holds it against writers, checks that it
// is a program signed by the same publisher as this replacer and of a newer
// revision than OLD.exe, waits, at most PELLMORA_WAIT_MS, until OLD.exe no longer
// runs and can be opened for exclusive writing, then renames the held NEW.exe over
// OLD.exe in one step. A NEW.exe that fails its check is removed. If anything fails
// the old program stays as it was. In every case where OLD.exe is a valid name it
// starts OLD.exe again at the end.
//
// Exit code: 0 replaced, 1 nothing replaced (NEW.exe missing or refused, OLD.exe
// still busy, or the move failed), 2 bad arguments.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/dll_search.h"
#include "common/win32/handle.h"
#include "update/CompanionRules.h"
#include "update/ProgramTrust.h"
#include "update/win32/ProgramTrust_win32.h"

#ifndef PELLMORA_WAIT_MS
#define PELLMORA_WAIT_MS 30000
#endif

namespace {

using namespace tindra;
using namespace tindra::win32;

constexpr DWORD kWaitMs = PELLMORA_WAIT_MS;
constexpr DWORD kPollMs = 100;

std::wstring ModuleFolder() {
  std::wstring path = ToWide(ModulePath());
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

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
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return;
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

// True once `path` can be opened for exclusive writing (or does not exist).
bool WaitUntilFree(const std::wstring& path, const std::wstring& name, ULONGLONG deadline) {
  WaitForProcessesOf(path, name, deadline);
  for (;;) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() != INVALID_HANDLE_VALUE) return true;
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

// A program signed like this replacer, of a newer revision than the old program (or
// than nothing, when there is none).
bool Acceptable(HeldProgram& held, const std::wstring& newPath, const std::wstring& oldPath) {
  const std::u16string path = FromWide(newPath);
  if (CheckProgram(held, path) != ProgramVerdict::kTrusted) return false;
  std::optional<int32_t> fresh = RevisionOfVersion(held.VersionOf(path));
  Win32ProgramInspector files;
  std::optional<int32_t> old = RevisionOfVersion(files.VersionOf(FromWide(oldPath)));
  return fresh && (!old || *fresh > *old);
}

bool Replace(const std::wstring& oldPath, const std::wstring& oldName,
             const std::wstring& newPath) {
  if (!IsOrdinaryFile(newPath)) return false;
  std::optional<HeldProgram> held = HeldProgram::Open(FromWide(newPath));
  if (!held) return false;
  if (!Acceptable(*held, newPath, oldPath)) {
    held.reset();
    DeleteFileW(newPath.c_str());
    return false;
  }
  ULONGLONG deadline = GetTickCount64() + kWaitMs;
  if (!WaitUntilFree(oldPath, oldName, deadline)) return false;
  for (;;) {
    if (held->MoveOver(FromWide(oldPath))) return true;
    if (Remaining(deadline) == 0) return false;
    Sleep(kPollMs);
  }
}

void StartProgram(const std::wstring& path, const std::wstring& folder) {
  std::wstring line = L"\"" + path + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                     &si, &pi)) {
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  LoadDllsFromSystemFolderOnly();
  const std::u16string args = ArgumentsOf(FromWide(GetCommandLineW()));
  std::optional<ArgPair> names = SplitArgs(args);
  if (!names || !IsBareFileName(names->first)) {
    std::u16string text = u"잘못된 실행 인수입니다: \"" + args +
                          u"\"\r\n\r\n사용법: Pellmora.exe 기존파일.exe;새파일.exe";
    MessageBoxW(nullptr, WidePtr(text), L"Pellmora", MB_OK | MB_ICONERROR);
    return 2;
  }
  const std::wstring folder = ModuleFolder();
  const std::wstring oldName = ToWide(names->first);
  const std::wstring oldPath = folder + L"\\" + oldName;
  int code = 2;
  if (IsBareFileName(names->second) && !SameText(oldName, ToWide(names->second))) {
    code = Replace(oldPath, oldName, folder + L"\\" + ToWide(names->second)) ? 0 : 1;
  }
  StartProgram(oldPath, folder);
  return code;
}
