// PNG row filters on memory, for the writer: the five filter types, the sums
// libpng's default adaptive choice compares (each filtered byte taken as a
// signed value, its magnitude added), and the choice itself. Plain loops, and
// beside them SSE2 ones that give the same bytes and sums at every length.
// A row's first pixel has zeros to its left; the first row has zeros above.
#ifndef PICTURE_FORMATS_PNG_FILTER_H
#define PICTURE_FORMATS_PNG_FILTER_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

enum PngFilterType { pngFilterNone, pngFilterSub, pngFilterUp, pngFilterAverage, pngFilterPaeth };
const int pngFilterTypes = 5;

// The Paeth predictor of a byte from its left, upper and upper-left neighbours
// (the writer subtracts it, the reader adds it back).
inline uint8_t pngPaethPredictor(int left, int above, int upperLeft) {
  const int toLeft = std::abs(above - upperLeft);  // |p - left| with p = left + above - upperLeft
  const int toAbove = std::abs(left - upperLeft);
  const int toUpperLeft = std::abs(left + above - 2 * upperLeft);
  if (toLeft <= toAbove && toLeft <= toUpperLeft) return uint8_t(left);
  return uint8_t(toAbove <= toUpperLeft ? above : upperLeft);
}

// sums[type] for every type, over `length` bytes of `row` with `above` the
// previous row; pixelBytes is the distance to the left neighbour.
void pngFilterSums(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                   uint64_t sums[pngFilterTypes]);
void pngFilterSumsPlain(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                        uint64_t sums[pngFilterTypes]);

// Writes the row filtered with `type` to out (length bytes).
void pngApplyFilter(int type, const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                    uint8_t* out);
void pngApplyFilterPlain(int type, const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                         uint8_t* out);

// The types libpng's default writer tries, a bit (1 << type) each: all five,
// less those that look above in an image of one row, and those that look
// left in an image of one column.
unsigned pngFiltersTried(int width, int height);

// libpng's choice among the types tried: the smallest sum, the first type of
// equal ones.
int pngChooseFilter(const uint64_t sums[pngFilterTypes], unsigned tried);

// The chosen type's byte, then the row filtered with it: length + 1 bytes.
void pngFilterRowAdaptive(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                          unsigned tried, uint8_t* out);

#endif
