#include "update/win32/processes_win32.h"

#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <tlhelp32.h>
// RtlGenRandom (advapi32).
#include <ntsecapi.h>

#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/message_wait.h"
#include "common/win32/window.h"
#include "update/install_records.h"

namespace tindra::win32 {

namespace {

// The shell's start record as it publishes it: 60 bytes on 32-bit Windows, 112 on 64-bit.
constexpr size_t kShellExecuteInfoSize = sizeof(void*) == 4 ? 60 : 112;
static_assert(sizeof(SHELLEXECUTEINFOW) == kShellExecuteInfoSize,
              "SHELLEXECUTEINFOW must have the shell's layout");

bool SameText(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// A process's windows, asked one after the other whether they answer.
struct WindowSearch {
  DWORD processId;
  UINT waitMs;
  bool answered;
};

// Hidden windows count too: a program still starting may show none yet.
BOOL CALLBACK AskWindow(HWND window, LPARAM param) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  DWORD_PTR result = 0;
  if (owner == search.processId &&
      SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, search.waitMs,
                          &result)) {
    search.answered = true;
    return FALSE;
  }
  return TRUE;
}

// `count` letters and digits drawn from the system's random source; empty when it
// gives none.
std::u16string RandomLetters(size_t count) {
  static constexpr char16_t kLetters[] = u"ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::vector<unsigned char> bytes(count);
  if (!RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()))) return u"";
  std::u16string letters;
  for (unsigned char b : bytes) letters += kLetters[b % 32];
  return letters;
}

// The event a program this replacer starts sets as it shows its fatal error
// (common/win32/window.h), made before the program runs, and its name for the program.
// Only an event this replacer created counts: a name that exists already is refused,
// so no event another process made, set or not, is taken for the program's. The name
// holds 80 random bits and goes only into that program's environment. With default
// security only this account (and the system) can open the event: another account's
// process cannot set it, read its name from the program's environment, or make one
// the replacer adopts; the most it can do is take names of its own, which the replacer
// never looks at. A process of this account could set it, as it could end the program.
struct FatalEvent {
  UniqueHandle event;
  std::wstring name;
};
FatalEvent NewFatalEvent() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::u16string letters = RandomLetters(16);
    if (letters.empty()) break;
    FatalEvent made{UniqueHandle(), L"Local\\Tindra.FatalError." + ToWide(letters)};
    SetLastError(0);
    made.event.reset(CreateEventW(nullptr, TRUE, FALSE, made.name.c_str()));
    if (made.event && GetLastError() != ERROR_ALREADY_EXISTS) return made;
  }
  return {};
}

class Win32StartedProgram : public StartedProgram {
 public:
  Win32StartedProgram(HANDLE process, UniqueHandle job, UniqueHandle fatal)
      : process_(process), job_(std::move(job)), fatal_(std::move(fatal)) {}
  uint32_t Id() override { return GetProcessId(process_.get()); }
  std::optional<uint32_t> WaitForEnd(uint32_t waitMs) override {
    if (WaitForSingleObject(process_.get(), waitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }
  bool ShowedFatalError() override {
    return fatal_ && WaitForSingleObject(fatal_.get(), 0) == WAIT_OBJECT_0;
  }
  bool AnswersWindowMessages(uint32_t waitMs) override {
    WindowSearch search{GetProcessId(process_.get()), waitMs, false};
    EnumWindows(AskWindow, reinterpret_cast<LPARAM>(&search));
    return search.answered;
  }
  // With its job, whatever it started goes too: a debugger or fault reporter that
  // holds its file would keep it from being put back.
  void End(uint32_t exitCode) override {
    if (!job_ || !TerminateJobObject(job_.get(), exitCode)) {
      TerminateProcess(process_.get(), exitCode);
    }
    WaitForSingleObject(process_.get(), 5000);
  }

 private:
  UniqueHandle process_;
  // Closing it leaves the program running.
  UniqueHandle job_;
  UniqueHandle fatal_;
};

// Asks each shown top-level window of a process to close, as a user would.
BOOL CALLBACK CloseWindowOf(HWND window, LPARAM processId) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(processId) && IsWindowVisible(window))
    PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// The exit code of a program ended at the wait's ceiling.
constexpr UINT kEndedAtCeiling = ERROR_TIMEOUT;

// A job of its own for a program about to run: no unhandled fault of it, or of the
// programs it starts, waits behind a fault dialog, and it can be ended with all of
// them. Nothing when the system gives none (the caller may already run in a job
// that takes no nested one).
UniqueHandle JobFor(HANDLE process) {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  if (!AssignProcessToJobObject(job.get(), process)) job.reset();
  return job;
}

}  // namespace

void Win32Processes::StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                         const std::u16string& parameters,
                                         const std::u16string& directory, const int16_t& hidden,
                                         const int16_t& minimized) {
  lastWaitExit_.reset();
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

  lastWaitCut_.reset();
  ShellExecuteExW(&info);
  UniqueHandle process(info.hProcess);
  if (!process) return;
  const uint64_t askAt = !waitEndBy_                 ? 0
                         : waitEndBy_ > waitGraceMs_ ? waitEndBy_ - waitGraceMs_
                                                     : 1;
  if (!WaitTakingMessages(process.get(), askAt)) {
    // The ceiling: asked to close, the checker cancels; one that does not is ended.
    lastWaitCut_ = waitCeilingMs_;
    EnumWindows(CloseWindowOf, static_cast<LPARAM>(GetProcessId(process.get())));
    if (!WaitTakingMessages(process.get(), waitEndBy_)) {
      TerminateProcess(process.get(), kEndedAtCeiling);
      WaitForSingleObject(process.get(), 5000);
    }
  }
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.get(), &code)) {
    lastWaitExit_ = code;
  }
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
  // The replacer's programs: the name of their fatal error's event is in the
  // environment they start with, and in no other.
  FatalEvent fatal;
  if (ownJobs_) fatal = NewFatalEvent();
  if (fatal.event) SetEnvironmentVariableW(kFatalErrorEventVariable, fatal.name.c_str());
  // Held until it is in its job, so that nothing it starts escapes it.
  const BOOL created =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, ownJobs_ ? CREATE_SUSPENDED : 0,
                     nullptr, directory.empty() ? nullptr : WidePtr(directory), &si, &pi);
  error = created ? 0 : GetLastError();
  if (fatal.event) SetEnvironmentVariableW(kFatalErrorEventVariable, nullptr);
  if (!created) return nullptr;
  UniqueHandle thread(pi.hThread);
  UniqueHandle job;
  if (ownJobs_) job = JobFor(pi.hProcess);
  auto started =
      std::make_unique<Win32StartedProgram>(pi.hProcess, std::move(job), std::move(fatal.event));
  if (ownJobs_) ResumeThread(pi.hThread);
  return started;
}

namespace {

// Calls `visit` with the identifier of every other process whose image file is named
// `name`, until it returns false. False when the processes cannot be listed.
template <typename Visit>
bool ForEachProcessNamed(std::wstring_view name, Visit&& visit) {
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || !SameText(entry.szExeFile, name)) continue;
    if (!visit(entry.th32ProcessID)) break;
  }
  return true;
}

}  // namespace

bool AnotherProcessNamed(const std::u16string& exeFile) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  bool found = false;
  const bool listed = ForEachProcessNamed(ToWide(exeFile), [&](DWORD id) {
    DWORD its = 0;
    found = !ProcessIdToSessionId(id, &its) || its == session;
    return !found;
  });
  return found || !listed;
}

void Win32Processes::WaitForProgramsOf(const std::u16string& path, uint32_t waitMs) {
  const std::wstring image = ToWide(path);
  const std::wstring name = image.substr(image.find_last_of(L"\\/") + 1);
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  ForEachProcessNamed(name, [&](DWORD id) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) return true;
    // A program of the same name elsewhere is not waited for; one whose image cannot
    // be named is.
    wchar_t running[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (QueryFullProcessImageNameW(process.get(), 0, running, &size) &&
        !SameText(std::wstring_view(running, size), image)) {
      return true;
    }
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(process.get(), now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
    return true;
  });
}

void Win32Processes::EndProcess() {
  // At once: no window's unload handling and no exit handlers run.
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);
}

int64_t Win32Processes::UtcSecondsNow() {
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

std::u16string Win32Processes::TakeStartValue(std::u16string_view variable) {
  const std::wstring name = ToWide(std::u16string(variable));
  wchar_t value[kHandBackLength + 2] = {};
  const DWORD n = GetEnvironmentVariableW(name.c_str(), value, kHandBackLength + 2);
  TellStartValue(variable, u"");
  // Longer values are not the replacer's.
  if (n == 0 || n > kHandBackLength) return u"";
  return FromWide(std::wstring_view(value, n));
}

void Win32Processes::TellStartValue(std::u16string_view variable, std::u16string_view value) {
  const std::wstring name = ToWide(std::u16string(variable));
  const std::wstring wide = ToWide(std::u16string(value));
  SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : wide.c_str());
}

std::u16string Win32Processes::NewHandBackValue() { return RandomLetters(kHandBackLength); }

}  // namespace tindra::win32
