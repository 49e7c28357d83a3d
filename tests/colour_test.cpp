// Colour words and the whole-image conversions.
#include <gtest/gtest.h>

#include <vector>

#include "picture/core/picture.h"

namespace {

TEST(Colour, WordsKeepEightBitsPerComponent) {
  EXPECT_EQ(picEncodeColour(0x1ff, 0x80, 0x7f), 0x00ff807f);
  EXPECT_EQ(picEncodeColour(-1, 0, 0), 0x00ff0000);
  uint8_t red = 1, green = 2, blue = 3;
  picDecodeColour(nullptr, &green, nullptr, 0x00abcdef);
  EXPECT_EQ(red, 1);
  EXPECT_EQ(green, 0xcd);
  EXPECT_EQ(blue, 3);
  picDecodeColour(&red, &green, &blue, 0x7f123456);
  EXPECT_EQ(red, 0x12);
  EXPECT_EQ(blue, 0x56);
}

TEST(Colour, GreyLevels) {
  struct Case {
    int red, green, blue, grey;
  };
  for (const Case& c : {Case{255, 0, 0, 76}, Case{0, 255, 0, 150}, Case{0, 0, 255, 28},
                        Case{255, 255, 255, 255}, Case{0, 0, 0, 0}, Case{10, 20, 30, 18}})
    EXPECT_EQ(picGreyLevel(c.red, c.green, c.blue), c.grey);
}

TEST(Colour, ConversionsFromAMap) {
  // 3 x 1 image; index 5 lies outside the 2-entry map and must come out black.
  const uint8_t indices[] = {0, 1, 5};
  const int32_t map[] = {0xff0000, 0x00ff00};
  uint8_t red[3], green[3], blue[3];
  picMapToRGB(3, 1, indices, 2, map, red, green, blue);
  EXPECT_EQ(std::vector<uint8_t>(red, red + 3), (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(green, green + 3), (std::vector<uint8_t>{0, 255, 0}));
  EXPECT_EQ(std::vector<uint8_t>(blue, blue + 3), (std::vector<uint8_t>{0, 0, 0}));

  uint8_t grey[3];
  int32_t greyMap[256] = {};
  picMapToGrey(3, 1, indices, 2, map, grey, greyMap);
  EXPECT_EQ(std::vector<uint8_t>(grey, grey + 3), (std::vector<uint8_t>{76, 150, 0}));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(greyMap[i], picEncodeColour(i, i, i));
}

TEST(Colour, RGBToGreyAlwaysWritesTheWholeRamp) {
  const uint8_t red[] = {255, 0}, green[] = {0, 0}, blue[] = {0, 255};
  uint8_t grey[2];
  std::vector<int32_t> greyMap(256, -1);
  picRGBToGrey(2, 1, red, green, blue, grey, greyMap.data());
  EXPECT_EQ(grey[0], 76);
  EXPECT_EQ(grey[1], 28);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(greyMap[size_t(i)], picEncodeColour(i, i, i));
}

}  // namespace
