#pragma once
// Integer arithmetic that raises Overflow (error 6) instead of wrapping, the
// conversions from floating point that round halves to even, reading numbers from
// text, and twips against the screen's pixels.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/errors.h"

namespace tindra {

template <typename T>
concept CheckedInt = std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t>;

template <CheckedInt T>
T CheckedAdd(T a, T b) {
  T r;
  if (__builtin_add_overflow(a, b, &r)) Raise(kErrOverflow);
  return r;
}
template <CheckedInt T>
T CheckedSub(T a, T b) {
  T r;
  if (__builtin_sub_overflow(a, b, &r)) Raise(kErrOverflow);
  return r;
}
template <CheckedInt T>
T CheckedMul(T a, T b) {
  T r;
  if (__builtin_mul_overflow(a, b, &r)) Raise(kErrOverflow);
  return r;
}

// Rounds to the nearest integer, halves to the even neighbour; Overflow outside
// the type's range or for NaN.
int16_t ToInt16(double v);
int32_t ToInt32(double v);

// Narrows a 32-bit value to 16 bits; Overflow when it does not fit.
int16_t ToInt16(int32_t v);

// Reads a number from text: blanks, tabs and line feeds are skipped wherever they
// stand; then an optional sign, digits, an optional decimal point with digits and an
// optional exponent (E or e, optional sign, digits). Reading stops at the first
// character that cannot continue the number; text with no number reads as 0.
// A value too large for a double raises Overflow.
double ReadNumber(std::u16string_view text);

// The number format "0" applied to text: a run of decimal digits becomes the same
// whole number without leading zeros ("0027" -> "27", "000" -> "0"); anything else,
// the empty text included, is returned unchanged.
std::u16string FormatZero(std::u16string_view text);

// Twips (1/1440 inch) and the window system's pixels, converted with the screen's
// twips-per-pixel factor of the axis (15 on a 96-dpi display).
// A pixel coordinate in twips: the product in double precision, rounded to the
// nearest integer with halves to even; Overflow outside the 32-bit range.
int32_t PixelsToTwips(int32_t pixels, float twipsPerPixel);

// Twips in whole window pixels: divided by the factor and rounded to the nearest pixel,
// halves to even; Overflow when it does not fit, Invalid procedure call for a factor
// that is not positive.
int32_t ToWindowPixels(double twips, float twipsPerPixel);

// Window pixels in single-precision twips, as the popup keeps its size and place.
float FromWindowPixels(int32_t pixels, float twipsPerPixel);

// The screen's twips per pixel on each axis, worked out from its logical pixels per
// inch: 1440 / dpi (15 on a 96-dpi display).
struct PixelScale {
  float x, y;
  static PixelScale OfDpi(int dpiX, int dpiY) {
    return {1440.0f / static_cast<float>(dpiX), 1440.0f / static_cast<float>(dpiY)};
  }
};

}  // namespace tindra
