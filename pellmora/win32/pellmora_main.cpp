// Pellmora.exe, the file replacer: its start, and the one adapter only it needs, the
// DDE probe that tells whether a started program's own service answers. The
// replacement itself is update/file_replacer.h, over the Win32 services.
//
// Exit code: 0 replaced, 1 nothing replaced (the new file missing or refused,
// OLD.exe busy or read-only, or the move failed), 2 bad arguments, 3 rolled back,
// 4 the new program failed and could not be rolled back (or there was no old one).
#include <windows.h>

#include <string>

#include "common/msgbox.h"
#include "common/win32/ansi.h"
#include "common/win32/dde_client.h"
#include "common/win32/dll_search.h"
#include "update/file_replacer.h"
#include "update/update_events.h"
#include "update/win32/update_log_win32.h"
#include "update/win32/update_services_win32.h"
// This copy's build settings (TINDRA_PROGRAM_*).
#include "tindra_program.h"

namespace {

using namespace tindra;
using namespace tindra::win32;

class DdeServiceProbe : public ServiceProbe {
 public:
  std::optional<uint32_t> ServerOf(std::u16string_view service, uint32_t waitMs) override {
    poke::PokeRequest request;
    request.service = std::u16string(service);
    request.connectWaitMs = waitMs;
    poke::DdeConversation conversation;
    if (conversation.Connect(request) != poke::PokeOutcome::kAcknowledged) return std::nullopt;
    return conversation.ServerProcessId();
  }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  LoadDllsFromSystemFolderOnly();
  // No fault dialog holds this replacer or a program it starts (they inherit the
  // mode): a new program that crashes ends, and is rolled back.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetMessageCaption(u"Pellmora");
  Win32UpdateLog log(u"Pellmora");
  // The replacer transfers nothing, and ends whole what it starts.
  const Win32UpdateServices update(log, {.ownJobs = true});
  DdeServiceProbe probe;
  ReplacerWaits waits;
  waits.freeMs = TINDRA_PROGRAM_WAIT_MS;
  waits.readyMs = TINDRA_PROGRAM_READY_WAIT_MS;
  waits.answerFromMs = TINDRA_PROGRAM_ANSWER_FROM_MS;
  const ReplacerExit code =
      RunReplacer(FromWide(GetCommandLineW()), update.services(), probe, waits);
  LogReplacerEnd(log, code);
  return code;
}
