#include "picture/formats/tiff_lzw.h"

#include <algorithm>
#include <cstring>

// A strip is decoded whole into its destination, so every string of the table
// is already in the output: an entry is the place and length of its string
// there (the previous code's string followed by one byte, which is where the
// previous code left it), and a code is one forward copy, not a walk along
// prefixes.
namespace {

const int clearCode = 256;
const int endCode = 257;
const int firstFreeCode = 258;
const int minBits = 9;
const int maxBits = 12;
const int tableSize = 1 << maxBits;
// Bytes a chunked copy may store past the end of its string.
const size_t copyOvershoot = 7;

struct Entry {
  uint32_t start;  // where the string lies in the destination
  uint32_t length;
};

uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// Copies a string of earlier output eight bytes at a time through a register,
// storing up to copyOvershoot bytes past it. The string ends at or before
// `to`, so no chunk reads a byte of it that an earlier chunk stored.
inline void copyEarlier(uint8_t* out, size_t to, size_t from, size_t length) {
  for (size_t i = 0; i < length; i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, out + from + i, 8);
    std::memcpy(out + to + i, &chunk, 8);
  }
}

}  // namespace

TiffLzwResult tiffLzwDecode(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                            size_t destinationLength, size_t* produced) {
  Entry table[tableSize];  // entries from firstFreeCode up are set before they are read
  const size_t limit = std::min<size_t>(destinationLength, UINT32_MAX);
  size_t in = 0, out = 0;
  uint64_t bits = 0;  // the next bitCount bits of the source, from the top down
  int bitCount = 0;
  int codeBits = minBits;
  int nextCode = firstFreeCode;
  bool afterClear = true;  // no previous string: the next code must be a literal
  size_t lastStart = 0, lastLength = 0;
  auto finish = [&](TiffLzwResult result) {
    *produced = out;
    return result;
  };
  if (limit == 0) return finish(TiffLzwResult::full);
  for (;;) {
    if (bitCount < codeBits) {
      if (sourceLength - in >= 8) {
        bits |= loadBigEndian64(source + in) >> bitCount;
        in += size_t(63 - bitCount) >> 3;
        bitCount |= 56;
      } else {
        for (; bitCount <= 56 && in < sourceLength; bitCount += 8)
          bits |= uint64_t(source[in++]) << (56 - bitCount);
        if (bitCount < codeBits) return finish(TiffLzwResult::ended);
      }
    }
    const int code = int(bits >> (64 - codeBits));
    bits <<= codeBits;
    bitCount -= codeBits;

    size_t length = 1;
    if (code < clearCode) {
      destination[out] = uint8_t(code);
    } else if (code == clearCode) {
      codeBits = minBits;
      nextCode = firstFreeCode;
      afterClear = true;
      continue;
    } else if (code == endCode) {
      return finish(TiffLzwResult::ended);
    } else if (afterClear || code > nextCode) {
      return finish(TiffLzwResult::badCode);
    } else {
      // The code being defined (code == nextCode) is the previous string and its first byte.
      const bool selfReference = code == nextCode;
      const Entry entry = selfReference ? Entry{uint32_t(lastStart), uint32_t(lastLength + 1)} : table[code];
      length = entry.length;
      if (limit - out >= length + copyOvershoot) {
        copyEarlier(destination, out, entry.start, selfReference ? lastLength : length);
        if (selfReference) destination[out + lastLength] = destination[lastStart];
      } else {
        // Near the end: byte by byte, which also repeats a self-referring string's first byte.
        length = std::min(length, limit - out);
        for (size_t i = 0; i < length; ++i) destination[out + i] = destination[entry.start + i];
      }
    }
    if (!afterClear && nextCode < tableSize) {  // a full table stays as it is until a clear
      table[nextCode] = {uint32_t(lastStart), uint32_t(lastLength + 1)};
      ++nextCode;
      if (nextCode >= (1 << codeBits) - 1 && codeBits < maxBits) ++codeBits;
    }
    afterClear = false;
    lastStart = out;
    lastLength = length;
    out += length;
    if (out == limit) return finish(TiffLzwResult::full);
  }
}
