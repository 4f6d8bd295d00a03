#pragma once
// The one way a window of the programs and tools is tied to its C++ object:
//
//   class ProgressWindow : public WindowBase<ProgressWindow> {
//    public:
//     LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
//   };
//
// The window class's procedure is WindowBase<T>::Procedure, and the window is created
// with the object as its creation parameter (CreateWindowExW's last argument). The
// procedure stores the object at WM_NCCREATE and forwards every message from then on
// to HandleMessage, through the guard: nothing unwinds into the window system. An
// object that goes before its window calls Unhook first.
#include <windows.h>

#include "common/win32/guard.h"

namespace tindra::win32 {

template <typename Derived>
class WindowBase {
 public:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return GuardedHandler([&]() -> LRESULT {
      if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      }
      auto* self = reinterpret_cast<Derived*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
      if (msg == WM_NCDESTROY) Unhook(hwnd);
      return self->HandleMessage(hwnd, msg, wParam, lParam);
    });
  }

 protected:
  // No message reaches the object any more.
  static void Unhook(HWND hwnd) noexcept { SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0); }
};

}  // namespace tindra::win32
