// A new release that shows its fatal error as it starts: signed like the others and
// carrying revision 28, it reports a run-time error the way Tindra's window and DDE
// handlers do, and waits in that box until someone closes it.
#include <windows.h>

#include "common/errors.h"
#include "common/win32/window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tindra::win32::TakeFatalErrorEvent();
  tindra::win32::ReportFatalAndExit(tindra::kErrInvalidPropertyValue,
                                    tindra::ErrorDescription(tindra::kErrInvalidPropertyValue));
}
