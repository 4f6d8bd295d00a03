#include "update/update_network.h"

namespace tindra {

namespace {

class NoTransfers : public UpdateNetwork {
 public:
  std::u16string ReadUrlText(const std::u16string&) override { return {}; }
  bool FetchBody(const std::u16string&, size_t, std::string&) override { return false; }
  bool DownloadToFile(const std::u16string&, const std::u16string&) override { return false; }
  void RemoveLeftoverDownloads(const std::u16string&,
                               std::initializer_list<std::u16string>) override {}
};

}  // namespace

UpdateNetwork& NoUpdateNetwork() {
  static NoTransfers none;
  return none;
}

}  // namespace tindra
