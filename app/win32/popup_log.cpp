#include "app/win32/popup_log.h"

#include <string>

#include "common/text.h"
#include "common/win32/program_path.h"
#include "update/win32/update_log_win32.h"

namespace tindra::win32 {

void LogPopupFailure(std::u16string_view verdict, const AppError& error) noexcept {
  try {
    UpdateEvent event;
    event.step = u"popup";
    event.verdict = std::u16string(verdict);
    event.reason = u"Error " + ToDecimal(error.number()) + u" (" + error.description() + u")";
    std::u16string folder;
    try {
      folder = ProgramFolder();
    } catch (...) {
      // Not nameable: the debugger's output alone.
    }
    Win32LogMedium medium(LogLockWait::kNone);
    UpdateLogWriter(medium, std::move(folder), u"Tindra").Write(event);
  } catch (...) {
    // Out of memory for the line: nothing more can be said.
  }
}

}  // namespace tindra::win32
