#pragma once
// What the popup shows: Picture1 with the two labels and the envelope on it, laid out
// in the window's pixels, composed once into a memory picture and copied to the
// window by a paint or by a step that gains rows (every step, when the look has a
// border). Owns the font, the envelope icon
// and the picture's DC and bitmap. User-interface thread only.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win32/handle.h"
#include "popup/FrmTindra.h"
#include "popup/win32/popup_artwork.h"

namespace tindra::win32 {

// The controls' boxes, in the window's pixels. Picture1 stands at the window's
// top-left corner, so its coordinates are the window's; the others stand on it.
struct PopupBoxes {
  RECT picture1{}, note{}, name{}, desc{};
};

class PopupPicture {
 public:
  // Lays the controls out at the screen's dpi and makes the labels' font. Raises
  // AppError (kErrInvalidPropertyValue) when the font cannot be made.
  void LayOut(int dpiX, int dpiY);
  // Frees every GDI object it holds.
  void Release() noexcept;

  const PopupBoxes& boxes() const { return boxes_; }
  bool noteVisible() const { return look_.noteVisible; }

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

  PopupBoxes boxes_;
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
