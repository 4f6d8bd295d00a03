#pragma once
// Twips (1/1440 inch) and the window system's pixels, converted with the screen's
// twips-per-pixel factor of the axis (15 on a 96-dpi display). Portable.
#include <cstdint>

namespace tindra {

// A pixel coordinate in twips: the product in double precision, rounded to the
// nearest integer with halves to even; Overflow outside the 32-bit range.
int32_t PixelsToTwips(int32_t pixels, float twipsPerPixel);

// Twips in whole window pixels: divided by the factor and rounded to the nearest pixel,
// halves to even; Overflow when it does not fit, Invalid procedure call for a factor
// that is not positive.
int32_t ToWindowPixels(double twips, float twipsPerPixel);

// Window pixels in single-precision twips, as the popup keeps its size and place.
float FromWindowPixels(int32_t pixels, float twipsPerPixel);

}  // namespace tindra
