/* Keeps a test slot's Wine desktop up for as long as the slot lives. Wine ends the
 * desktop process a moment after the last program that used the desktop has ended,
 * and starts a new one for the next: a test that starts while the old one is going
 * finds no desktop to make its windows on, and dies before its first line or fails
 * to make its first window. This program holds the desktop through a message-only
 * window, which no broadcast, window list or screenshot ever sees, and waits for
 * messages until the slot's wineserver ends it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous;
  (void)commandLine;
  (void)show;
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
