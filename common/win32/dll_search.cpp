#include "common/win32/dll_search.h"

#include <windows.h>

#include <string>

namespace tindra::win32 {

void LoadDllsFromSystemFolderOnly() {
  // Looked up at run time: older systems without the call still start, and the full
  // paths below protect them.
  using SetDefaultDirs = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDirs>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");  // not the current folder either

  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  for (const wchar_t* dll : {L"version.dll", L"wininet.dll", L"wintrust.dll", L"oleacc.dll"}) {
    std::wstring path = std::wstring(system, n) + L"\\" + dll;
    // Loaded for the rest of the process: the module stays referenced on purpose.
    LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

}  // namespace tindra::win32
