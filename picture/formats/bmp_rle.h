// The 8- and 4-bit run-length codes of Windows bitmaps, one row at a time, on
// memory. Pairs (count, index) repeat an index; (0, 0) ends a line, (0, 1) ends
// the bitmap, (0, 2, dx, dy) moves right and on by rows, (0, n >= 3) is
// followed by n literal indices padded to a whole number of 16-bit words. In
// the 4-bit code a pair's byte holds two indices, high nibble first, that
// alternate for its count, and literal indices are packed two to a byte.
#ifndef PICTURE_FORMATS_BMP_RLE_H
#define PICTURE_FORMATS_BMP_RLE_H

#include <cstddef>
#include <cstdint>

// Where decoding stands between rows.
struct picBmpRleCursor {
  size_t position = 0;   // next unread byte of the data
  int64_t blankRows = 0; // rows a delta jumped over that are still to be delivered
  int startColumn = 0;   // column the next row starts at after a delta
  bool finished = false; // end of bitmap seen: every later row is blank
};

// Decodes the next row of `width` indices. Pixels the data leaves untouched
// (skipped by a delta, after an early end of line or end of bitmap) are 0; runs
// and literals that reach past the row are cut at its end, so nothing outside
// row[0 .. width) is written whatever the counts and deltas say. False when the
// data ends before the row does.
bool picBmpDecodeRle8Row(const uint8_t* data, size_t size, picBmpRleCursor* cursor, uint8_t* row,
                         int width);
// The same for the 4-bit code, one index to a byte of `row`.
bool picBmpDecodeRle4Row(const uint8_t* data, size_t size, picBmpRleCursor* cursor, uint8_t* row,
                         int width);

// The most bytes picBmpEncodeRle8Row writes for a row of `width` indices.
inline int64_t picBmpRle8RowBound(int64_t width) { return 2 * width + 2; }

// Encodes a row in the 8-bit code, end-of-line code included, into `out` (at least
// picBmpRle8RowBound(width) bytes); returns the number of bytes written.
size_t picBmpEncodeRle8Row(const uint8_t* row, int width, uint8_t* out);

#endif
