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

// The event a program sets as it shows its fatal error, named for its process: a
// replacer watching the program's first start tells that box from one waiting for the
// user by it (update/win32/processes_win32.cpp).
inline std::wstring FatalErrorEventName(DWORD processId) {
  return L"Local\\Tindra.FatalError." + std::to_wstring(processId);
}

[[noreturn]] inline void ReportFatalAndExit(int32_t number, const std::u16string& description) {
  // Set before the box, which may stay open for good; held until the process ends.
  const UniqueHandle announced(
      CreateEventW(nullptr, TRUE, FALSE, FatalErrorEventName(GetCurrentProcessId()).c_str()));
  if (announced) SetEvent(announced.get());
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
