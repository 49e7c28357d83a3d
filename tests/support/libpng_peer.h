// libpng as a writer for the PNG tests: files of any layout, written by the
// library every other PNG reader is measured against.
#ifndef TESTS_SUPPORT_LIBPNG_PEER_H
#define TESTS_SUPPORT_LIBPNG_PEER_H

#include <png.h>

#include <cstdint>
#include <vector>

struct PngLayout {
  int width, height, depth, colourType, interlace;
  int filterMask;  // PNG_ALL_FILTERS: libpng's default adaptive choice
};

// libpng writes `rows` (stored samples, top row first) with the filters of the
// mask, and the palette when `entries` > 0; false when libpng reports an error.
bool libpngWrite(const PngLayout& layout, png_bytepp rows, const png_color* palette, int entries,
                 std::vector<uint8_t>* out);

#endif
