#pragma once
// One RAII owner for every kind of Win32 handle: a unique_ptr with a deleter per kind.
#include <windows.h>

#include <memory>
#include <type_traits>

namespace tindra::win32 {

struct KernelHandleCloser {
  void operator()(HANDLE h) const noexcept {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
struct FindCloser {
  void operator()(HANDLE h) const noexcept {
    if (h && h != INVALID_HANDLE_VALUE) FindClose(h);
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

using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleCloser>;
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;
using UniqueGdi = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;
template <typename T>
using UniqueGdiOf = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;
using UniqueFont = UniqueGdiOf<HFONT>;
using UniqueBitmap = UniqueGdiOf<HBITMAP>;
using UniqueBrush = UniqueGdiOf<HBRUSH>;
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;  // memory DCs
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

}  // namespace tindra::win32
