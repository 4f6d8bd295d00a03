#include "app/win32/program_build.h"

#include "common/text.h"
#include "common/win32/test_host.h"
#include "tindra_program.h"

namespace tindra::win32 {

std::u16string ProgramUpdateHost() {
#ifdef TINDRA_PROGRAM_TEST_HOST
  return TestUpdateHost(TINDRA_PROGRAM_UPDATE_HOST);
#else
  return Ascii(TINDRA_PROGRAM_UPDATE_HOST);
#endif
}

StartupBounds ProgramStartupBounds() {
  return {.readMs = TINDRA_PROGRAM_NET_READ_MS,
          .downloadMs = TINDRA_PROGRAM_NET_DEADLINE_MS,
          .ceilingMs = TINDRA_PROGRAM_STARTUP_CEILING_MS,
          .checkerGraceMs = TINDRA_PROGRAM_CHECKER_GRACE_MS};
}

uint32_t ProgramAwayAfterMs() { return TINDRA_PROGRAM_AWAY_MS; }

}  // namespace tindra::win32
