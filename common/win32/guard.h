#pragma once
// The edge of every window procedure, timer callback and DDE callback: nothing may
// unwind into the window system. An error that escapes an event handler is reported
// in a message box captioned "Tindra" and ends the program, as an unhandled run-time
// error does.
#include <windows.h>

#include <exception>
#include <string>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/text.h"

namespace tindra::win32 {

[[noreturn]] inline void ReportFatalAndExit(int32_t number, const std::u16string& description) {
  ShowMessage(u"Run-time error '" + ToDecimal(number) + u"':\r\n\r\n" + description, kMbOk);
  ExitProcess(static_cast<UINT>(number ? number : 1));
}

// Runs `handler`; on any error reports it and ends the process. Returns what the
// handler returns.
template <typename F>
auto GuardedHandler(F&& handler) noexcept -> decltype(handler()) {
  try {
    return handler();
  } catch (const AppError& e) {
    ReportFatalAndExit(e.number(), e.description());
  } catch (const std::bad_alloc&) {
    ReportFatalAndExit(kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
  } catch (const std::exception& e) {
    ReportFatalAndExit(51, u"Internal error: " + Utf8ToUtf16(e.what()));
  } catch (...) {
    ReportFatalAndExit(51, u"Internal error");
  }
}

}  // namespace tindra::win32
