#pragma once
// The program's own lines about popups, in the program folder's log beside the
// update's lines.
#include <string_view>

#include "common/errors.h"

namespace tindra::win32 {

// Writes a "popup" line with `verdict` ("skipped", "closed") and the error. On the
// user-interface thread: no wait for the log's lock, which another program may hold.
void LogPopupFailure(std::u16string_view verdict, const AppError& error) noexcept;

}  // namespace tindra::win32
