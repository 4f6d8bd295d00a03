// Entry point of Tindra.exe.
#include <windows.h>

#include "app/win32/FrmMain_win32.h"
#include "common/win32/dll_search.h"
#include "common/win32/guard.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tindra::win32::LoadDllsFromSystemFolderOnly();
  tindra::win32::TakeFatalErrorEvent();
  return tindra::win32::RunTindra(instance);
}
