#pragma once
// Message boxes of the program. Every box carries the program's caption: "Tindra",
// or the companion program's own name. The service behind them can be replaced, so
// that tests observe what would be shown and command-line tools print it instead.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/errors.h"

namespace tindra {

inline constexpr char16_t kAppTitle[] = u"Tindra";

// Style bits, with the values of the platform's message-box flags.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbIconError = 0x10;

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows a modal box with the program's caption and returns when it is closed.
  virtual void Show(std::u16string_view text, uint32_t style) = 0;
};

// The caption of every box of this process; "Tindra" unless a companion program
// sets its own name at start.
std::u16string_view MessageCaption();
void SetMessageCaption(std::u16string_view caption);

// Shows nothing: for reading files whose faults are not the user's business.
class SilentMessageBoxes : public MessageBoxes {
 public:
  void Show(std::u16string_view, uint32_t) override {}
};

// The platform's boxes (Windows), or standard error (elsewhere).
MessageBoxes& PlatformMessageBoxes();

// Prints "<caption>: <text>" on standard error, one line per box.
class StderrMessageBoxes : public MessageBoxes {
 public:
  void Show(std::u16string_view text, uint32_t style) override;
};

// The service in use; PlatformMessageBoxes() unless replaced.
MessageBoxes& CurrentMessageBoxes();

// Replaces the service for the lifetime of the object (tests, tools).
class ScopedMessageBoxes {
 public:
  explicit ScopedMessageBoxes(MessageBoxes& boxes);
  ~ScopedMessageBoxes();
  ScopedMessageBoxes(const ScopedMessageBoxes&) = delete;
  ScopedMessageBoxes& operator=(const ScopedMessageBoxes&) = delete;

 private:
  MessageBoxes* previous_;
};

void ShowMessage(std::u16string_view text, uint32_t style = kMbOk);

// Shows the error message of `e` for `procedure` of `module` in an OK-only box
// without icon.
void ReportError(const AppError& e, std::u16string_view procedure, std::u16string_view module);

// Runs one statement of a procedure that reports its errors and goes on with its next
// statement: an error is shown for `procedure` of `module`. True when the statement
// completed, so that a failing test can continue inside the branch it guards.
template <typename F>
bool ReportAndContinue(std::u16string_view procedure, std::u16string_view module, F&& statement) {
  try {
    statement();
    return true;
  } catch (...) {
    ReportError(CurrentError(), procedure, module);
  }
  return false;
}

}  // namespace tindra
