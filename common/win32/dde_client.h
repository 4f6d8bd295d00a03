#pragma once
// A DDE client that pokes one piece of data into one item, through DDEML or through
// plain DDE messages (WM_DDE_INITIATE / WM_DDE_POKE / WM_DDE_TERMINATE). Used by
// tindra-poke, the file replacer, the benchmark and the program's tests. Call from one
// thread; it runs its own message handling while it waits.
#include <windows.h>
// ddeml.h needs windows.h first.
#include <ddeml.h>

#include <string>

#include "common/win32/handle.h"

namespace tindra::poke {

struct PokeRequest {
  std::u16string service = u"Tindra";
  std::u16string topic = u"TindraFrm";
  std::u16string item = u"lblDDE";
  UINT format = CF_TEXT;
  std::string data;            // sent as it is: add the terminating NUL(s) for text
  bool raw = false;            // plain DDE messages instead of DDEML
  DWORD connectWaitMs = 5000;  // how long to keep looking for the server
  DWORD ackTimeoutMs = 10000;  // how long to wait for the acknowledgement
};

enum class PokeOutcome {
  kAcknowledged,  // the server took the poke
  kNoServer,      // no server answered for the service and topic in time
  kRefused,       // the server answered the poke negatively
  kTimeout,       // no acknowledgement in time
  kFailed,        // the client could not be set up
};

// One DDEML conversation kept open for several pokes, as a client that holds its
// link does.
class DdeConversation {
 public:
  DdeConversation() = default;
  ~DdeConversation();  // disconnects and releases everything
  DdeConversation(const DdeConversation&) = delete;
  DdeConversation& operator=(const DdeConversation&) = delete;

  // Looks for the service and topic for up to request.connectWaitMs; kAcknowledged
  // once connected, kNoServer when nobody answered.
  PokeOutcome Connect(const PokeRequest& request);
  // The process of the server this conversation is with; 0 when not connected or
  // the platform cannot tell.
  DWORD ServerProcessId() const;
  // Pokes `data` into the request's item and waits for the acknowledgement.
  PokeOutcome Poke(UINT format, const std::string& data, DWORD ackTimeoutMs = 10000);

 private:
  DWORD inst_ = 0;
  win32::DdeString service_;
  win32::DdeString topic_;
  win32::DdeString item_;
  HCONV conv_ = nullptr;
};

// Connects, pokes, waits for the acknowledgement and disconnects. Releases
// everything it obtained, whatever the outcome.
PokeOutcome Poke(const PokeRequest& request);

// Data for text: CF_TEXT in the system's ANSI code page or CF_UNICODETEXT, each
// with its terminating NUL.
std::string TextData(const std::u16string& text, bool unicode);

const char* OutcomeText(PokeOutcome outcome);

}  // namespace tindra::poke
