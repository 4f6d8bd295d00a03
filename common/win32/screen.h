#pragma once
// The screen's twips-per-pixel factors: 1440 / logical pixels per inch on each axis
// (15 on a 96-dpi display). The process is DPI-aware, so these are the real factors.
#include <windows.h>

namespace tindra::win32 {

inline float TwipsPerPixelX() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return 1440.0f / static_cast<float>(dpi > 0 ? dpi : 96);
}

inline float TwipsPerPixelY() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return 1440.0f / static_cast<float>(dpi > 0 ? dpi : 96);
}

}  // namespace tindra::win32
