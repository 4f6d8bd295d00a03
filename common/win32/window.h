#pragma once
// The one way a window of the programs and tools is tied to its C++ object:
//
//   class ProgressWindow : public WindowBase<ProgressWindow> {
//    public:
//     LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
//   };
//   CreateWindowExW(0, ProgressWindow::RegisteredClass({L"Progress", IDC_WAIT}), ...,
//                   &window);
//
// The window class, registered once by RegisteredClass, has WindowBase<T>::Procedure as
// its procedure, and the window is created with the object as its creation parameter
// (CreateWindowExW's last argument). The procedure stores the object at WM_NCCREATE and
// forwards every message from then on to HandleMessage, through the guard: nothing
// unwinds into the window system. An object that goes before its window calls Unhook
// first.
#include <windows.h>

#include <atomic>

#include "common/win32/guard.h"

namespace tindra::win32 {

// A window class of the program's module, besides its procedure.
struct WindowClass {
  const wchar_t* name;
  const wchar_t* cursor = nullptr;  // a system cursor (IDC_ARROW, ...), or none
  int background = -1;              // the system colour (COLOR_...) it is erased with, or none
  WORD icon = 0;                    // the program's icon resource, large and small, or none
};

// Registers `windowClass` with `procedure`; a class of that name already registered in
// the module counts as registered.
inline bool RegisterWindowClass(const WindowClass& windowClass, WNDPROC procedure) noexcept {
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = module;
  wc.lpszClassName = windowClass.name;
  if (windowClass.cursor) wc.hCursor = LoadCursorW(nullptr, windowClass.cursor);
  if (windowClass.background >= 0)
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(windowClass.background + 1));
  if (windowClass.icon) {
    // Resource icons loaded shared are never destroyed.
    wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(windowClass.icon));
    wc.hIconSm = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(windowClass.icon),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  }
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

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

  // The name of Derived's window class, registered with Procedure the first time. A
  // registration that fails is not an error of its own: the window of that class cannot
  // be created, its creator reports that as it reports any window it cannot create, and
  // the next window tries the registration again.
  static const wchar_t* RegisteredClass(const WindowClass& windowClass) noexcept {
    static std::atomic<bool> registered = false;
    if (!registered) registered = RegisterWindowClass(windowClass, &Procedure);
    return windowClass.name;
  }

 protected:
  // No message reaches the object any more.
  static void Unhook(HWND hwnd) noexcept { SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0); }
};

}  // namespace tindra::win32
