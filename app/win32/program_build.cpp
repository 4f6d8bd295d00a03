#include "app/win32/program_build.h"

#include "tindra_program.h"

namespace tindra::win32 {

const char kProgramUpdateHost[] = TINDRA_PROGRAM_UPDATE_HOST;

}  // namespace tindra::win32
