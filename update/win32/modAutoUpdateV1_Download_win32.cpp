#include <windows.h>
#include <wininet.h>

#include "common/win32/ansi.h"
#include "update/modAutoUpdateV1_Download.h"
#include "update/win32/http_win32.h"

namespace tindra {

std::u16string ReadUrlText(const std::u16string& url) {
  std::u16string result;
  win32::UniqueInternet session = win32::OpenInternetSession();
  if (!session) return result;
  win32::UrlRequest request = win32::OpenUrl(session.get(), url);
  if (!request) return result;
  // One read of at most 20 bytes into a buffer of spaces; the status is not looked at,
  // so the start of an error page comes back like any other body.
  char buffer[20];
  FillMemory(buffer, sizeof(buffer), ' ');
  DWORD got = 0;
  if (InternetReadFile(request.get(), buffer, sizeof(buffer), &got)) {
    if (got > sizeof(buffer)) got = sizeof(buffer);
    result = win32::FromAnsi(std::string_view(buffer, got));
  }
  // The request handle is released before the session (declaration order).
  return result;
}

int16_t DownloadToFile(const std::u16string& url, const std::u16string& localPath) {
  return win32::SafeDownload(url, localPath) ? -1 : 0;
}

}  // namespace tindra
