/* A new release that crashes after a slow start-up: signed like the others and
   carrying revision 28, it makes a window, answers its messages for a while (as a
   start-up update against a slow server does) and then ends with an access-violation
   exit code, before it has offered its DDE service. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)previous;
  (void)line;
  (void)show;
  HWND window = CreateWindowExW(0, L"STATIC", L"slow start", WS_OVERLAPPED, 0, 0, 10, 10, NULL,
                                NULL, instance, NULL);
  const ULONGLONG until = GetTickCount64() + 25000;
  MSG msg;
  while (GetTickCount64() < until) {
    MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  DestroyWindow(window);
  ExitProcess(0xC0000005u);
}
