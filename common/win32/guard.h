#pragma once
// The edge of every window procedure, timer callback and DDE callback: nothing may
// unwind into the window system. An error that escapes an event handler is reported
// in a message box captioned "Tindra" and ends the program, as an unhandled run-time
// error does.
#include <windows.h>

#include <string>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/text.h"  // ToDecimal
#include "common/win32/handle.h"

namespace tindra::win32 {

// The event a program sets as it shows its fatal error: a replacer watching the
// program's first start tells that box from one waiting for the user by it
// (update/win32/processes_win32.cpp). The replacer creates it under a name drawn from
// the system's random source, refusing one that exists already, and hands the name to
// that program alone in this environment variable. The program opens it (never creates
// it) as it starts and clears the variable, so that no program it starts sets it.
inline constexpr wchar_t kFatalErrorEventVariable[] = L"TINDRA_FATAL_EVENT";

inline UniqueHandle& FatalErrorEvent() {
  static UniqueHandle event;
  return event;
}

// Called first thing by a program a replacer may watch.
inline void TakeFatalErrorEvent() {
  wchar_t name[96] = {};
  const DWORD n = GetEnvironmentVariableW(kFatalErrorEventVariable, name, 96);
  SetEnvironmentVariableW(kFatalErrorEventVariable, nullptr);
  if (n == 0 || n >= 96) return;
  FatalErrorEvent().reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
}

// The name a replacer of an earlier revision gives the event: it is created by that
// replacer before the program runs, and only opened here.
inline std::wstring EarlierFatalErrorEventName(DWORD processId) {
  return L"Local\\Tindra.FatalError." + std::to_wstring(processId);
}

[[noreturn]] inline void ReportFatalAndExit(int32_t number, const std::u16string& description) {
  // Set before the box, which may stay open for good.
  if (FatalErrorEvent()) SetEvent(FatalErrorEvent().get());
  const UniqueHandle earlier(OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                        EarlierFatalErrorEventName(GetCurrentProcessId()).c_str()));
  if (earlier) SetEvent(earlier.get());
  ShowMessage(u"Run-time error '" + ToDecimal(number) + u"':\r\n\r\n" + description, kMbOk);
  ExitProcess(static_cast<UINT>(number ? number : 1));
}

// Runs `handler`; on any error reports it and ends the process. Returns what the
// handler returns.
template <typename F>
auto GuardedHandler(F&& handler) noexcept -> decltype(handler()) {
  try {
    return handler();
  } catch (...) {
    const AppError e = CurrentError();
    ReportFatalAndExit(e.number(), e.description());
  }
}

}  // namespace tindra::win32
