#pragma once
// The popup's artwork, from the program's resources (popup/popup.rc): the background
// image decoded by the platform's imaging component and scaled to the screen's dpi,
// and the envelope icon at a given size.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/win32/handle.h"

namespace tindra::win32 {

// A top-down 32-bit image whose transparent pixels are already laid on white.
struct BackgroundImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row by row
};

// The background scaled by dpiX / 96 and dpiY / 96. Decoded once per size and kept;
// empty when the resource is missing or cannot be decoded (the popup then shows
// white). Holds no GDI object.
const BackgroundImage& PopupBackground(int dpiX, int dpiY);

// The header of a top-down 32-bit image of width x height pixels (0x00RRGGBB).
BITMAPINFO TopDownBitmapInfo(int width, int height);

// Draws `image` with its top-left corner at (x, y) of `dc`.
void DrawBackground(HDC dc, const BackgroundImage& image, int x, int y);

// The envelope icon at size x size pixels (the best of its images, stretched);
// empty when the resource is missing.
UniqueIcon LoadEnvelopeIcon(int size);

}  // namespace tindra::win32
