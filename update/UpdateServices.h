#pragma once
// What the update's procedures need from the platform, one interface each: files,
// trust (the signature and version-block checks), transfers and processes. Message
// boxes go through the program's message service (common/msgbox.h). The programs
// pass their Win32 implementations; the tests pass one scripted fake for all four.
#include "update/Processes.h"
#include "update/ProgramFiles.h"
#include "update/ProgramRole.h"
#include "update/UpdateNetwork.h"

namespace tindra {

struct UpdateServices {
  ProgramFiles& files;
  RoleInspector& trust;
  UpdateNetwork& network;
  Processes& processes;
};

}  // namespace tindra
