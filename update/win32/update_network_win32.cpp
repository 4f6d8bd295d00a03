#include "update/win32/update_network_win32.h"

#include <cwchar>
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

// GetTempFileName's prefix for downloads in progress: they are named tdlXXXX.tmp.
constexpr wchar_t kTempPrefix[] = L"tdl";

// Every request: from the server, never the cache, and no redirect followed (a 3xx
// answer is a failure), so that nothing comes from any other host.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;

bool IsSuccess(DWORD status) { return status >= 200 && status <= 299; }
bool IsRedirect(DWORD status) { return status >= 300 && status <= 399; }

// Reads a body in pieces, handing each to `take`, within the limits. False on a
// failed read, a body beyond limits.maxBytes or `maxBytes`, the deadline, a cancel,
// or a refusal by `take`.
template <typename Take>
bool ReadBody(HINTERNET request, uint64_t maxBytes, const TransferLimits& limits, Take&& take) {
  const ULONGLONG deadline = GetTickCount64() + limits.deadlineMs;
  const uint64_t cap = maxBytes < limits.maxBytes ? maxBytes : limits.maxBytes;
  long long expected = ContentLength(request);
  if (expected > static_cast<long long>(cap)) return false;
  std::vector<char> buf(64 * 1024);
  uint64_t total = 0;
  for (;;) {
    if (GetTickCount64() >= deadline || (limits.cancel && *limits.cancel)) return false;
    // A read returns only once its whole buffer is filled: ask for what has arrived,
    // so that a body dripping in cannot hold one read past the deadline.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
    if (available == 0) break;
    DWORD got = 0;
    const DWORD want = available < buf.size() ? available : static_cast<DWORD>(buf.size());
    if (!InternetReadFile(request, buf.data(), want, &got)) return false;
    if (got == 0) break;
    total += got;
    if (total > cap || !take(buf.data(), got)) return false;
  }
  return expected < 0 || static_cast<long long>(total) == expected;
}

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

namespace {

// A URL's bytes on the wire: CP949, the code page the update server's folder names
// are in, whatever the system's own ANSI code page is (on a Western system it would
// turn "자동업데이트" into question marks).
std::string UrlBytes(const std::u16string& text) {
  constexpr UINT kKorean = 949;
  std::string bytes = ToCodePage(text, kKorean);
  return bytes.empty() ? ToAnsi(text) : bytes;
}

// A path as the file functions take it at any length: past MAX_PATH in its
// extended form ("\\?\C:\...", "\\?\UNC\server\...").
std::wstring AnyLengthPath(const std::wstring& path) {
  if (path.size() < MAX_PATH - 12 || path.starts_with(L"\\\\?\\")) return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

// Creates a new, empty file tdlXXXX.tmp (four hex digits) in `folder`, at any path
// length; its path, or empty when none can be made.
std::wstring CreateTempFileIn(const std::wstring& folder) {
  // `folder` ends in its separator; an extended path takes no doubled one.
  std::wstring base = folder.empty() ? L".\\" : folder;
  if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
  base += kTempPrefix;
  const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
  for (DWORD i = 0; i < 0x10000; ++i) {
    wchar_t hex[8];
    swprintf(hex, 8, L"%04X", (seed + i) & 0xFFFF);
    const std::wstring path = AnyLengthPath(base + hex + L".tmp");
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return path;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return {};
}

}  // namespace

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
    // in CP949 bytes).
    std::string ansi = UrlBytes(url);
    UrlRequest opened;
    opened.request.reset(InternetOpenUrlA(session, ansi.c_str(), nullptr, 0, kRequestFlags, 0));
    return opened;
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path;
  if (parts.lpszUrlPath) path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // ANSI calls: the path leaves in CP949 bytes, as InternetOpenUrlA sends it on a
  // Korean system.
  UrlRequest opened;
  UniqueInternet connection(InternetConnectA(session, ToAnsi(FromWide(host)).c_str(), parts.nPort,
                                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return opened;
  DWORD timeout = kNetTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(connection.get(), option, &timeout, sizeof(timeout));
  }
  UniqueInternet request(HttpOpenRequestA(connection.get(), "GET", UrlBytes(FromWide(path)).c_str(),
                                          nullptr, nullptr, nullptr, kRequestFlags, 0));
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

std::u16string Win32UpdateNetwork::ReadUrlText(const std::u16string& url) {
  std::u16string result;
  last_ = {};
  UniqueInternet session = OpenInternetSession();
  if (!session) return result;
  UrlRequest request = OpenUrl(session.get(), url);
  if (!request) return result;
  last_.status = HttpStatus(request.get());
  if (IsRedirect(last_.status)) return result;
  // One read of at most 20 bytes into a buffer of spaces; the status is not looked at
  // otherwise, so the start of an error page comes back like any other body.
  char buffer[20];
  FillMemory(buffer, sizeof(buffer), ' ');
  DWORD got = 0;
  if (InternetReadFile(request.get(), buffer, sizeof(buffer), &got)) {
    if (got > sizeof(buffer)) got = sizeof(buffer);
    last_.bytes = got;
    result = FromAnsi(std::string_view(buffer, got));
  }
  // The request handle is released before the session (declaration order).
  return result;
}

bool Win32UpdateNetwork::FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  const TransferLimits& limits = limits_;
  body.clear();
  last_ = {};
  UniqueInternet session = OpenInternetSession();
  if (!session) return false;
  UrlRequest request = OpenUrl(session.get(), url);
  if (request) last_.status = HttpStatus(request.get());
  if (!request || !IsSuccess(last_.status)) return false;
  return ReadBody(request.get(), maxBytes, limits, [&](const char* data, DWORD n) {
    body.append(data, n);
    last_.bytes = body.size();
    return true;
  });
}

bool Win32UpdateNetwork::DownloadToFile(const std::u16string& url,
                                        const std::u16string& localPath) {
  const TransferLimits& limits = limits_;
  const std::wstring target = AnyLengthPath(ToWide(localPath));
  // A unique file in the target's own folder, so that the final move stays on one
  // volume and is a rename. (GetTempFileName fails past MAX_PATH.)
  last_ = {};
  const std::wstring temp = CreateTempFileIn(FolderOf(ToWide(localPath)));
  if (temp.empty()) return false;

  bool complete = false;
  {
    UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      UniqueInternet session = OpenInternetSession();
      UrlRequest request;
      if (session) request = OpenUrl(session.get(), url);
      if (request) last_.status = HttpStatus(request.get());
      if (request && IsSuccess(last_.status)) {
        complete =
            ReadBody(request.get(), UINT64_MAX, limits,
                     [&](const char* data, DWORD n) {
                       last_.bytes += n;
                       DWORD written = 0;
                       return WriteFile(file.get(), data, n, &written, nullptr) && written == n;
                     }) &&
            FlushFileBuffers(file.get());
      }
    }
  }
  if (complete && MoveFileExW(temp.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temp.c_str());
  return false;
}

void Win32UpdateNetwork::RemoveLeftoverDownloads(const std::u16string& folder,
                                                 std::initializer_list<std::u16string> partFiles) {
  const std::wstring base = ToWide(folder) + L"\\";
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW((base + kTempPrefix + L"*.tmp").c_str(), &data));
  if (find) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((base + data.cFileName).c_str());
    } while (FindNextFileW(find.get(), &data));
  }
  for (const std::u16string& part : partFiles) DeleteFileW((base + ToWide(part)).c_str());
}

}  // namespace tindra::win32
