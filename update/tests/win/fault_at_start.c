/* A new release that really crashes: signed like the others and carrying revision
   28, it writes through a null pointer as it starts. Nothing handles the fault, so
   whatever the system does with an unhandled one (a fault dialog, a debugger, or
   ending the process) is what the replacer meets. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)instance;
  (void)previous;
  (void)line;
  (void)show;
  *(volatile int*)0 = 0;
  return 0;
}
