#pragma once
// Message boxes of the program. Every box carries the caption "Tindra". The
// service behind them can be replaced, so that tests observe what would be shown
// and command-line tools print it instead.
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
  // Shows a modal box with the caption "Tindra" and returns when it is closed.
  virtual void Show(std::u16string_view text, uint32_t style) = 0;
};

// The platform's boxes (Windows), or standard error (elsewhere).
MessageBoxes& PlatformMessageBoxes();

// Prints "Tindra: <text>" on standard error, one line per box.
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

}  // namespace tindra
