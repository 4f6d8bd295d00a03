#pragma once
// The screen's twips-per-pixel factors: 1440 / logical pixels per inch on each axis
// (15 on a 96-dpi display). The process is DPI-aware, so these are the real factors.
#include <windows.h>

#include "common/win32/handle.h"

namespace tindra::win32 {

// The screen's logical pixels per inch on one axis (LOGPIXELSX or LOGPIXELSY); 96
// when it cannot be read.
inline int ScreenDpi(int axis) {
  WindowDc dc;
  int dpi = dc ? GetDeviceCaps(dc.get(), axis) : 96;
  return dpi > 0 ? dpi : 96;
}

inline float TwipsPerPixelX() { return 1440.0f / static_cast<float>(ScreenDpi(LOGPIXELSX)); }
inline float TwipsPerPixelY() { return 1440.0f / static_cast<float>(ScreenDpi(LOGPIXELSY)); }

}  // namespace tindra::win32
