// Colour words 0x00RRGGBB and whole-image conversions between colour-mapped,
// true-colour and grey images.
#include <algorithm>
#include <cstddef>

#include "picture/core/colour_tables.h"
#include "picture/core/picture.h"

int32_t picEncodeColour(int red, int green, int blue) {
  return int32_t((red & 0xff) << 16 | (green & 0xff) << 8 | (blue & 0xff));
}

void picDecodeColour(uint8_t* red, uint8_t* green, uint8_t* blue, int32_t colour) {
  if (red) *red = uint8_t(colour >> 16);
  if (green) *green = uint8_t(colour >> 8);
  if (blue) *blue = uint8_t(colour);
}

int picGreyLevel(int red, int green, int blue) { return (30 * red + 59 * green + 11 * blue) / 100; }

void picSplitMap(int colours, const int32_t* map, ColourTables* tables) {
  *tables = ColourTables{};
  const int count = std::clamp(colours, 0, PIC_MAX_COLOURS);
  for (int i = 0; i < count; ++i)
    picDecodeColour(&tables->red[i], &tables->green[i], &tables->blue[i], map[i]);
}

void picMapLine(const ColourTables& tables, const uint8_t* indices, size_t count, uint8_t* red,
                uint8_t* green, uint8_t* blue) {
  for (size_t x = 0; x < count; ++x) {
    const uint8_t index = indices[x];
    red[x] = tables.red[index];
    green[x] = tables.green[index];
    blue[x] = tables.blue[index];
  }
}

static size_t pixelCount(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  return size_t(width) * size_t(height);
}

static void fillGreyRamp(int32_t* greyMap) {
  for (int i = 0; i < PIC_MAX_COLOURS; ++i) greyMap[i] = picEncodeColour(i, i, i);
}

void picMapToRGB(int width, int height, const uint8_t* indices, int colours, const int32_t* map,
                 uint8_t* red, uint8_t* green, uint8_t* blue) {
  ColourTables tables;
  picSplitMap(colours, map, &tables);
  picMapLine(tables, indices, pixelCount(width, height), red, green, blue);
}

void picRGBToGrey(int width, int height, const uint8_t* red, const uint8_t* green,
                  const uint8_t* blue, uint8_t* grey, int32_t* greyMap) {
  fillGreyRamp(greyMap);
  const size_t count = pixelCount(width, height);
  for (size_t p = 0; p < count; ++p) grey[p] = uint8_t(picGreyLevel(red[p], green[p], blue[p]));
}

void picMapToGrey(int width, int height, const uint8_t* indices, int colours, const int32_t* map,
                  uint8_t* greyIndices, int32_t* greyMap) {
  fillGreyRamp(greyMap);
  uint8_t greyOf[PIC_MAX_COLOURS] = {};
  const int count = std::clamp(colours, 0, PIC_MAX_COLOURS);
  for (int i = 0; i < count; ++i) {
    uint8_t r, g, b;
    picDecodeColour(&r, &g, &b, map[i]);
    greyOf[i] = uint8_t(picGreyLevel(r, g, b));
  }
  const size_t pixels = pixelCount(width, height);
  for (size_t p = 0; p < pixels; ++p) greyIndices[p] = greyOf[indices[p]];
}
