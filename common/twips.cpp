#include "common/twips.h"

#include "common/errors.h"
#include "common/numeric.h"

namespace tindra {

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
