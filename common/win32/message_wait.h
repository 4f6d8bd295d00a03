#pragma once
// Waiting for a kernel object while the calling thread's windows keep answering: a
// top-level window whose thread takes no messages holds up every program that
// broadcasts to it (SendMessage or SendMessageTimeout to HWND_BROADCAST) and keeps the
// session from ending.
#include <windows.h>

namespace tindra::win32 {

// Waits until `object` is signalled or the tick `until` (GetTickCount64; 0: no limit)
// has come, dispatching the messages of the calling thread's windows meanwhile, and
// the messages sent to them from other threads. True when the object was signalled.
// A WM_QUIT taken meanwhile is posted again, so that the thread's loop still sees it.
inline bool WaitTakingMessages(HANDLE object, ULONGLONG until = 0) {
  bool quit = false;
  WPARAM quitCode = 0;
  bool signalled = false;
  for (;;) {
    DWORD waitMs = INFINITE;
    if (until) {
      const ULONGLONG now = GetTickCount64();
      if (now >= until) break;
      waitMs = static_cast<DWORD>(until - now);
    }
    const DWORD got =
        MsgWaitForMultipleObjectsEx(1, &object, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (got == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (got != WAIT_OBJECT_0 + 1) break;  // the limit, or a failed wait
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return signalled;
}

}  // namespace tindra::win32
