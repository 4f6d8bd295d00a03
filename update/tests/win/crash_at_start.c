/* A new release that cannot start: signed like the others and carrying revision 28,
   it ends at once with an access-violation exit code, as a program that crashes
   while starting does. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)instance;
  (void)previous;
  (void)line;
  (void)show;
  ExitProcess(0xC0000005u);
}
