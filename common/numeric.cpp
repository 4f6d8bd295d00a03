#include "common/numeric.h"

#include <cmath>
#include <limits>
#include <string>

namespace tindra {

namespace {

template <typename T>
T RoundChecked(double v) {
  if (std::isnan(v)) Raise(kErrOverflow);
  // std::nearbyint rounds in the current mode, which is round-to-nearest-even.
  double r = std::nearbyint(v);
  if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r > static_cast<double>(std::numeric_limits<T>::max()))
    Raise(kErrOverflow);
  return static_cast<T>(r);
}

bool IsSkipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

int16_t ToInt16(double v) { return RoundChecked<int16_t>(v); }
int32_t ToInt32(double v) { return RoundChecked<int32_t>(v); }

int16_t ToInt16(int32_t v) {
  if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
    Raise(kErrOverflow);
  return static_cast<int16_t>(v);
}

double ReadNumber(std::u16string_view text) {
  // Collect the characters of the number (without the skipped blanks) as ASCII,
  // then let strtod do the decimal conversion.
  std::string num;
  enum class St { Sign, Int, Frac, ExpSign, Exp } st = St::Sign;
  bool mantissa_digits = false;
  bool exp_digits = false;
  size_t mantissa_end = 0;
  for (char16_t c : text) {
    if (IsSkipped(c)) continue;
    if (st == St::Sign && (c == u'+' || c == u'-')) {
      num.push_back(static_cast<char>(c));
      st = St::Int;
    } else if ((st == St::Sign || st == St::Int || st == St::Frac) && IsDigit(c)) {
      num.push_back(static_cast<char>(c));
      mantissa_digits = true;
      if (st == St::Sign) st = St::Int;
    } else if ((st == St::Sign || st == St::Int) && c == u'.') {
      num.push_back('.');
      st = St::Frac;
    } else if ((st == St::Int || st == St::Frac) && mantissa_digits && (c == u'e' || c == u'E')) {
      mantissa_end = num.size();
      num.push_back('e');
      st = St::ExpSign;
    } else if (st == St::ExpSign && (c == u'+' || c == u'-')) {
      num.push_back(static_cast<char>(c));
      st = St::Exp;
    } else if ((st == St::ExpSign || st == St::Exp) && IsDigit(c)) {
      num.push_back(static_cast<char>(c));
      exp_digits = true;
      st = St::Exp;
    } else {
      break;
    }
  }
  if (!mantissa_digits) return 0.0;
  if ((st == St::ExpSign || st == St::Exp) && !exp_digits) num.resize(mantissa_end);
  // Very long exponents saturate; strtod then gives inf or 0 as appropriate.
  double v = std::strtod(num.c_str(), nullptr);
  if (std::isinf(v)) Raise(kErrOverflow);
  return v;
}

std::u16string FormatZero(std::u16string_view text) {
  if (text.empty()) return {};
  for (char16_t c : text)
    if (!IsDigit(c)) return std::u16string(text);
  size_t first = text.find_first_not_of(u'0');
  if (first == std::u16string_view::npos) return u"0";
  return std::u16string(text.substr(first));
}

int32_t PixelsToTwips(int32_t pixels, float twipsPerPixel) {
  return ToInt32(static_cast<double>(pixels) * static_cast<double>(twipsPerPixel));
}

int32_t ToWindowPixels(double twips, float twipsPerPixel) {
  if (!(twipsPerPixel > 0.0f)) Raise(kErrInvalidCall);
  return ToInt32(twips / static_cast<double>(twipsPerPixel));
}

float FromWindowPixels(int32_t pixels, float twipsPerPixel) {
  return static_cast<float>(pixels) * twipsPerPixel;
}

}  // namespace tindra
