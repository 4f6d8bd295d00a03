#pragma once
// The update's transfers over WinINet, for the program and its companions: sessions
// with bounded time-outs, whole transfers within limits of size and time, and a
// download that replaces its target only after a complete, successful transfer.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

#include "common/win32/handle.h"
#include "update/update_network.h"

namespace tindra::win32 {

// How long a connection attempt, a send or a wait for data may take before the
// request fails (the step time-out). A build setting, so that a test build can lower it.
inline constexpr DWORD kNetTimeoutMs = TINDRA_NET_TIMEOUT_MS;

// Bounds of the transfers, besides the step time-outs: a size far above any release;
// each request's own bound, from its start to its last byte, headers included (a
// request that drips, or holds its answer, ends there whatever it does); and a
// moment no request goes past (the start-up ceiling).
struct TransferLimits {
  uint64_t maxBytes = 64ull * 1024 * 1024;
  // The bound of a version file's read (ReadUrlText, FetchBody) and of a download.
  DWORD readMs = 30000;
  DWORD deadlineMs = 120000;
  // The tick (GetTickCount64) that no request goes past, and the ceiling it stands
  // for, for the log; 0: none.
  ULONGLONG endBy = 0;
  DWORD ceilingMs = 0;
  // Set from another thread to end the transfer at once.
  const std::atomic<bool>* cancel = nullptr;
};

using UniqueInternet = UniqueOf<HINTERNET, InternetCloseHandle>;

// The transfers of the update, each within `limits`.
class Win32UpdateNetwork : public UpdateNetwork {
 public:
  explicit Win32UpdateNetwork(TransferLimits limits = {}) : limits_(limits) {}

  // Each transfer runs on a thread of its own, and returns at its bound (or a cancel)
  // whatever the server does: then the handle a call blocks on is closed, which ends the
  // call on Windows; a WinINet that lets the call run on (Wine's, until its next step
  // time-out) ends that thread later, and what it made (a download's temporary file)
  // goes with it.
  //
  // One read of at most 20 bytes: the version file's first bytes, as the update reads it.
  std::u16string ReadUrlText(const std::u16string& url) override;
  // Fails also on a non-2xx status, a body longer than maxBytes or shorter than its
  // Content-Length, or one that the limits end.
  bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) override;
  // Downloads into a temporary file tdl*.tmp beside `localPath` and moves it over
  // `localPath` (replace, write-through) only when the status was 2xx and the whole
  // body arrived (Content-Length matched where given, no read failed).
  bool DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveLeftoverDownloads(const std::u16string& folder,
                               std::initializer_list<std::u16string> partFiles) override;
  TransferSeen LastTransfer() override { return last_; }

 private:
  TransferLimits limits_;
  TransferSeen last_;
};

}  // namespace tindra::win32
