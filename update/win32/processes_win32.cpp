#include "update/win32/processes_win32.h"

#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "update/install_rules.h"

namespace tindra::win32 {

namespace {

// The ANSI record as the shell publishes it; 60 bytes on 32-bit Windows.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60,
              "SHELLEXECUTEINFOA must be 60 bytes on 32-bit Windows");

bool SameText(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

class Win32StartedProgram : public StartedProgram {
 public:
  explicit Win32StartedProgram(HANDLE process) : process_(process) {}
  uint32_t Id() override { return GetProcessId(process_.get()); }
  std::optional<uint32_t> WaitForEnd(uint32_t waitMs) override {
    if (WaitForSingleObject(process_.get(), waitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  UniqueHandle process_;
};

}  // namespace

void Win32Processes::StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                         const std::u16string& parameters,
                                         const std::u16string& directory, const int16_t& hidden,
                                         const int16_t& minimized) {
  // The wide form: a folder that the ANSI code page cannot spell starts alike.
  for (const std::u16string* text : {&fileName, &parameters, &directory}) {
    if (text->find(u'\0') != std::u16string::npos) return;
  }
  const std::wstring file = ToWide(fileName);
  const std::wstring params = ToWide(parameters);
  const std::wstring dir = ToWide(directory);

  SHELLEXECUTEINFOW info;
  ZeroMemory(&info, sizeof(info));
  info.cbSize = sizeof(info);
  // No SEE_MASK_FLAG_NO_UI: the shell shows its own box when the file cannot be opened.
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(ownerWindow));
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = params.c_str();
  info.lpDirectory = dir.c_str();
  info.nShow = WaitProcShowCommand(hidden, minimized);

  ShellExecuteExW(&info);
  UniqueHandle process(info.hProcess);
  if (process) WaitForSingleObject(process.get(), INFINITE);
}

std::unique_ptr<StartedProgram> Win32Processes::Start(const std::u16string& commandLine,
                                                      const std::u16string& directory,
                                                      int32_t windowState, uint32_t& error) {
  std::wstring line = ToWide(commandLine);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  if (windowState != kSwDefault) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(windowState);
  }
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : WidePtr(directory), &si, &pi)) {
    error = GetLastError();
    return nullptr;
  }
  UniqueHandle thread(pi.hThread);
  return std::make_unique<Win32StartedProgram>(pi.hProcess);
}

void Win32Processes::WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) {
  const std::wstring image = ToWide(path);
  const std::wstring name = image.substr(image.find_last_of(L"\\/") + 1);
  const ULONGLONG deadline = GetTickCount64() + waitMs;
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
    // A program of the same name elsewhere is not waited for; one whose image cannot
    // be named is.
    wchar_t running[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (QueryFullProcessImageNameW(process.get(), 0, running, &size) &&
        !SameText(std::wstring_view(running, size), image)) {
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(process.get(), now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
  }
}

void Win32Processes::EndProcess() {
  // At once: no window's unload handling and no exit handlers run.
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);
}

int64_t Win32Processes::Now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // 100-ns intervals since 1601 -> seconds since 1970.
  return static_cast<int64_t>(t.QuadPart / 10000000ull) - 11644473600ll;
}

uint64_t Win32Processes::Ticks() { return GetTickCount64(); }

void Win32Processes::Sleep(uint32_t ms) { ::Sleep(ms); }

bool Win32Processes::TakeFailedHandOver() {
  wchar_t value[8] = {};
  const DWORD n = GetEnvironmentVariableW(WidePtr(kFailedHandOverVariable), value, 8);
  TellFailedHandOver(false);
  return n > 0 && n < 8;
}

void Win32Processes::TellFailedHandOver(bool failed) {
  SetEnvironmentVariableW(WidePtr(kFailedHandOverVariable), failed ? L"1" : nullptr);
}

}  // namespace tindra::win32
