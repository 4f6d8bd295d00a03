#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "update/modWaitProc.h"

namespace tindra {

// The ANSI record as the shell publishes it; 60 bytes on 32-bit Windows.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60,
              "SHELLEXECUTEINFOA must be 60 bytes on 32-bit Windows");

void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                         const std::u16string& parameters, const std::u16string& directory,
                         const int16_t& hidden, const int16_t& minimized) {
  // A name without an exact ANSI form would open some other file: nothing starts.
  const std::optional<std::string> file = win32::ToAnsiExact(fileName);
  const std::optional<std::string> params = win32::ToAnsiExact(parameters);
  const std::optional<std::string> dir = win32::ToAnsiExact(directory);
  if (!file || !params || !dir) return;

  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof(info));
  info.cbSize = 60;
  // No SEE_MASK_FLAG_NO_UI: the shell shows its own box when the file cannot be opened.
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(ownerWindow));
  info.lpVerb = "open";
  info.lpFile = file->c_str();
  info.lpParameters = params->c_str();
  info.lpDirectory = dir->c_str();
  info.nShow = WaitProcShowCommand(hidden, minimized);

  ShellExecuteExA(&info);
  win32::UniqueHandle process(info.hProcess);
  if (process) WaitForSingleObject(process.get(), INFINITE);
}

}  // namespace tindra
