#include "picture/formats/bmp_rle.h"

#include <algorithm>
#include <cstring>

#include "picture/core/driver_support.h"

namespace {

const int maxRun = 255;
const uint8_t rleEscape = 0;
const uint8_t rleEndOfLine = 0;
const uint8_t rleEndOfBitmap = 1;
const uint8_t rleDelta = 2;

// Repeats a pair's byte over `count` indices: the whole byte in the 8-bit
// code, its two nibbles in turn in the 4-bit code.
void repeat(uint8_t* out, int count, uint8_t value, int bitsPerIndex) {
  if (bitsPerIndex == 8) {
    std::memset(out, value, size_t(count));
    return;
  }
  const uint8_t pair[2] = {uint8_t(value >> 4), uint8_t(value & 15)};
  for (int i = 0; i < count; ++i) out[i] = pair[i & 1];
}

bool decodeRow(const uint8_t* data, size_t size, picBmpRleCursor* cursor, uint8_t* row, int width,
               int bitsPerIndex) {
  std::memset(row, 0, size_t(width));
  if (cursor->finished) return true;
  if (cursor->blankRows > 0) {
    --cursor->blankRows;
    return true;
  }
  int x = std::min(cursor->startColumn, width);
  cursor->startColumn = 0;
  size_t at = std::min(cursor->position, size);
  for (;;) {
    if (size - at < 2) {
      cursor->position = at;
      return false;
    }
    const int count = data[at];
    const int value = data[at + 1];
    at += 2;
    if (count != rleEscape) {
      const int stored = std::min(count, width - x);
      repeat(row + x, stored, uint8_t(value), bitsPerIndex);
      x += stored;
      continue;
    }
    if (value == rleEndOfLine) break;
    if (value == rleEndOfBitmap) {
      cursor->finished = true;
      break;
    }
    if (value == rleDelta) {
      if (size - at < 2) {
        cursor->position = at;
        return false;
      }
      const int right = data[at];
      const int down = data[at + 1];
      at += 2;
      x = std::min(x + right, width);
      if (down == 0) continue;
      cursor->blankRows = down - 1;
      cursor->startColumn = x;
      break;
    }
    // A literal stretch of `value` indices, padded to an even number of bytes.
    const size_t bytes = size_t(value * bitsPerIndex + 7) / 8;
    if (size - at < bytes) {
      cursor->position = size;
      return false;
    }
    const int stored = std::min(value, width - x);
    picUnpackIndices(data + at, bitsPerIndex, stored, false, row + x);
    x += stored;
    at += std::min(bytes + (bytes & 1), size - at);
  }
  cursor->position = at;
  return true;
}

}  // namespace

bool picBmpDecodeRle8Row(const uint8_t* data, size_t size, picBmpRleCursor* cursor, uint8_t* row,
                         int width) {
  return decodeRow(data, size, cursor, row, width, 8);
}

bool picBmpDecodeRle4Row(const uint8_t* data, size_t size, picBmpRleCursor* cursor, uint8_t* row,
                         int width) {
  return decodeRow(data, size, cursor, row, width, 4);
}

size_t picBmpEncodeRle8Row(const uint8_t* row, int width, uint8_t* out) {
  size_t length = 0;
  int i = 0;
  while (i < width) {
    const uint8_t current = row[i];
    if (i == width - 1) {
      out[length++] = 1;
      out[length++] = current;
      ++i;
      continue;
    }
    if (row[i + 1] == current) {
      int run = 2;
      while (i + run < width && run < maxRun && row[i + run] == current) ++run;
      out[length++] = uint8_t(run);
      out[length++] = current;
      i += run;
      continue;
    }
    int stretch = 2;
    while (i + stretch < width && stretch < maxRun && row[i + stretch] != row[i + stretch - 1])
      ++stretch;
    // Two equal bytes stopped the stretch: the first of them opens the next run.
    if (i + stretch < width && stretch < maxRun) --stretch;
    if (stretch >= 3) {
      out[length++] = rleEscape;
      out[length++] = uint8_t(stretch);
      std::memcpy(out + length, row + i, size_t(stretch));
      length += size_t(stretch);
      if (stretch & 1) out[length++] = 0;
    } else {
      for (int k = 0; k < stretch; ++k) {
        out[length++] = 1;
        out[length++] = row[i + k];
      }
    }
    i += stretch;
  }
  out[length++] = rleEscape;
  out[length++] = rleEndOfLine;
  return length;
}
