// Entry point of Tindra.exe.
#include <windows.h>

#include "app/win32/FrmMainWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return tindra::win32::RunTindra(instance);
}
