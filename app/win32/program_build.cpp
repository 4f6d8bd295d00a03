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

}  // namespace tindra::win32
