#include "app/AppRevision.h"

#include "tindra_program.h"

namespace tindra {

int16_t AppRevision() { return TINDRA_PROGRAM_REVISION; }

}  // namespace tindra
