#include "app/win32/single_instance.h"

#include "common/text.h"
#include "common/win32/ansi.h"
#include "update/win32/processes_win32.h"

namespace tindra::win32 {

bool SingleInstance::AnotherCopyRunning(const std::u16string& baseName) {
  // One name per program name, as the DDE service is.
  const std::u16string name = u"Local\\Tindra.Instance." + AsciiUpper(baseName);
  mutex_.reset(CreateMutexW(nullptr, FALSE, WidePtr(name)));
  return mutex_ && GetLastError() == ERROR_ALREADY_EXISTS &&
         AnotherProcessNamed(baseName + u".exe");
}

}  // namespace tindra::win32
