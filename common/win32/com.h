#pragma once
// COM for the calling thread in a single-threaded apartment, for as long as the object
// lives; balanced only when this call initialised it (or found it already initialised
// the same way).
#include <objbase.h>
#include <windows.h>

namespace tindra::win32 {

class ComScope {
 public:
  ComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool ok_;
};

}  // namespace tindra::win32
