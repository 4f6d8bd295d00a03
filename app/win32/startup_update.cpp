#include "app/win32/startup_update.h"

#include <exception>
#include <thread>

#include "app/win32/program_build.h"
#include "common/errors.h"
#include "common/win32/handle.h"
#include "common/win32/message_wait.h"
#include "update/win32/modAutoUpdateV1_Launcher_win32.h"

namespace tindra::win32 {

void StartupUpdate::Run(const std::u16string& serverHost, int16_t skipSelfUpdate) {
  // The update's own copies: the arguments may name values of this thread.
  const std::u16string host = serverHost;
  const int16_t skip = skipSelfUpdate;
  UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) Raise(kErrInvalidPropertyValue);
  ScopedMessageBoxes shownHere(*this);
  std::exception_ptr error;
  std::thread update([&] {
    try {
      // The shell's start of the checker may use COM: an apartment of this thread's own.
      ComScope com;
      RunAutoUpdateOnThisMachine(host, skip, ProgramStartupBounds());
    } catch (...) {
      error = std::current_exception();
    }
    SetEvent(done.get());
  });
  WaitTakingMessages(done.get());
  update.join();
  if (error) std::rethrow_exception(error);
}

void StartupUpdate::Show(std::u16string_view text, uint32_t style) {
  if (GetCurrentThreadId() == uiThread_) {
    PlatformMessageBoxes().Show(text, style);
    return;
  }
  const Box box{text, style};
  sent_ = &box;
  // Returns once the box is closed, or at once when the window is gone.
  SendMessageW(window_, kWmShowBox, 0, reinterpret_cast<LPARAM>(&box));
  sent_ = nullptr;
}

void StartupUpdate::ShowSentBox(LPARAM box) {
  const Box* expected = reinterpret_cast<const Box*>(box);
  if (!expected || !sent_.compare_exchange_strong(expected, nullptr)) return;
  PlatformMessageBoxes().Show(expected->text, expected->style);
}

}  // namespace tindra::win32
