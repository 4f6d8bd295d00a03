#pragma once
// Runs a callable when the scope ends, however it ends: the reset of a flag or the
// teardown that must follow a handler even when the handler raises.
#include <utility>

namespace tindra {

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

}  // namespace tindra
