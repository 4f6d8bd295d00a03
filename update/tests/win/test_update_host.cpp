// Linked only into the test copies of Tindra.exe: points their update at the test
// server named by the environment variable TINDRA_TEST_UPDATE_HOST.
#include <windows.h>

#include <string>

#include "common/win32/ansi.h"
#include "update/CompanionRules.h"
#include "update/win32/UpdateHostOverride.h"

namespace {

std::u16string& TestHost() {
  static std::u16string host;
  return host;
}

const bool kInstalled = [] {
  wchar_t value[64];
  DWORD n = GetEnvironmentVariableW(L"TINDRA_TEST_UPDATE_HOST", value, 64);
  if (n > 0 && n < 64) {
    TestHost() = tindra::win32::FromWide(std::wstring(value, n));
    if (tindra::IsValidHost(TestHost())) tindra::win32::gUpdateHostOverride = TestHost().c_str();
  }
  return true;
}();

}  // namespace
