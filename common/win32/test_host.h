#pragma once
// The update host of a test copy of a program (built with TEST_HOST): the one its test
// passes in the environment variable TINDRA_TEST_UPDATE_HOST, so that tests side by
// side each talk to a server of their own. Programs that ship never call this.
#include <windows.h>

#include <string>

#include "common/text.h"

namespace tindra::win32 {

// TINDRA_TEST_UPDATE_HOST when it is set to a host ("127.0.0.1:port": digits, dots
// and one colon), `builtIn` otherwise.
inline std::u16string TestUpdateHost(const char* builtIn) {
  wchar_t value[64];
  const DWORD n = GetEnvironmentVariableW(L"TINDRA_TEST_UPDATE_HOST", value, 64);
  if (n == 0 || n >= 64) return Ascii(builtIn);
  std::u16string host;
  for (DWORD i = 0; i < n; ++i) {
    const wchar_t c = value[i];
    if (!((c >= L'0' && c <= L'9') || c == L'.' || c == L':')) return Ascii(builtIn);
    host += static_cast<char16_t>(c);
  }
  return host;
}

}  // namespace tindra::win32
