// PNG rows unfiltered in place: None, Sub, Up, Average and Paeth, each row
// against the row above it, already unfiltered. Vectorised for pixels of 3,
// 4, 6 and 8 bytes where the processor has SSSE3 (chosen at run time); the
// plain loop is the reference the vectorised one is tested against.
#ifndef PICTURE_FORMATS_PNG_UNFILTER_H
#define PICTURE_FORMATS_PNG_UNFILTER_H

#include <cstddef>
#include <cstdint>

#include "picture/formats/png_filter.h"

// Undoes `filter` on the `rowBytes` bytes of `row`; `prior` holds the row
// above (zeros for the first row of an image or pass). `pixelBytes` is 1 to 8
// (1 for samples of fewer than 8 bits). Reads and writes nothing past either
// row. False, the row untouched, for a filter type past Paeth.
bool pngUnfilterRow(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int pixelBytes);
bool pngUnfilterRowPlain(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int pixelBytes);

#endif
