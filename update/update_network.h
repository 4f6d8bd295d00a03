#pragma once
// The update's transfers from the update server. Implemented over WinINet in
// update/win32/update_network_win32.cpp, within bounds of size and time; the tests
// script a fake.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tindra {

// What the last transfer saw, for the update log: the HTTP status (0 when no answer
// came) and the bytes of the body received.
struct TransferSeen {
  uint32_t status = 0;
  uint64_t bytes = 0;
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

}  // namespace tindra
