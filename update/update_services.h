#pragma once
// What the update's procedures need from the platform, one interface each: files,
// trust (the signature and version-block checks), transfers and processes, and the
// update log. Message boxes go through the program's message service
// (common/msgbox.h). The programs pass their Win32 implementations; the tests pass
// one scripted fake for all of them.
#include "update/processes.h"
#include "update/program_files.h"
#include "update/program_role.h"
#include "update/update_log.h"
#include "update/update_network.h"

namespace tindra {

struct UpdateServices {
  ProgramFiles& files;
  RoleInspector& trust;
  UpdateNetwork& network;
  Processes& processes;
  // Where each step tells what it did and why it failed (update/update_log.h).
  UpdateLog& log = NoUpdateLog();
};

}  // namespace tindra
