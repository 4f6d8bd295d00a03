/* A stand-in for a system DLL, planted beside a program by the Wine tests and built
   once as wininet.dll and once as wintrust.dll: when a process loads it, it leaves
   the file "planted-NAME-loaded" in its own folder. Every function it exports fails. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 64];
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    DWORD slash = n;
    while (slash > 0 && path[slash - 1] != L'\\') --slash;
    wchar_t name[MAX_PATH];
    lstrcpyW(name, path + slash);
    for (wchar_t* c = name; *c; ++c) {
      if (*c >= L'A' && *c <= L'Z') *c = (wchar_t)(*c - L'A' + L'a');
    }
    lstrcpyW(path + slash, L"planted-");
    lstrcatW(path, name);
    lstrcatW(path, L"-loaded");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  return TRUE;
}

/* The exports of both DLLs: each returns 0 and pops its arguments (stdcall). */
__asm__(
    ".globl _HttpOpenRequestA@32\n_HttpOpenRequestA@32: xorl %eax, %eax\n ret $32\n"
    ".globl _HttpQueryInfoA@20\n_HttpQueryInfoA@20: xorl %eax, %eax\n ret $20\n"
    ".globl _HttpSendRequestA@20\n_HttpSendRequestA@20: xorl %eax, %eax\n ret $20\n"
    ".globl _InternetCloseHandle@4\n_InternetCloseHandle@4: xorl %eax, %eax\n ret $4\n"
    ".globl _InternetConnectA@32\n_InternetConnectA@32: xorl %eax, %eax\n ret $32\n"
    ".globl _InternetCrackUrlW@16\n_InternetCrackUrlW@16: xorl %eax, %eax\n ret $16\n"
    ".globl _InternetOpenA@20\n_InternetOpenA@20: xorl %eax, %eax\n ret $20\n"
    ".globl _InternetOpenUrlA@24\n_InternetOpenUrlA@24: xorl %eax, %eax\n ret $24\n"
    ".globl _InternetQueryDataAvailable@16\n_InternetQueryDataAvailable@16: xorl %eax, %eax\n ret "
    "$16\n"
    ".globl _InternetReadFile@16\n_InternetReadFile@16: xorl %eax, %eax\n ret $16\n"
    ".globl _InternetSetOptionA@16\n_InternetSetOptionA@16: xorl %eax, %eax\n ret $16\n"
    ".globl _WinVerifyTrust@12\n_WinVerifyTrust@12: xorl %eax, %eax\n ret $12\n"
    ".globl _WTHelperGetProvCertFromChain@8\n_WTHelperGetProvCertFromChain@8: xorl %eax, %eax\n "
    "ret $8\n"
    ".globl _WTHelperGetProvSignerFromChain@16\n_WTHelperGetProvSignerFromChain@16: xorl %eax, "
    "%eax\n ret $16\n"
    ".globl _WTHelperProvDataFromStateData@4\n_WTHelperProvDataFromStateData@4: xorl %eax, %eax\n "
    "ret $4\n");
