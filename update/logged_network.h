#pragma once
// The update's transfers in the update log (update/update_log.h): a decorator of the
// network that writes a "read" or "download" line for each transfer, and the words
// for the bound that ended one early.
#include <initializer_list>
#include <string>
#include <string_view>

#include "update/update_log.h"
#include "update/update_network.h"

namespace tindra {

// Why a transfer ended early, for a "reason=": "ended by its 30 s bound", "ended by the
// 300 s start-up ceiling", ...; empty when no bound ended it.
std::u16string BoundReason(const TransferSeen& seen);

// Every transfer of `inner`, logged as a "read" or "download" line with its URL, HTTP
// status, bytes and verdict.
class LoggedNetwork : public UpdateNetwork {
 public:
  LoggedNetwork(UpdateNetwork& inner, UpdateLog& log) : inner_(inner), log_(log) {}
  TransferSeen LastTransfer() override { return inner_.LastTransfer(); }
  std::u16string ReadUrlText(const std::u16string& url) override;
  bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) override;
  bool DownloadToFile(const std::u16string& url, const std::u16string& localPath) override;
  void RemoveLeftoverDownloads(const std::u16string& folder,
                               std::initializer_list<std::u16string> partFiles) override {
    inner_.RemoveLeftoverDownloads(folder, partFiles);
  }

 private:
  void Logged(std::u16string_view step, const std::u16string& url, std::u16string_view file,
              bool ok);
  UpdateNetwork& inner_;
  UpdateLog& log_;
};

}  // namespace tindra
