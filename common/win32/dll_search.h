#pragma once
// Keeps a program from loading a DLL planted beside it in place of a system DLL.

namespace tindra::win32 {

// First thing in every program: DLLs are looked up in the system folder only, and
// the DLLs the programs take delay-loaded (cmake/delayload.cmake: version.dll,
// wininet.dll, wintrust.dll, oleacc.dll) are loaded from there by full path, so that
// the delay-load helper's later load by bare name finds them already loaded.
void LoadDllsFromSystemFolderOnly();

}  // namespace tindra::win32
