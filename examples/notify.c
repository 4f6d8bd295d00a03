/* notify.c: sends one notification to Tindra over DDE, as a messenger does.
 *   notify.exe "0;김민준"   0 logged in, 1 logged out, another digit a notice; "end" closes it
 * Build: i686-w64-mingw32-gcc -O2 -o notify.exe notify.c -luser32
 * Exit status: 0 taken, 1 not taken (refused, or no acknowledgement within 10 s),
 * 2 Tindra did not answer, 64 usage. */
#include <windows.h>
/* after windows.h, which it builds on */
#include <ddeml.h>
#include <string.h>

/* A client is sent no transactions it must answer. */
static HDDEDATA CALLBACK OnDde(UINT type, UINT format, HCONV conv, HSZ topic, HSZ item,
                               HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
  return NULL;
}

int main(int argc, char** argv) {
  DWORD dde = 0, result = 0;
  HCONV conv = NULL;
  int tries, status = 2;
  if (argc != 2) return 64;
  if (DdeInitializeA(&dde, OnDde, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return 2;
  HSZ service = DdeCreateStringHandleA(dde, "Tindra", CP_WINANSI); /* its file name */
  HSZ topic = DdeCreateStringHandleA(dde, "TindraFrm", CP_WINANSI);
  HSZ item = DdeCreateStringHandleA(dde, "lblDDE", CP_WINANSI);
  /* Tindra answers once its start-up update is over: try for up to a minute. */
  for (tries = 0; tries < 120 && !conv; tries++) {
    conv = DdeConnect(dde, service, topic, NULL);
    if (!conv) Sleep(500);
  }
  if (conv) {
    /* The text in the system's ANSI code page (CP949 on a Korean Windows), with its NUL. */
    HDDEDATA ack = DdeClientTransaction((LPBYTE)argv[1], (DWORD)strlen(argv[1]) + 1, conv, item,
                                        CF_TEXT, XTYP_POKE, 10000, &result);
    status = ack ? 0 : 1;
    DdeDisconnect(conv);
  }
  DdeFreeStringHandle(dde, item);
  DdeFreeStringHandle(dde, topic);
  DdeFreeStringHandle(dde, service);
  DdeUninitialize(dde);
  return status;
}
