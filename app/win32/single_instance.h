#pragma once
// The rule that one copy of Tindra runs per session and program name.
#include <string>

#include "common/win32/handle.h"

namespace tindra::win32 {

// The first copy owns a named mutex for its whole life; a copy that finds it already
// there is the second. Any process of the session, of any account, can make that name
// first: the name counts only while a process of this program's file name runs in the
// session, so that a name taken by another program never keeps Tindra from running.
class SingleInstance {
 public:
  // True when another copy of the program named `baseName` ("Tindra") already runs.
  // Called once, early; the mutex is held from then on.
  bool AnotherCopyRunning(const std::u16string& baseName);

 private:
  UniqueHandle mutex_;
};

}  // namespace tindra::win32
