// The vectorised unfilters against the plain loops, at every width and pixel size.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "picture/formats/png_unfilter.h"

namespace {

TEST(PngUnfilter, VectorisedAgreesWithPlainAtEveryWidthAndPixelSize) {
  std::mt19937 random(3);
  for (const int pixelBytes : {1, 2, 3, 4, 6, 8})
    for (int filter = pngFilterNone; filter < pngFilterTypes; ++filter)
      for (size_t width = 1; width <= 300; ++width) {
        SCOPED_TRACE(std::to_string(pixelBytes) + "-byte pixels, filter " + std::to_string(filter) + ", width " +
                     std::to_string(width));
        const size_t bytes = width * size_t(pixelBytes);
        // Exactly the row's bytes, so that the sanitizer sees any access past them.
        std::vector<uint8_t> prior(bytes), row(bytes);
        for (uint8_t& byte : prior) byte = uint8_t(random());
        for (uint8_t& byte : row) byte = uint8_t(random());
        std::vector<uint8_t> plain = row;
        ASSERT_TRUE(pngUnfilterRow(filter, row.data(), prior.data(), bytes, pixelBytes));
        ASSERT_TRUE(pngUnfilterRowPlain(filter, plain.data(), prior.data(), bytes, pixelBytes));
        ASSERT_EQ(plain, row);
      }
  uint8_t row[3] = {1, 2, 3}, prior[3] = {};
  EXPECT_FALSE(pngUnfilterRow(pngFilterTypes, row, prior, 3, 3));
  EXPECT_EQ(1, row[0]);
}

}  // namespace
