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

UniqueInternet OpenUrl(HINTERNET session, const std::u16string& url) {
  // ANSI call: the Korean folder name of the URL leaves in the ANSI code page.
  std::string ansi = ToAnsi(url);
  return UniqueInternet(
      InternetOpenUrlA(session, ansi.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
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
  UniqueInternet request = OpenUrl(session.get(), url);
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
      UniqueInternet request = session ? OpenUrl(session.get(), url) : nullptr;
      if (request && IsSuccess(HttpStatus(request.get()))) {
        long long expected = ContentLength(request.get());
        long long total = 0;
        std::vector<char> buf(64 * 1024);
        bool ok = true;
        for (;;) {
          DWORD got = 0;
          if (!InternetReadFile(request.get(), buf.data(), static_cast<DWORD>(buf.size()),
                                &got)) {
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
