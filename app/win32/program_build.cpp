#include "app/win32/program_build.h"

#include "tindra_program.h"

namespace tindra::win32 {

const char kProgramUpdateHost[] = TINDRA_PROGRAM_UPDATE_HOST;

StartupBounds ProgramStartupBounds() {
  return {.readMs = TINDRA_PROGRAM_NET_READ_MS,
          .downloadMs = TINDRA_PROGRAM_NET_DEADLINE_MS,
          .ceilingMs = TINDRA_PROGRAM_STARTUP_CEILING_MS,
          .checkerGraceMs = TINDRA_PROGRAM_CHECKER_GRACE_MS};
}

}  // namespace tindra::win32
