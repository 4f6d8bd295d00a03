#include "update/modWaitProc.h"

namespace tindra {

int32_t WaitProcShowCommand(int16_t hidden, int16_t minimized) {
  if (hidden) return 0;     // SW_HIDE
  if (minimized) return 7;  // SW_SHOWMINNOACTIVE
  return 5;                 // SW_SHOW
}

}  // namespace tindra
