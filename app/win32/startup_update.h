#pragma once
// The start-up update's thread and its message boxes.
//
// The update runs on a thread of its own, and the program's one user-interface thread
// waits for it taking messages. Why so, and not the other way round: the update's steps
// block (transfers, the checker's whole run) and cannot take messages, while every window
// of the program must, so the program's windows stay on the user-interface thread and the
// blocking work goes elsewhere. The update's thread owns no window of the program; the
// shell and COM may make windows of their own on it while it starts the checker, and its
// waits take that thread's messages for them. Only the system reaches the main form
// meanwhile: broadcasts and WM_NULL are answered by its window procedure, a close or the
// session's end go to the form, the test button and pokes are refused until Form_Load
// has finished, and the DDE service is not registered yet.
//
// The update's boxes are shown on the user-interface thread, in the same order, each
// waiting for the user as before: the update's thread sends kWmShowBox to the main
// window with the box in lParam, and SendMessage returns once the user has closed it.
// The window shows only the box this object has sent, once, so a message another program
// sends shows nothing. A box of the user-interface thread itself is shown directly.
//
// An error that escapes the update is raised again on the user-interface thread, where
// Form_Load's guard reports it as before; the update may also end the process itself.
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "common/msgbox.h"

namespace tindra::win32 {

// Sent by the update's thread to the main window: lParam is the box to show.
inline constexpr UINT kWmShowBox = WM_APP + 2;

class StartupUpdate final : public MessageBoxes {
 public:
  // `window`: the main window, of the calling (user-interface) thread.
  explicit StartupUpdate(HWND window) : window_(window), uiThread_(GetCurrentThreadId()) {}

  // Runs the update on its thread, its boxes shown through `window`, taking this
  // thread's messages until it ends; raises again what escaped it.
  void Run(const std::u16string& serverHost, int16_t skipSelfUpdate);
  // The main window's handling of kWmShowBox: shows the box if it is the one sent.
  void ShowSentBox(LPARAM box);

  void Show(std::u16string_view text, uint32_t style) override;

 private:
  struct Box {
    std::u16string_view text;
    uint32_t style;
  };
  HWND window_;
  DWORD uiThread_;
  // The box the update's thread has sent and the window has not shown yet.
  std::atomic<const Box*> sent_{nullptr};
};

}  // namespace tindra::win32
