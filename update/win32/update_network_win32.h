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
// request fails. A build setting, so that a test build can lower it.
inline constexpr DWORD kNetTimeoutMs = TINDRA_NET_TIMEOUT_MS;

// Bounds of one whole transfer, besides the per-step time-outs: a size far above
// any release, and a total deadline, so that a body that never ends or drips one
// byte at a time cannot hold the caller or fill the disk. The deadline is checked
// between reads, so a transfer ends at most one step time-out after it.
struct TransferLimits {
  uint64_t maxBytes = 64ull * 1024 * 1024;
  DWORD deadlineMs = 120000;
  // Set from another thread to end the transfer early (between reads).
  const std::atomic<bool>* cancel = nullptr;
};

using UniqueInternet = UniqueOf<HINTERNET, InternetCloseHandle>;

// InternetOpenA with the agent "VB OpenUrl" and the system's proxy settings, its
// connect, send and receive time-outs set to kNetTimeoutMs. Null on failure.
UniqueInternet OpenInternetSession();

// An open request and the connection it runs on. Closing a connection handle ends
// its requests, so both live together; the request closes first.
struct UrlRequest {
  UniqueInternet connection;
  UniqueInternet request;
  HINTERNET get() const noexcept { return request.get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(request); }
};

// Sends a GET for `url`, always to the server (INTERNET_FLAG_RELOAD), with the
// session's agent and the time-outs set on the connection and the request. The path
// is sent in the ANSI code page. Empty on failure (no status is checked here).
UrlRequest OpenUrl(HINTERNET session, const std::u16string& url);

// The response's HTTP status code; 0 when it cannot be read.
DWORD HttpStatus(HINTERNET request);

// The transfers of the update, each within `limits`.
class Win32UpdateNetwork : public UpdateNetwork {
 public:
  explicit Win32UpdateNetwork(TransferLimits limits = {}) : limits_(limits) {}

  // One read of at most 20 bytes (module modAutoUpdateV1_Download's ReadUrlText).
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
