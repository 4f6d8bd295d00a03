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

/* The exports of both DLLs: each takes as many pointer-sized arguments as the real one
   (so that, as stdcall on 32-bit Windows, it pops what the caller pushed) and returns 0;
   the .def file names the exports. The headers that declare the real ones are not
   included. */
#define UNUSED __attribute__((unused))
#define ARGS1 UINT_PTR a UNUSED
#define ARGS2 ARGS1, UINT_PTR b UNUSED
#define ARGS3 ARGS2, UINT_PTR c UNUSED
#define ARGS4 ARGS3, UINT_PTR d UNUSED
#define ARGS5 ARGS4, UINT_PTR e UNUSED
#define ARGS6 ARGS5, UINT_PTR f UNUSED
#define ARGS8 ARGS6, UINT_PTR g UNUSED, UINT_PTR h UNUSED
#define STUB(name, n)            \
  UINT_PTR WINAPI name(ARGS##n); \
  UINT_PTR WINAPI name(ARGS##n) { return 0; }
STUB(HttpOpenRequestA, 8)
STUB(HttpQueryInfoA, 5)
STUB(HttpSendRequestA, 5)
STUB(InternetCloseHandle, 1)
STUB(InternetConnectA, 8)
STUB(InternetCrackUrlW, 4)
STUB(InternetOpenA, 5)
STUB(InternetOpenUrlA, 6)
STUB(InternetQueryDataAvailable, 4)
STUB(InternetReadFile, 4)
STUB(InternetSetOptionA, 4)
STUB(WinVerifyTrust, 3)
STUB(WTHelperGetProvCertFromChain, 2)
STUB(WTHelperGetProvSignerFromChain, 4)
STUB(WTHelperProvDataFromStateData, 1)
