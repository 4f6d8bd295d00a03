#include "update/win32/update_network_win32.h"

#include <cwchar>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/message_wait.h"

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

// The folder part of a path, with its trailing separator ("" when there is none).
std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// What a request's thread and its caller share. The thread owns the request's handles
// and its results; the caller reads the results once the thread is done, or gives up
// on it at the request's bound.
struct RequestState {
  std::mutex mutex;
  // The handle the thread's current WinINet call is on, if it is in one.
  HINTERNET blockedOn = nullptr;
  // The handle the caller closed when it gave up: the thread must not close it again.
  HINTERNET closedByCaller = nullptr;
  bool givenUp = false;
  // Set when the thread has finished.
  UniqueHandle done;
  // Results, read by the caller once `done` is set (status and bytes also before).
  bool ok = false;
  std::atomic<DWORD> status{0};
  std::atomic<uint64_t> bytes{0};
  // A step time-out or the size limit, as the thread saw it.
  TransferBound endedBy = TransferBound::kNone;
  std::string body;
};

// The handles of one request, released in this order: request, connection, session.
// One that the caller closed is only forgotten.
struct RequestHandles {
  RequestState& state;
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  ~RequestHandles() {
    std::lock_guard<std::mutex> lock(state.mutex);
    for (UniqueInternet* h : {&request, &connection, &session}) {
      if (*h && h->get() == state.closedByCaller) static_cast<void>(h->release());
      h->reset();
    }
  }
};

// A WinINet call of the request's thread that may block, on handle `h`. False when it
// failed or when the caller has given up: then the thread makes no further call. The
// caller closes `h` only while the call is on it, so a closed handle is never used
// again, save in the instant between this check and the call's own entry; no new
// handle (which could take the closed one's value) is made in that instant, since a
// caller that gives up starts no other request before it has returned.
template <typename Call>
bool Blocking(RequestState& state, HINTERNET h, Call&& call) {
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.givenUp) return false;
    state.blockedOn = h;
  }
  const bool ok = call();
  const DWORD error = GetLastError();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.blockedOn = nullptr;
  if (state.givenUp) return false;
  if (!ok && error == ERROR_INTERNET_TIMEOUT) state.endedBy = TransferBound::kStepTimeout;
  return ok;
}

// Sets each of the time-outs `options` (INTERNET_OPTION_..._TIMEOUT) of `h` to
// kNetTimeoutMs.
void SetTimeouts(HINTERNET h, std::initializer_list<DWORD> options) {
  DWORD timeout = kNetTimeoutMs;
  for (DWORD option : options) InternetSetOptionA(h, option, &timeout, sizeof(timeout));
}

// InternetOpenA with the agent "VB OpenUrl" and the system's proxy settings, its
// connect, send and receive time-outs set to kNetTimeoutMs. Null on failure.
UniqueInternet OpenInternetSession() {
  // ANSI call: the agent string goes on the wire as given.
  UniqueInternet session(
      InternetOpenA("VB OpenUrl", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return session;
  SetTimeouts(session.get(), {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                              INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                              INTERNET_OPTION_DATA_RECEIVE_TIMEOUT});
  return session;
}

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

// The response's HTTP status code; 0 when it cannot be read.
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

// Sends a GET for `url` on the request's thread, always to the server
// (INTERNET_FLAG_RELOAD), with the session's agent and the time-outs set on the
// connection and the request. The path is sent in the ANSI code page. False on
// failure; otherwise `h.request` is the answered request and the status is read.
bool SendRequest(RequestHandles& h, const std::u16string& url) {
  RequestState& state = h.state;
  h.session = OpenInternetSession();
  if (!h.session) return false;
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
    HINTERNET opened = nullptr;
    Blocking(state, h.session.get(), [&] {
      opened = InternetOpenUrlA(h.session.get(), ansi.c_str(), nullptr, 0, kRequestFlags, 0);
      return opened != nullptr;
    });
    h.request.reset(opened);
  } else {
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path;
    if (parts.lpszUrlPath) path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    // ANSI calls: the path leaves in CP949 bytes, as InternetOpenUrlA sends it on a
    // Korean system.
    h.connection.reset(InternetConnectA(h.session.get(), ToAnsi(FromWide(host)).c_str(),
                                        parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                        0));
    if (!h.connection) return false;
    SetTimeouts(h.connection.get(), {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT});
    h.request.reset(HttpOpenRequestA(h.connection.get(), "GET", UrlBytes(FromWide(path)).c_str(),
                                     nullptr, nullptr, nullptr, kRequestFlags, 0));
    if (!h.request) return false;
    SetTimeouts(h.request.get(), {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT});
    // Connects, sends and waits for the whole header of the answer.
    if (!Blocking(state, h.request.get(),
                  [&] { return HttpSendRequestA(h.request.get(), nullptr, 0, nullptr, 0); })) {
      return false;
    }
  }
  if (!h.request) return false;
  state.status = HttpStatus(h.request.get());
  return true;
}

// Reads the body in pieces on the request's thread, handing each to `take`. False on
// a failed read, a body beyond limits.maxBytes or `maxBytes`, a body shorter than its
// Content-Length, the caller giving up, or a refusal by `take`.
template <typename Take>
bool ReadBody(RequestState& state, HINTERNET request, uint64_t maxBytes,
              const TransferLimits& limits, Take&& take) {
  const uint64_t cap = maxBytes < limits.maxBytes ? maxBytes : limits.maxBytes;
  const long long expected = ContentLength(request);
  if (expected > static_cast<long long>(cap)) {
    state.endedBy = TransferBound::kSize;
    return false;
  }
  std::vector<char> buf(64 * 1024);
  uint64_t total = 0;
  for (;;) {
    // Asks for what has arrived, so that each piece comes as soon as it is there.
    DWORD available = 0;
    if (!Blocking(state, request,
                  [&] { return InternetQueryDataAvailable(request, &available, 0, 0); })) {
      return false;
    }
    if (available == 0) break;
    DWORD got = 0;
    const DWORD want = available < buf.size() ? available : static_cast<DWORD>(buf.size());
    if (!Blocking(state, request,
                  [&] { return InternetReadFile(request, buf.data(), want, &got); })) {
      return false;
    }
    if (got == 0) break;
    total += got;
    state.bytes = total;
    if (total > cap) {
      state.endedBy = TransferBound::kSize;
      return false;
    }
    if (!take(buf.data(), got)) return false;
  }
  return expected < 0 || static_cast<long long>(total) == expected;
}

// Runs `work(state)` (it returns whether the request succeeded) on a thread of its
// own. Null when no thread can be had.
template <typename Work>
std::shared_ptr<RequestState> StartRequest(Work work) {
  auto state = std::make_shared<RequestState>();
  state->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->done) return nullptr;
  try {
    std::thread([state, work = std::move(work)]() mutable {
      // Nothing may leave a thread: a fault of the request is its failure.
      try {
        state->ok = work(*state);
      } catch (...) {
        state->ok = false;
      }
      SetEvent(state->done.get());
    }).detach();
  } catch (...) {
    return nullptr;
  }
  return state;
}

// The caller leaves the request: a WinINet call it blocks in is ended by closing its
// handle, outside the lock, which the thread takes again as the call returns.
void GiveUp(RequestState& state) {
  HINTERNET blocked = nullptr;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.givenUp = true;
    blocked = state.closedByCaller = state.blockedOn;
  }
  if (blocked) InternetCloseHandle(blocked);
}

// Waits for a request's thread until it has finished, its bound has come, or a cancel.
// Fills `last`; true when the thread finished and succeeded.
bool Await(RequestState& state, const TransferLimits& limits, DWORD boundMs, ULONGLONG began,
           TransferSeen& last) {
  ULONGLONG deadline = began + boundMs;
  TransferBound bound = TransferBound::kRequest;
  DWORD boundValue = boundMs;
  if (limits.endBy && limits.endBy < deadline) {
    deadline = limits.endBy;
    bound = TransferBound::kCeiling;
    boundValue = limits.ceilingMs;
  }
  TransferBound ended = TransferBound::kNone;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      ended = bound;
      break;
    }
    // A cancel is looked for every 50 ms. The caller's own windows (the apartment window
    // COM may make on the start-up update's thread) keep answering meanwhile.
    ULONGLONG until = deadline;
    if (limits.cancel && until > now + 50) until = now + 50;
    if (WaitTakingMessages(state.done.get(), until)) break;
    if (limits.cancel && *limits.cancel) {
      ended = TransferBound::kCancel;
      break;
    }
  }
  if (ended != TransferBound::kNone) GiveUp(state);
  last.status = state.status;
  last.bytes = state.bytes;
  if (ended == TransferBound::kNone) {
    std::lock_guard<std::mutex> lock(state.mutex);
    last.endedBy = state.endedBy;
    if (state.endedBy == TransferBound::kStepTimeout) last.boundMs = kNetTimeoutMs;
    return state.ok;
  }
  last.endedBy = ended;
  if (ended != TransferBound::kCancel) last.boundMs = boundValue;
  return false;
}

}  // namespace

std::u16string Win32UpdateNetwork::ReadUrlText(const std::u16string& url) {
  last_ = {};
  const ULONGLONG began = GetTickCount64();
  std::shared_ptr<RequestState> state = StartRequest([url](RequestState& s) {
    RequestHandles h{s};
    if (!SendRequest(h, url) || IsRedirect(s.status)) return false;
    // One read of at most 20 bytes into a buffer of spaces; the status is not looked
    // at otherwise, so the start of an error page comes back like any other body.
    char buffer[20];
    FillMemory(buffer, sizeof(buffer), ' ');
    DWORD got = 0;
    if (!Blocking(s, h.request.get(), [&] {
          return InternetReadFile(h.request.get(), buffer, sizeof(buffer), &got);
        })) {
      return false;
    }
    if (got > sizeof(buffer)) got = sizeof(buffer);
    s.bytes = got;
    s.body.assign(buffer, got);
    return true;
  });
  if (!state || !Await(*state, limits_, limits_.readMs, began, last_)) return {};
  return FromAnsi(state->body);
}

bool Win32UpdateNetwork::FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  body.clear();
  last_ = {};
  const ULONGLONG began = GetTickCount64();
  const TransferLimits limits = limits_;
  std::shared_ptr<RequestState> state = StartRequest([url, maxBytes, limits](RequestState& s) {
    RequestHandles h{s};
    if (!SendRequest(h, url) || !IsSuccess(s.status)) return false;
    return ReadBody(s, h.request.get(), maxBytes, limits, [&](const char* data, DWORD n) {
      s.body.append(data, n);
      return true;
    });
  });
  if (!state || !Await(*state, limits_, limits_.readMs, began, last_)) return false;
  body = std::move(state->body);
  return true;
}

bool Win32UpdateNetwork::DownloadToFile(const std::u16string& url,
                                        const std::u16string& localPath) {
  const std::wstring target = AnyLengthPath(ToWide(localPath));
  // A unique file in the target's own folder, so that the final move stays on one
  // volume and is a rename. (GetTempFileName fails past MAX_PATH.)
  last_ = {};
  const ULONGLONG began = GetTickCount64();
  const std::wstring temp = CreateTempFileIn(FolderOf(ToWide(localPath)));
  if (temp.empty()) return false;

  const TransferLimits limits = limits_;
  std::shared_ptr<RequestState> state = StartRequest([url, temp, limits](RequestState& s) {
    RequestHandles h{s};
    if (!SendRequest(h, url) || !IsSuccess(s.status)) return false;
    // Opened only once an answer has come, never made again once the caller has
    // removed it, and open for deletion too, so that a caller that gives up can remove
    // it at once (the name goes when this thread closes it).
    UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return ReadBody(s, h.request.get(), UINT64_MAX, limits,
                    [&](const char* data, DWORD n) {
                      DWORD written = 0;
                      return WriteFile(file.get(), data, n, &written, nullptr) && written == n;
                    }) &&
           FlushFileBuffers(file.get());
  });
  const bool complete = state && Await(*state, limits_, limits_.deadlineMs, began, last_);
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
