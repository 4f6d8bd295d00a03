#pragma once
// The update's transfers from the update server. Implemented over WinINet in
// update/win32/update_network_win32.cpp, within bounds of size and time; the tests
// script a fake.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tindra {

// The bound that ended a transfer before it was complete.
enum class TransferBound {
  kNone,
  kStepTimeout,  // a connection, a send or a wait for data took longer than the step time-out
  kRequest,      // the request's own bound, from its start to its last byte, headers included
  kCeiling,      // the start-up ceiling, which no request of the start-up update passes
  kSize,         // the size limit
  kCancel,       // cancelled (the checker's window was closed)
};

// What the last transfer saw, for the update log: the HTTP status (0 when no answer
// came), the bytes of the body received, and the bound that ended it, if one did, with
// that bound's value.
struct TransferSeen {
  uint32_t status = 0;
  uint64_t bytes = 0;
  TransferBound endedBy = TransferBound::kNone;
  uint64_t boundMs = 0;  // the time bound that ended it (kStepTimeout, kRequest, kCeiling)
};

class UpdateNetwork {
 public:
  virtual ~UpdateNetwork() = default;

  // The last ReadUrlText, FetchBody or DownloadToFile of this object.
  virtual TransferSeen LastTransfer() { return {}; }

  // The first bytes (at most 20) of the resource's body, decoded from the ANSI code
  // page; the empty text on any failure. The HTTP status is not examined.
  virtual std::u16string ReadUrlText(const std::u16string& url) = 0;
  // The whole body of a 2xx response, at most `maxBytes`; false on any failure.
  virtual bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) = 0;
  // Stores the resource at `localPath` only after a complete transfer with a 2xx
  // status, which then replaces it in one step. False otherwise, with `localPath`
  // untouched and no temporary file left.
  virtual bool DownloadToFile(const std::u16string& url, const std::u16string& localPath) = 0;
  // Removes what a transfer killed in an earlier run left in `folder`: its temporary
  // files, and `folder` + "\" + each of `partFiles`.
  virtual void RemoveLeftoverDownloads(const std::u16string& folder,
                                       std::initializer_list<std::u16string> partFiles) = 0;
};

// The network of a program that has no business on it (the replacer): every transfer
// fails at once and nothing is removed.
UpdateNetwork& NoUpdateNetwork();

}  // namespace tindra
