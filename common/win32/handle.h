#pragma once
// One RAII owner for every kind of Win32 handle: a unique_ptr with a deleter per kind;
// besides, the owners of a DDEML string and of the thread's COM apartment.
#include <objbase.h>
#include <windows.h>
// ddeml.h needs windows.h first.
#include <ddeml.h>

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace tindra::win32 {

// Any handle released by one function of its own and null on failure:
// UniqueOf<HINTERNET, InternetCloseHandle>.
template <auto Release>
struct ReleaseWith {
  template <typename H>
  void operator()(H h) const noexcept {
    if (h) Release(h);
  }
};
template <typename H, auto Release>
using UniqueOf = std::unique_ptr<std::remove_pointer_t<H>, ReleaseWith<Release>>;

// Handles whose calls report failure as null (processes, threads, mutexes).
struct KernelHandleCloser {
  void operator()(HANDLE h) const noexcept {
    if (h) CloseHandle(h);
  }
};
struct GdiObjectDeleter {
  void operator()(HGDIOBJ h) const noexcept {
    if (h) DeleteObject(h);
  }
};
struct IconDestroyer {
  void operator()(HICON h) const noexcept {
    if (h) DestroyIcon(h);
  }
};
struct DcDeleter {
  void operator()(HDC h) const noexcept {
    if (h) DeleteDC(h);
  }
};
struct WindowDestroyer {
  void operator()(HWND h) const noexcept {
    if (h && IsWindow(h)) DestroyWindow(h);
  }
};

// Handles whose calls report failure as INVALID_HANDLE_VALUE, not null (CreateFile,
// FindFirstFile, CreateToolhelp32Snapshot): that value is the owner's empty state,
// so `if (file)` tests for an open handle.
struct FileHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  FileHandle() = default;
  FileHandle(std::nullptr_t) {}
  FileHandle(HANDLE handle) : h(handle ? handle : INVALID_HANDLE_VALUE) {}
  operator HANDLE() const { return h; }
  friend bool operator==(FileHandle a, FileHandle b) { return a.h == b.h; }
  friend bool operator==(FileHandle a, std::nullptr_t) { return a.h == INVALID_HANDLE_VALUE; }
};
struct FileCloser {
  using pointer = FileHandle;
  void operator()(FileHandle f) const noexcept {
    if (f.h != INVALID_HANDLE_VALUE) CloseHandle(f.h);
  }
};
struct FindCloser {
  using pointer = FileHandle;
  void operator()(FileHandle f) const noexcept {
    if (f.h != INVALID_HANDLE_VALUE) FindClose(f.h);
  }
};
using UniqueFile = std::unique_ptr<void, FileCloser>;
using UniqueFind = std::unique_ptr<void, FindCloser>;

using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleCloser>;
using UniqueGdi = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;
template <typename T>
using UniqueGdiOf = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;
using UniqueFont = UniqueGdiOf<HFONT>;
using UniqueBitmap = UniqueGdiOf<HBITMAP>;
using UniqueBrush = UniqueGdiOf<HBRUSH>;
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;  // memory DCs
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// A window's device context (GetDC or GetDCEx; the screen's without a window),
// released when it goes.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd = nullptr) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  WindowDc(HWND hwnd, DWORD flags) : hwnd_(hwnd), dc_(GetDCEx(hwnd, nullptr, flags)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// The device context of a WM_PAINT (BeginPaint), ended when it goes.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
  ~PaintDc() { EndPaint(hwnd_, &ps_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC get() const noexcept { return dc_; }
  const PAINTSTRUCT& paint() const noexcept { return ps_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// A DDEML string handle, owned. It must go before its DDEML instance is
// uninitialized: owners reset their strings first.
class DdeString {
 public:
  DdeString() = default;
  DdeString(DWORD inst, const std::u16string& text)
      : inst_(inst),
        hsz_(DdeCreateStringHandleW(inst, reinterpret_cast<const wchar_t*>(text.c_str()),
                                    CP_WINUNICODE)) {}
  ~DdeString() { reset(); }
  DdeString(DdeString&& other) noexcept
      : inst_(other.inst_), hsz_(std::exchange(other.hsz_, nullptr)) {}
  DdeString& operator=(DdeString&& other) noexcept {
    if (this != &other) {
      reset();
      inst_ = other.inst_;
      hsz_ = std::exchange(other.hsz_, nullptr);
    }
    return *this;
  }
  DdeString(const DdeString&) = delete;
  DdeString& operator=(const DdeString&) = delete;

  void reset() noexcept {
    if (hsz_) DdeFreeStringHandle(inst_, hsz_);
    hsz_ = nullptr;
  }
  HSZ get() const noexcept { return hsz_; }
  explicit operator bool() const noexcept { return hsz_ != nullptr; }

 private:
  DWORD inst_ = 0;
  HSZ hsz_ = nullptr;
};

// COM for the calling thread in a single-threaded apartment, for as long as the object
// lives; balanced only when this call initialised it (or found it already initialised
// the same way).
class ComScope {
 public:
  ComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool ok_;
};

}  // namespace tindra::win32
