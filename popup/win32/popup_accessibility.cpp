#include "popup/win32/popup_accessibility.h"

#include <oleacc.h>

#include <new>

#include "common/win32/ansi.h"
#include "common/win32/handle.h"

namespace tindra::win32 {

using Microsoft::WRL::ComPtr;

namespace {

using UniqueBstr = UniqueOf<BSTR, SysFreeString>;

UniqueBstr Bstr(const std::u16string& text) {
  return UniqueBstr(SysAllocStringLen(WidePtr(text), static_cast<UINT>(text.size())));
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// UI Automation notifications, where uiautomationcore.dll has them (Windows 10 1709
// and later), looked up once. The provider is the one the system makes for a window.
class UiaNotifier {
 public:
  static UiaNotifier& Instance() {
    static UiaNotifier notifier;
    return notifier;
  }

  void Notify(HWND window, const std::u16string& text) const noexcept {
    if (!raise_ || !listening_()) return;
    ComPtr<IUnknown> provider;  // an IRawElementProviderSimple
    if (FAILED(hostProvider_(window, provider.GetAddressOf())) || !provider) return;
    UniqueBstr display = Bstr(text);
    UniqueBstr activity = Bstr(u"TindraPopup");
    if (!display || !activity) return;
    raise_(provider.Get(), kNotificationKindOther, kNotificationProcessingAll, display.get(),
           activity.get());
  }

 private:
  static constexpr int kNotificationKindOther = 4;
  static constexpr int kNotificationProcessingAll = 2;
  using HostProviderFromHwnd = HRESULT(WINAPI*)(HWND, IUnknown**);
  using ClientsAreListening = BOOL(WINAPI*)();
  using RaiseNotificationEvent = HRESULT(WINAPI*)(IUnknown*, int, int, BSTR, BSTR);

  UiaNotifier() {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const std::wstring path = std::wstring(system, n) + L"\\uiautomationcore.dll";
    module_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module_) return;
    auto find = [this](const char* name) {
      return reinterpret_cast<void*>(GetProcAddress(module_.get(), name));
    };
    hostProvider_ = reinterpret_cast<HostProviderFromHwnd>(find("UiaHostProviderFromHwnd"));
    listening_ = reinterpret_cast<ClientsAreListening>(find("UiaClientsAreListening"));
    raise_ = reinterpret_cast<RaiseNotificationEvent>(find("UiaRaiseNotificationEvent"));
    if (!hostProvider_ || !listening_ || !raise_) {
      raise_ = nullptr;
      module_.reset();
    }
  }

  UniqueOf<HMODULE, FreeLibrary> module_;
  HostProviderFromHwnd hostProvider_ = nullptr;
  ClientsAreListening listening_ = nullptr;
  RaiseNotificationEvent raise_ = nullptr;
};

}  // namespace

// The client object of one popup: the platform's standard object for the window's
// client area, with the role and the name of its own. Once detached every call fails
// with RPC_E_DISCONNECTED, as calls through another process's proxy then do.
class PopupAccessible final : public IAccessible, public IOleWindow {
 public:
  PopupAccessible(ComPtr<IAccessible> standard, HWND window, UniqueBstr name) noexcept
      : standard_(std::move(standard)), window_(window), name_(std::move(name)) {}
  PopupAccessible(const PopupAccessible&) = delete;
  PopupAccessible& operator=(const PopupAccessible&) = delete;

  void Detach() noexcept {
    standard_.Reset();
    window_ = nullptr;
  }

  // --- IUnknown ---
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
    } else if (riid == IID_IOleWindow) {
      *out = static_cast<IOleWindow*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // --- IOleWindow ---
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) noexcept override {
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : kDisconnected;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }

  // --- IDispatch: not offered (the standard object's would bypass the overrides) ---
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) noexcept override {
    return E_NOTIMPL;
  }

  // --- IAccessible: the two that differ ---
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) noexcept override {
    if (!name) return E_POINTER;
    *name = nullptr;
    if (!standard_) return kDisconnected;
    if (!IsSelf(child)) return standard_->get_accName(child, name);
    *name = SysAllocStringLen(name_.get(), SysStringLen(name_.get()));
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) noexcept override {
    if (!role) return E_POINTER;
    VariantInit(role);
    if (!standard_) return kDisconnected;
    if (!IsSelf(child)) return standard_->get_accRole(child, role);
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_ALERT;
    return S_OK;
  }

  // --- IAccessible: the rest is the standard object's ---
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) noexcept override {
    return Forward(parent, &IAccessible::get_accParent, parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) noexcept override {
    return Forward(count, &IAccessible::get_accChildCount, count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) noexcept override {
    return Forward(out, &IAccessible::get_accChild, child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) noexcept override {
    return Forward(value, &IAccessible::get_accValue, child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) noexcept override {
    return Forward(text, &IAccessible::get_accDescription, child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) noexcept override {
    return Forward(state, &IAccessible::get_accState, child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) noexcept override {
    return Forward(help, &IAccessible::get_accHelp, child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child,
                                             LONG* topic) noexcept override {
    if (topic) *topic = 0;
    return Forward(file, &IAccessible::get_accHelpTopic, file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) noexcept override {
    return Forward(keys, &IAccessible::get_accKeyboardShortcut, child, keys);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) noexcept override {
    return Forward(focus, &IAccessible::get_accFocus, focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) noexcept override {
    return Forward(selection, &IAccessible::get_accSelection, selection);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) noexcept override {
    return Forward(action, &IAccessible::get_accDefaultAction, child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) noexcept override {
    return standard_ ? standard_->accSelect(flags, child) : kDisconnected;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) noexcept override {
    if (!standard_) return kDisconnected;
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start,
                                        VARIANT* end) noexcept override {
    return Forward(end, &IAccessible::accNavigate, direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) noexcept override {
    return Forward(child, &IAccessible::accHitTest, x, y, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) noexcept override {
    return standard_ ? standard_->accDoDefaultAction(child) : kDisconnected;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) noexcept override {
    return standard_ ? standard_->put_accValue(child, value) : kDisconnected;
  }

 private:
  ~PopupAccessible() = default;

  static constexpr HRESULT kDisconnected = RPC_E_DISCONNECTED;

  static void Clear(IDispatch** p) { *p = nullptr; }
  static void Clear(BSTR* p) { *p = nullptr; }
  static void Clear(LONG* p) { *p = 0; }
  static void Clear(VARIANT* p) { VariantInit(p); }

  // Calls the standard object's `method` with `args`; `out` is cleared first, so that
  // a caller of a detached object finds no stale value in it.
  template <typename Out, typename... Params, typename... Args>
  HRESULT Forward(Out* out, HRESULT (STDMETHODCALLTYPE IAccessible::*method)(Params...),
                  Args... args) noexcept {
    if (!out) return E_POINTER;
    Clear(out);
    if (!standard_) return kDisconnected;
    return (standard_.Get()->*method)(args...);
  }

  ComPtr<IAccessible> standard_;
  HWND window_;
  UniqueBstr name_;
  LONG references_ = 1;
};

PopupAccessibility::PopupAccessibility() = default;
PopupAccessibility::~PopupAccessibility() { Detach(); }

void PopupAccessibility::Announce(HWND window, const std::u16string& text) noexcept {
  try {
    name_ = text;
  } catch (...) {
    return;  // no memory for the name: nothing announced rather than a wrong name
  }
  if (announced_ || !window || !IsWindowVisible(window)) return;
  announced_ = true;
  NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, CHILDID_SELF);
  UiaNotifier::Instance().Notify(window, text);
}

LRESULT PopupAccessibility::ClientObject(HWND window, WPARAM wParam) noexcept {
  if (!announced_ || !window) return 0;
  if (!object_) {
    ComPtr<IAccessible> standard;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible,
                                         reinterpret_cast<void**>(standard.GetAddressOf()))) ||
        !standard)
      return 0;
    UniqueBstr name = Bstr(name_);
    if (!name) return 0;
    // Born with one reference, which object_ takes over.
    object_.Attach(new (std::nothrow)
                       PopupAccessible(std::move(standard), window, std::move(name)));
    if (!object_) return 0;
  }
  const LRESULT result =
      LresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(object_.Get()));
  return result > 0 ? result : 0;  // a failure comes back as a negative HRESULT
}

void PopupAccessibility::Detach() noexcept {
  if (!object_) return;
  object_->Detach();
  // Releases what other processes hold through their proxies; their later calls fail.
  CoDisconnectObject(static_cast<IAccessible*>(object_.Get()), 0);
  object_.Reset();
}

}  // namespace tindra::win32
