#include "update/server_layout.h"

#include "common/text.h"
#include "update/install_files.h"

namespace tindra {

std::u16string GetUpdateBaseUrl(std::u16string_view host) {
  return u"http://" + std::u16string(host) + u"/download/자동업데이트_v1/";
}

std::u16string VersionFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_lastver.txt";
}

std::optional<int32_t> ParseLatestRevision(std::string_view body) {
  std::u16string text;
  for (char c : body) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  return DecimalDigits(Trim(text, u" \t\r\n"), 9);
}

}  // namespace tindra
