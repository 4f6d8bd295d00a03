#pragma once
// A DDEML string handle, owned. It must go before its DDEML instance is
// uninitialized: owners reset their strings first.
#include <windows.h>
// ddeml.h needs windows.h first.
#include <ddeml.h>

#include <string>
#include <utility>

#include "common/win32/ansi.h"

namespace tindra::win32 {

class DdeString {
 public:
  DdeString() = default;
  DdeString(DWORD inst, const std::u16string& text)
      : inst_(inst), hsz_(DdeCreateStringHandleW(inst, WidePtr(text), CP_WINUNICODE)) {}
  ~DdeString() { reset(); }
  DdeString(DdeString&& other) noexcept
      : inst_(other.inst_), hsz_(std::exchange(other.hsz_, nullptr)) {}
  DdeString& operator=(DdeString&& other) noexcept {
    if (this != &other) {
      reset();
      inst_ = other.inst_;
      hsz_ = std::exchange(other.hsz_, nullptr);
    }
    return *this;
  }
  DdeString(const DdeString&) = delete;
  DdeString& operator=(const DdeString&) = delete;

  void reset() noexcept {
    if (hsz_) DdeFreeStringHandle(inst_, hsz_);
    hsz_ = nullptr;
  }
  HSZ get() const noexcept { return hsz_; }
  explicit operator bool() const noexcept { return hsz_ != nullptr; }

 private:
  DWORD inst_ = 0;
  HSZ hsz_ = nullptr;
};

}  // namespace tindra::win32
