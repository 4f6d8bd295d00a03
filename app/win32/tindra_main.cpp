// Entry point of Tindra.exe: the program's main.
#include <windows.h>

#include "app/win32/FrmMain_win32.h"
#include "common/win32/dll_search.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"

namespace tindra::win32 {
namespace {

// The whole program: the main form, its load, the DDE source and the event loop.
// Returns the process exit code.
int RunTindra(HINSTANCE instance) {
  // A single-threaded apartment: through it the popups hand their accessible objects
  // to other processes (screen readers).
  ComScope com;
  FrmMainWindow window(instance);
  GuardedHandler([&] {
    window.Create();
    window.form().Form_Load();
  });

  // Closed while it started: the unload has run, and the loop only ends.
  const bool closed = !window.TakesPokes();
  // Pokes are taken only once start-up has finished.
  if (!closed && !window.StartDdeLink()) {
    // Unreachable by the messenger, a hidden copy would only block every later one.
    GuardedHandler([&] { window.UnloadMainForm(); });
    return 1;
  }

  MSG msg{};
  auto next = [&msg] {
    TimedWork timed(Work::kWaiting);
    return GetMessageW(&msg, nullptr, 0, 0) > 0;
  };
  while (next()) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace
}  // namespace tindra::win32

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tindra::win32::LoadDllsFromSystemFolderOnly();
  tindra::win32::TakeFatalErrorEvent();
  return tindra::win32::RunTindra(instance);
}
