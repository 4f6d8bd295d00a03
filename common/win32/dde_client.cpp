#include "common/win32/dde_client.h"

#include <dde.h>
#include <ddeml.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"

namespace tindra::poke {

using win32::WidePtr;

namespace {

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

// ---- DDEML ------------------------------------------------------------------

HDDEDATA CALLBACK ClientCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

}  // namespace

DdeConversation::~DdeConversation() {
  if (conv_) DdeDisconnect(conv_);
  for (win32::DdeString* s : {&service_, &topic_, &item_}) s->reset();
  if (inst_) DdeUninitialize(inst_);
}

PokeOutcome DdeConversation::Connect(const PokeRequest& r) {
  if (inst_) return conv_ ? PokeOutcome::kAcknowledged : PokeOutcome::kFailed;
  if (DdeInitializeW(&inst_, &ClientCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
    inst_ = 0;
    return PokeOutcome::kFailed;
  }
  service_ = win32::DdeString(inst_, r.service);
  topic_ = win32::DdeString(inst_, r.topic);
  item_ = win32::DdeString(inst_, r.item);
  if (!service_ || !topic_ || !item_) return PokeOutcome::kFailed;

  // A server that is still starting has not registered yet: keep asking.
  const DWORD start = GetTickCount();
  for (;;) {
    conv_ = DdeConnect(inst_, service_.get(), topic_.get(), nullptr);
    if (conv_ || Elapsed(start) >= r.connectWaitMs) break;
    Sleep(100);
  }
  return conv_ ? PokeOutcome::kAcknowledged : PokeOutcome::kNoServer;
}

DWORD DdeConversation::ServerProcessId() const {
  if (!conv_) return 0;
  CONVINFO info;
  ZeroMemory(&info, sizeof(info));
  info.cb = sizeof(info);
  if (!DdeQueryConvInfo(conv_, QID_SYNC, &info) || !info.hwndPartner) return 0;
  DWORD process = 0;
  GetWindowThreadProcessId(info.hwndPartner, &process);
  return process;
}

PokeOutcome DdeConversation::Poke(UINT format, const std::string& data, DWORD ackTimeoutMs) {
  if (!conv_) return PokeOutcome::kFailed;
  DWORD result = 0;
  auto* bytes = reinterpret_cast<BYTE*>(const_cast<char*>(data.data()));
  HDDEDATA ok = DdeClientTransaction(bytes, static_cast<DWORD>(data.size()), conv_, item_.get(),
                                     format, XTYP_POKE, ackTimeoutMs, &result);
  // Some DDEML implementations report a negative acknowledgement only in the
  // status word, with a non-null result: look at both.
  if (ok) return (result & DDE_FACK) ? PokeOutcome::kAcknowledged : PokeOutcome::kRefused;
  switch (DdeGetLastError(inst_)) {
    case DMLERR_NOTPROCESSED:
      return PokeOutcome::kRefused;
    case DMLERR_POKEACKTIMEOUT:
      return PokeOutcome::kTimeout;
    default:
      return PokeOutcome::kFailed;
  }
}

namespace {

// ---- Plain DDE messages -----------------------------------------------------

class RawClient : public win32::WindowBase<RawClient> {
 public:
  ~RawClient() {
    if (server_ && window_ && !sentTerminate_) {
      PostMessageW(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.get()), 0);
      sentTerminate_ = true;
      // The server answers the terminate; wait briefly for it.
      Pump(1000, [this] { return terminated_; });
    }
    if (pendingPoke_) GlobalFree(pendingPoke_);
    if (pendingItem_) GlobalDeleteAtom(pendingItem_);
  }

  PokeOutcome Run(const PokeRequest& r) {
    window_.reset(CreateWindowExW(0, RegisteredClass({.name = L"TindraPokeRawClient"}), L"",
                                  WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), this));
    if (!window_) return PokeOutcome::kFailed;
    const HWND self = window_.get();

    const DWORD start = GetTickCount();
    while (!server_) {
      ATOM app = GlobalAddAtomW(WidePtr(r.service));
      ATOM topic = GlobalAddAtomW(WidePtr(r.topic));
      if (!app || !topic) {
        if (app) GlobalDeleteAtom(app);
        if (topic) GlobalDeleteAtom(topic);
        return PokeOutcome::kFailed;
      }
      DWORD_PTR unused = 0;
      // Servers answer with WM_DDE_ACK sent to this window during the broadcast.
      SendMessageTimeoutW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(self),
                          MAKELPARAM(app, topic), SMTO_ABORTIFHUNG, 2000, &unused);
      GlobalDeleteAtom(app);
      GlobalDeleteAtom(topic);
      if (server_ || Elapsed(start) >= r.connectWaitMs) break;
      Pump(100, [] { return false; });
    }
    if (!server_) return PokeOutcome::kNoServer;

    // The poke: a DDEPOKE block the server frees when it takes the data.
    HGLOBAL mem =
        GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, offsetof(DDEPOKE, Value) + r.data.size() + 1);
    if (!mem) return PokeOutcome::kFailed;
    auto* poke = static_cast<DDEPOKE*>(GlobalLock(mem));
    if (!poke) {
      GlobalFree(mem);
      return PokeOutcome::kFailed;
    }
    std::memset(poke, 0, offsetof(DDEPOKE, Value) + r.data.size() + 1);
    poke->fRelease = 1;
    poke->cfFormat = static_cast<short>(r.format);
    if (!r.data.empty()) std::memcpy(poke->Value, r.data.data(), r.data.size());
    GlobalUnlock(mem);
    ATOM item = GlobalAddAtomW(WidePtr(r.item));
    if (!item) {
      GlobalFree(mem);
      return PokeOutcome::kFailed;
    }
    LPARAM lp = PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(mem), item);
    if (!PostMessageW(server_, WM_DDE_POKE, reinterpret_cast<WPARAM>(self), lp)) {
      FreeDDElParam(WM_DDE_POKE, lp);
      GlobalFree(mem);
      GlobalDeleteAtom(item);
      return PokeOutcome::kFailed;
    }
    // Until acknowledged positively, the data and the atom are still ours.
    pendingPoke_ = mem;
    pendingItem_ = item;
    if (!Pump(r.ackTimeoutMs, [this] { return acked_ || terminated_; }))
      return PokeOutcome::kTimeout;
    if (!acked_) return PokeOutcome::kNoServer;
    if (ackStatus_ & DDE_FACK) {
      pendingPoke_ = nullptr;  // the server freed it
      return PokeOutcome::kAcknowledged;
    }
    return PokeOutcome::kRefused;
  }

 private:
  template <typename Done>
  bool Pump(DWORD timeoutMs, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
      DWORD left = timeoutMs - std::min(timeoutMs, Elapsed(start));
      if (left == 0) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, left, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    return true;
  }

  friend class win32::WindowBase<RawClient>;
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND from = reinterpret_cast<HWND>(wParam);
    switch (msg) {
      case WM_DDE_ACK:
        if (!server_) {
          // Answer to the initiate: sent, not posted; lParam holds the server's atoms.
          GlobalDeleteAtom(LOWORD(lParam));
          GlobalDeleteAtom(HIWORD(lParam));
          server_ = from;
          return 0;
        }
        if (!server_ || from != server_) {
          // A second server answered the initiate, or a stray: end that conversation.
          if (InSendMessage()) {
            GlobalDeleteAtom(LOWORD(lParam));
            GlobalDeleteAtom(HIWORD(lParam));
            PostMessageW(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
          }
          return 0;
        }
        {
          UINT_PTR lo = 0, hi = 0;
          UnpackDDElParam(WM_DDE_ACK, lParam, &lo, &hi);
          FreeDDElParam(WM_DDE_ACK, lParam);
          ackStatus_ = static_cast<WORD>(lo);
          if (hi) GlobalDeleteAtom(static_cast<ATOM>(hi));
          pendingItem_ = 0;  // the ack carries the item atom back
          acked_ = true;
        }
        return 0;
      case WM_DDE_TERMINATE:
        if (from == server_) {
          terminated_ = true;
          if (!sentTerminate_) {
            // The server ends the conversation: answer its terminate.
            PostMessageW(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
            sentTerminate_ = true;
          }
        }
        return 0;
      default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
  }

  win32::UniqueWindow window_;
  HWND server_ = nullptr;
  bool sentTerminate_ = false;
  bool acked_ = false;
  bool terminated_ = false;
  WORD ackStatus_ = 0;
  HGLOBAL pendingPoke_ = nullptr;
  ATOM pendingItem_ = 0;
};

}  // namespace

std::string TextData(const std::u16string& text, bool unicode) {
  if (unicode) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    bytes.append(2, '\0');
    return bytes;
  }
  std::string bytes = win32::ToAnsi(text);
  bytes.push_back('\0');
  return bytes;
}

PokeOutcome Poke(const PokeRequest& request) {
  if (request.raw) {
    RawClient client;
    return client.Run(request);
  }
  DdeConversation conversation;
  PokeOutcome connected = conversation.Connect(request);
  if (connected != PokeOutcome::kAcknowledged) return connected;
  return conversation.Poke(request.format, request.data, request.ackTimeoutMs);
}

const char* OutcomeText(PokeOutcome outcome) {
  switch (outcome) {
    case PokeOutcome::kAcknowledged:
      return "acknowledged";
    case PokeOutcome::kNoServer:
      return "no DDE server answered";
    case PokeOutcome::kRefused:
      return "the server refused the poke";
    case PokeOutcome::kTimeout:
      return "no acknowledgement in time";
    case PokeOutcome::kFailed:
      return "the DDE client could not be set up";
  }
  return "unknown";
}

}  // namespace tindra::poke
