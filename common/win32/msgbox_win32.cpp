#include <windows.h>

#include "common/msgbox.h"
#include "common/win32/ansi.h"

namespace tindra {

namespace {
class Win32MessageBoxes : public MessageBoxes {
 public:
  void Show(std::u16string_view text, uint32_t style) override {
    const std::u16string t(text);
    const std::u16string caption(MessageCaption());
    MessageBoxW(nullptr, win32::WidePtr(t), win32::WidePtr(caption), style | MB_SETFOREGROUND);
  }
};
}  // namespace

MessageBoxes& PlatformMessageBoxes() {
  static Win32MessageBoxes boxes;
  return boxes;
}

}  // namespace tindra
