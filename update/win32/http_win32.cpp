#include "update/win32/http_win32.h"

#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"

namespace tindra::win32 {

namespace {

// Content-Length of the response, or -1 when the server sent none.
long long ContentLength(HINTERNET request) {
  char buf[32] = {};
  DWORD size = sizeof(buf) - 1;
  DWORD index = 0;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, buf, &size, &index)) return -1;
  long long n = 0;
  for (DWORD i = 0; i < size && buf[i]; ++i) {
    if (buf[i] < '0' || buf[i] > '9' || n > (1LL << 40)) return -1;
    n = n * 10 + (buf[i] - '0');
  }
  return n;
}

bool IsSuccess(DWORD status) { return status >= 200 && status <= 299; }

// The folder part of a path, with its trailing separator ("" when there is none).
std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

UniqueInternet OpenInternetSession() {
  // ANSI call: the agent string goes on the wire as given.
  UniqueInternet session(
      InternetOpenA("VB OpenUrl", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return session;
  DWORD timeout = kNetTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                       INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(session.get(), option, &timeout, sizeof(timeout));
  }
  return session;
}

UrlRequest OpenUrl(HINTERNET session, const std::u16string& url) {
  // An http URL goes through a connection handle of its own, so that the time-outs
  // can be set on it: not every WinINet passes a session's time-outs on to the
  // connection InternetOpenUrl makes, and a server that accepts and never answers
  // would then hold the caller for ever.
  std::wstring wide = ToWide(url);
  URL_COMPONENTSW parts;
  ZeroMemory(&parts, sizeof(parts));
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTP || !parts.lpszHostName) {
    // Anything but plain http: as the platform opens it (ANSI, the Korean folder name
    // in the ANSI code page).
    std::string ansi = ToAnsi(url);
    UrlRequest opened;
    opened.request.reset(
        InternetOpenUrlA(session, ansi.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    return opened;
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path;
  if (parts.lpszUrlPath) path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // ANSI calls: the path leaves in the ANSI code page, as InternetOpenUrlA sends it.
  UrlRequest opened;
  UniqueInternet connection(InternetConnectA(session, ToAnsi(FromWide(host)).c_str(), parts.nPort,
                                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return opened;
  DWORD timeout = kNetTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(connection.get(), option, &timeout, sizeof(timeout));
  }
  UniqueInternet request(HttpOpenRequestA(connection.get(), "GET", ToAnsi(FromWide(path)).c_str(),
                                          nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0));
  if (!request) return opened;
  for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(request.get(), option, &timeout, sizeof(timeout));
  }
  if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return opened;
  opened.connection = std::move(connection);
  opened.request = std::move(request);
  return opened;
}

DWORD HttpStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  DWORD index = 0;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      &index)) {
    return 0;
  }
  return status;
}

bool FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  body.clear();
  UniqueInternet session = OpenInternetSession();
  if (!session) return false;
  UrlRequest request = OpenUrl(session.get(), url);
  if (!request || !IsSuccess(HttpStatus(request.get()))) return false;
  long long expected = ContentLength(request.get());
  char buf[4096];
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buf, sizeof(buf), &got)) return false;
    if (got == 0) break;
    if (body.size() + got > maxBytes) return false;
    body.append(buf, got);
  }
  return expected < 0 || static_cast<long long>(body.size()) == expected;
}

bool SafeDownload(const std::u16string& url, const std::u16string& localPath) {
  const std::wstring target = ToWide(localPath);
  const std::wstring folder = FolderOf(target);
  wchar_t temp[MAX_PATH + 1] = {};
  // A unique file in the target's own folder, so that the final move stays on one
  // volume and is a rename.
  if (!GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"tdl", 0, temp)) return false;

  bool complete = false;
  {
    UniqueHandle file(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() != INVALID_HANDLE_VALUE) {
      UniqueInternet session = OpenInternetSession();
      UrlRequest request;
      if (session) request = OpenUrl(session.get(), url);
      if (request && IsSuccess(HttpStatus(request.get()))) {
        long long expected = ContentLength(request.get());
        long long total = 0;
        std::vector<char> buf(64 * 1024);
        bool ok = true;
        for (;;) {
          DWORD got = 0;
          if (!InternetReadFile(request.get(), buf.data(), static_cast<DWORD>(buf.size()), &got)) {
            ok = false;
            break;
          }
          if (got == 0) break;
          DWORD written = 0;
          if (!WriteFile(file.get(), buf.data(), got, &written, nullptr) || written != got) {
            ok = false;
            break;
          }
          total += got;
        }
        complete = ok && (expected < 0 || total == expected) && FlushFileBuffers(file.get());
      }
    }
  }
  if (complete &&
      MoveFileExW(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temp);
  return false;
}

}  // namespace tindra::win32
