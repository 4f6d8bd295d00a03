#include "app/win32/dde_server.h"

#include <cstring>

#include "common/win32/ansi.h"
#include "common/win32/guard.h"
#include "common/win32/step_counters.h"

namespace tindra::win32 {

namespace {
// DDEML's callback carries no context; the one running server.
DdeServer* g_server = nullptr;
}  // namespace

bool DecodePokedText(UINT format, const BYTE* data, size_t size, std::u16string& text) {
  text.clear();
  if (format == CF_TEXT) {
    const void* nul = size ? std::memchr(data, 0, size) : nullptr;
    size_t n = nul ? static_cast<size_t>(static_cast<const BYTE*>(nul) - data) : size;
    text = FromAnsi(std::string_view(reinterpret_cast<const char*>(data), n));
    return true;
  }
  if (format == CF_UNICODETEXT) {
    // The data may be unaligned and of odd length: copy whole code units only.
    size_t units = size / 2;
    std::u16string all(units, u'\0');
    if (units) std::memcpy(all.data(), data, units * 2);
    size_t end = all.find(u'\0');
    text = end == std::u16string::npos ? std::move(all) : all.substr(0, end);
    return true;
  }
  return false;
}

DdeServer::DdeServer(std::u16string service, std::u16string topic, std::u16string item,
                     PokeHandler onPoke)
    : serviceName_(std::move(service)),
      topicName_(std::move(topic)),
      itemName_(std::move(item)),
      onPoke_(std::move(onPoke)) {}

bool DdeServer::Start() {
  if (g_server) return false;
  // Advises, requests and executes are refused by DDEML itself.
  const DWORD flags = APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_EXECUTES |
                      CBF_SKIP_ALLNOTIFICATIONS;
  if (DdeInitializeW(&inst_, &DdeServer::Callback, flags, 0) != DMLERR_NO_ERROR) {
    inst_ = 0;
    return false;
  }
  g_server = this;
  service_ = win32::DdeString(inst_, serviceName_);
  topic_ = win32::DdeString(inst_, topicName_);
  item_ = win32::DdeString(inst_, itemName_);
  if (!service_ || !topic_ || !item_) return false;
  registered_ = DdeNameService(inst_, service_.get(), nullptr, DNS_REGISTER) != nullptr;
  return registered_;
}

DdeServer::~DdeServer() {
  if (!inst_) return;
  if (registered_) DdeNameService(inst_, service_.get(), nullptr, DNS_UNREGISTER);
  for (win32::DdeString* s : {&service_, &topic_, &item_}) s->reset();
  DdeUninitialize(inst_);
  if (g_server == this) g_server = nullptr;
}

bool DdeServer::Is(HSZ a, HSZ b) const {
  // DDE names compare without regard to letter case.
  return a && b && DdeCmpStringHandles(a, b) == 0;
}

HDDEDATA CALLBACK DdeServer::Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  return GuardedHandler([&]() -> HDDEDATA {
    DdeServer* self = g_server;
    if (!self) return nullptr;
    switch (type) {
      case XTYP_CONNECT:
        // hsz1 is the topic, hsz2 the service.
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(
            self->Is(hsz1, self->topic_.get()) && self->Is(hsz2, self->service_.get())));
      case XTYP_POKE:
        return self->OnPoke(format, hsz1, hsz2, data);
      case XTYP_EXECUTE:
        return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
      default:
        // Wildcard connects, requests, advises and everything else: nothing.
        return nullptr;
    }
  });
}

HDDEDATA DdeServer::OnPoke(UINT format, HSZ topic, HSZ item, HDDEDATA data) {
  TimedWork timed(Work::kPoke);
  const auto refused = reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
  if (!Is(topic, topic_.get()) || !Is(item, item_.get()) || !data) return refused;
  if (format != CF_TEXT && format != CF_UNICODETEXT) return refused;

  DWORD size = 0;
  BYTE* bytes = DdeAccessData(data, &size);
  if (!bytes) return refused;
  std::u16string text;
  bool ok = size <= kMaxPokeBytes && DecodePokedText(format, bytes, size, text);
  // The data belongs to DDEML; release our view of it before running any handler.
  DdeUnaccessData(data);
  if (!ok) return refused;
  return reinterpret_cast<HDDEDATA>(onPoke_(text) ? DDE_FACK : DDE_FNOTPROCESSED);
}

}  // namespace tindra::win32
