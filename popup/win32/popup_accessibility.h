#pragma once
// What assistive technology gets from a popup: one alert event when it is shown, and
// for its client area the platform's standard accessible object with the role of an
// alert and the popup's own words as its name. User-interface thread only; the
// thread must be in a single-threaded COM apartment for other processes to reach the
// object. Nothing here raises or throws.
#include <windows.h>
#include <wrl/client.h>

#include <string>

namespace tindra::win32 {

class PopupAccessible;

class PopupAccessibility {
 public:
  PopupAccessibility();
  ~PopupAccessibility();
  PopupAccessibility(const PopupAccessibility&) = delete;
  PopupAccessibility& operator=(const PopupAccessibility&) = delete;

  // The shown popup `window` says `text`, the name of its client object. Raises the
  // alert once (EVENT_SYSTEM_ALERT on the client object, and a UI Automation
  // notification where the platform has them); a popup that is not visible is not
  // announced.
  void Announce(HWND window, const std::u16string& text) noexcept;

  // The answer to WM_GETOBJECT with `wParam` for the client object of `window`, or 0
  // (the window procedure then leaves the message to the system) before the popup is
  // announced or when the object cannot be made.
  LRESULT ClientObject(HWND window, WPARAM wParam) noexcept;

  // The window is going: the object fails every later call and is cut off from the
  // processes that hold it.
  void Detach() noexcept;

 private:
  std::u16string name_;
  bool announced_ = false;
  Microsoft::WRL::ComPtr<PopupAccessible> object_;
};

}  // namespace tindra::win32
