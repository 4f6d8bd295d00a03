#pragma once
// What the popup shows: Picture1 with the two labels and the envelope on it, laid out
// in the window's pixels, composed once into a memory picture and copied to the
// window by a paint or by a step that gains rows (every step, when the look has a
// border). Owns the font, the envelope icon and the picture's DC and bitmap.
// User-interface thread only. Its artwork comes from the program's resources
// (popup/popup.rc): the background image decoded by the platform's imaging component
// and scaled to the screen's dpi, and the envelope icon at a given size.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/win32/handle.h"
#include "popup/FrmTindra.h"

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

// The controls' boxes (PopupBoxes) as the drawing calls take them.
struct PictureBoxes {
  RECT picture1{}, note{}, name{}, desc{};
};

class PopupPicture {
 public:
  // Lays the controls out in `boxes` and makes the labels' font and the background at
  // the screen's dpi. Raises AppError (kErrInvalidPropertyValue) when the font cannot
  // be made.
  void LayOut(const PopupBoxes& boxes, int dpiX, int dpiY);
  // Frees every GDI object it holds.
  void Release() noexcept;

  // What the labels and the envelope show. The picture is composed again and drawn
  // whole.
  void SetLook(const PopupLook& look) {
    look_ = look;
    composed_ = false;
    drawnHeight_ = 0;
  }

  // After a move to `width` x `height` pixels: draws the rows of `window` below those
  // that already show the picture. A move keeps the rows that stay (a step never
  // widens the window); a shrinking step draws nothing, a hidden window nothing. A
  // look with a border is drawn whole, border and all, at every move.
  void DrawNewRows(HWND window, int width, int height);
  // Draws every row that shows the picture again (a hidden window: nothing).
  void Redraw(HWND window);
  // WM_PAINT: copies the invalid part of the picture.
  void Paint(HWND window);

 private:
  // Picture1 with everything on it, drawn once per popup (again only after a part
  // changed).
  void Compose();
  // The look's border round the window's `width` x `height` pixels, when it has one.
  void DrawFrame(HDC dc, int width, int height) const;

  PictureBoxes boxes_;
  UniqueFont font_;
  UniqueIcon envelope_;
  const BackgroundImage* background_ = nullptr;
  UniqueBitmap canvas_;
  UniqueDc canvasDc_;  // after canvas_: freed first, while the bitmap is selected in it
  bool composed_ = false;
  // Rows of the window, from its top, that show the current picture.
  int drawnHeight_ = 0;
  PopupLook look_;
};

}  // namespace tindra::win32
