#include "app/modMain.h"

namespace tindra {

std::u16string gServerHost;
int32_t gPopupCount = 0;

}  // namespace tindra
