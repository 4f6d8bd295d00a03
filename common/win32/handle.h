#pragma once
// One RAII owner for every kind of Win32 handle: a unique_ptr with a deleter per kind.
#include <windows.h>

#include <cstddef>
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
struct WindowDestroyer {
  void operator()(HWND h) const noexcept {
    if (h && IsWindow(h)) DestroyWindow(h);
  }
};

// A file handle. CreateFile reports failure as INVALID_HANDLE_VALUE, not null, so
// that value is this owner's empty state: `if (file)` tests for an open file.
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
using UniqueFile = std::unique_ptr<void, FileCloser>;

using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleCloser>;
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;
using UniqueGdi = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;
template <typename T>
using UniqueGdiOf = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;
using UniqueFont = UniqueGdiOf<HFONT>;
using UniqueBitmap = UniqueGdiOf<HBITMAP>;
using UniqueBrush = UniqueGdiOf<HBRUSH>;
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

}  // namespace tindra::win32
