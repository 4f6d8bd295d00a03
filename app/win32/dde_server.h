#pragma once
// The main form as a DDE source, through DDEML: conversations on one topic of the
// service, and text poked into one item. Every other transaction is refused.
// Clients that use plain DDE messages (WM_DDE_INITIATE, WM_DDE_POKE, WM_DDE_TERMINATE)
// instead of DDEML are answered by DDEML as well. Create, start and destroy it on the
// user-interface thread; at most one at a time.
#include <windows.h>
// ddeml.h needs windows.h first.
#include <ddeml.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/win32/dde_string.h"

namespace tindra::win32 {

// Text of a poke: CF_TEXT in the ANSI code page or CF_UNICODETEXT. The text ends at
// its first NUL or at the end of the data, whichever comes first. Other formats give
// no text.
bool DecodePokedText(UINT format, const BYTE* data, size_t size, std::u16string& text);

class DdeServer {
 public:
  // Returns false to refuse the poke (DDE_FNOTPROCESSED).
  using PokeHandler = std::function<bool(const std::u16string& text)>;

  // Pokes larger than this are refused unread.
  static constexpr DWORD kMaxPokeBytes = 1024 * 1024;

  DdeServer(std::u16string service, std::u16string topic, std::u16string item, PokeHandler onPoke);
  ~DdeServer();
  DdeServer(const DdeServer&) = delete;
  DdeServer& operator=(const DdeServer&) = delete;

  // Registers the service. False when DDEML cannot be set up.
  bool Start();

 private:
  static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  HDDEDATA OnPoke(UINT format, HSZ topic, HSZ item, HDDEDATA data);
  bool Is(HSZ a, HSZ b) const;

  std::u16string serviceName_, topicName_, itemName_;
  PokeHandler onPoke_;
  DWORD inst_ = 0;
  win32::DdeString service_;
  win32::DdeString topic_;
  win32::DdeString item_;
  bool registered_ = false;
};

}  // namespace tindra::win32
