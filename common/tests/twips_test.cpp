#include <gtest/gtest.h>

#include <climits>
#include <limits>

#include "common/errors.h"
#include "common/numeric.h"

using namespace tindra;

TEST(PixelsToTwips, WholeFactorsMultiplyExactly) {
  EXPECT_EQ(PixelsToTwips(1280, 15.0f), 19200);
  EXPECT_EQ(PixelsToTwips(994, 15.0f), 14910);
  EXPECT_EQ(PixelsToTwips(0, 15.0f), 0);
  EXPECT_EQ(PixelsToTwips(-3, 15.0f), -45);
}

TEST(PixelsToTwips, FractionalProductsRoundToNearestWithHalvesToEven) {
  // 12.5 is exact in single precision: the products below end in exactly .5.
  EXPECT_EQ(PixelsToTwips(1, 12.5f), 12);
  EXPECT_EQ(PixelsToTwips(3, 12.5f), 38);
  EXPECT_EQ(PixelsToTwips(5, 12.5f), 62);
  EXPECT_EQ(PixelsToTwips(-1, 12.5f), -12);
  // 1440 / 130 dpi = 11.0769...: 994 px is 11010.46 twips, 1280 px 14178.46.
  EXPECT_EQ(PixelsToTwips(994, 1440.0f / 130.0f), 11010);
  EXPECT_EQ(PixelsToTwips(1280, 1440.0f / 130.0f), 14178);
  // 1440 / 144 dpi = 10 exactly; 1440 / 120 = 12 exactly.
  EXPECT_EQ(PixelsToTwips(1023, 1440.0f / 144.0f), 10230);
  EXPECT_EQ(PixelsToTwips(7, 1440.0f / 120.0f), 84);
}

TEST(PixelsToTwips, ProductsOutsideThe32BitRangeAreOverflow) {
  EXPECT_THROW(PixelsToTwips(INT32_MAX, 15.0f), AppError);
  EXPECT_THROW(PixelsToTwips(1, std::numeric_limits<float>::infinity()), AppError);
  EXPECT_THROW(PixelsToTwips(1, std::numeric_limits<float>::quiet_NaN()), AppError);
}

TEST(ToWindowPixels, RoundsToNearestPixelHalvesToEven) {
  EXPECT_EQ(ToWindowPixels(2685, 15.0f), 179);
  EXPECT_EQ(ToWindowPixels(337.5, 15.0f), 22);  // 22.5
  EXPECT_EQ(ToWindowPixels(352.5, 15.0f), 24);  // 23.5
  EXPECT_EQ(ToWindowPixels(-50, 15.0f), -3);    // -3.33
  EXPECT_EQ(ToWindowPixels(2685, 12.0f), 224);  // 223.75 at 120 dpi
  EXPECT_EQ(ToWindowPixels(2685, 10.0f), 268);  // 268.5 at 144 dpi
  EXPECT_FLOAT_EQ(FromWindowPixels(179, 15.0f), 2685.0f);
  EXPECT_THROW(ToWindowPixels(1e12, 15.0f), AppError);
}
