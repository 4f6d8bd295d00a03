#include "common/msgbox.h"

#include <cstdio>

#include "common/text.h"

namespace tindra {

namespace {
MessageBoxes* g_current = nullptr;
std::u16string g_caption = kAppTitle;
}  // namespace

std::u16string_view MessageCaption() { return g_caption; }
void SetMessageCaption(std::u16string_view caption) { g_caption = caption; }

void StderrMessageBoxes::Show(std::u16string_view text, uint32_t) {
  std::string line = Utf16ToUtf8(MessageCaption()) + ": " + Utf16ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

MessageBoxes& CurrentMessageBoxes() { return g_current ? *g_current : PlatformMessageBoxes(); }

ScopedMessageBoxes::ScopedMessageBoxes(MessageBoxes& boxes) : previous_(g_current) {
  g_current = &boxes;
}
ScopedMessageBoxes::~ScopedMessageBoxes() { g_current = previous_; }

void ShowMessage(std::u16string_view text, uint32_t style) {
  CurrentMessageBoxes().Show(text, style);
}

void ReportError(const AppError& e, std::u16string_view procedure, std::u16string_view module) {
  ShowMessage(ErrorMessage(e, procedure, module), kMbOk);
}

#ifndef _WIN32
MessageBoxes& PlatformMessageBoxes() {
  static StderrMessageBoxes boxes;
  return boxes;
}
#endif

}  // namespace tindra
