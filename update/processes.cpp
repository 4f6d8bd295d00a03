#include "update/processes.h"

namespace tindra {

int32_t WaitProcShowCommand(int16_t hidden, int16_t minimized) {
  if (hidden) return kSwHide;
  if (minimized) return kSwShowMinNoActive;
  return kSwShow;
}

}  // namespace tindra
