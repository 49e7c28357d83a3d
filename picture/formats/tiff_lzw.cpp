#include "picture/formats/tiff_lzw.h"

#include <algorithm>
#include <cstring>

// A strip is decoded whole into its destination, so every string of the table
// is already in the output: an entry is the place and length of its string
// there (the previous code's string followed by one byte, which is where the
// previous code left it), and a code is one forward copy, not a walk along
// prefixes. Literals point into a row of the 256 byte values, so that every
// code takes the same path: no branch on the kind of code to mispredict.
namespace {

const int clearCode = 256;
const int endCode = 257;
const int firstFreeCode = 258;
const int minBits = 9;
const int maxBits = 12;
const int tableSize = 1 << maxBits;
// Bytes a code's copy may store past the end of its string.
const size_t copyOvershoot = 15;

struct Entry {
  const uint8_t* string;  // in the destination, or in literalBytes
  size_t length;
};

// Byte i is i; the copy of a literal reads 16 bytes from its place. Built at
// compile time, so a load from another file's global constructor finds it filled.
struct LiteralBytes {
  uint8_t bytes[256 + 16];
  constexpr LiteralBytes() : bytes() {
    for (int i = 0; i < 256 + 16; ++i) bytes[i] = uint8_t(i);
  }
};
constexpr LiteralBytes literalBytes;

uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// Copies a string sixteen bytes at a time through registers, storing up to
// copyOvershoot bytes past it. The string ends at or before `to`, so no chunk
// reads a byte of it that an earlier chunk stored.
inline void copyString(uint8_t* to, const uint8_t* from, size_t length) {
  size_t i = 0;
  do {
    uint64_t low, high;
    std::memcpy(&low, from + i, 8);
    std::memcpy(&high, from + i + 8, 8);
    std::memcpy(to + i, &low, 8);
    std::memcpy(to + i + 8, &high, 8);
    i += 16;
  } while (i < length);
}

}  // namespace

TiffLzwResult tiffLzwDecode(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                            size_t destinationLength, size_t* produced) {
  // One spare entry: the entry the next code defines is set before the code is
  // read, also when the table is full.
  Entry table[tableSize + 1];
  for (int literal = 0; literal < clearCode; ++literal) table[literal] = {literalBytes.bytes + literal, 1};
  const size_t limit = destinationLength;
  size_t in = 0, out = 0;
  uint64_t bits = 0;  // the next bitCount bits of the source, from the top down
  int bitCount = 0;
  int codeBits = minBits;
  int nextCode = firstFreeCode;
  int highestValid = clearCode - 1;  // after a clear only a literal can come
  const uint8_t* lastString = destination;
  size_t lastLength = 0;
  auto finish = [&](TiffLzwResult result) {
    *produced = out;
    return result;
  };
  if (limit == 0) return finish(TiffLzwResult::full);
  for (;;) {
    if (sourceLength - in >= 8) {
      bits |= loadBigEndian64(source + in) >> bitCount;
      in += size_t(63 - bitCount) >> 3;
      bitCount |= 56;
    } else {
      for (; bitCount <= 56 && in < sourceLength; bitCount += 8)
        bits |= uint64_t(source[in++]) << (56 - bitCount);
      if (bitCount < codeBits) return finish(TiffLzwResult::ended);
    }
    const int code = int(bits >> (64 - codeBits));
    bits <<= codeBits;
    bitCount -= codeBits;

    if (code == clearCode || code == endCode) {
      if (code == endCode) return finish(TiffLzwResult::ended);
      codeBits = minBits;
      nextCode = firstFreeCode;
      highestValid = clearCode - 1;
      continue;
    }
    if (code > highestValid) return finish(TiffLzwResult::badCode);
    // The entry this code defines: the previous string and one more byte, the
    // first of this code's string, which is where the previous code left it.
    // A code naming this very entry repeats the previous string's first byte.
    table[nextCode] = {lastString, lastLength + 1};
    const Entry entry = table[code];
    uint8_t* to = destination + out;
    size_t length = entry.length;
    if (limit - out >= length + copyOvershoot) {
      copyString(to, entry.string, length);
      if (code == nextCode) to[length - 1] = *lastString;
    } else {
      // Near the end: byte by byte, which also repeats a self-referring string's first byte.
      length = std::min(length, limit - out);
      for (size_t i = 0; i < length; ++i) to[i] = entry.string[i];
    }
    if (highestValid >= clearCode && nextCode < tableSize) {  // a full table stays until a clear
      ++nextCode;
      if (nextCode >= (1 << codeBits) - 1 && codeBits < maxBits) ++codeBits;
    }
    highestValid = nextCode;
    lastString = to;
    lastLength = length;
    out += length;
    if (out == limit) return finish(TiffLzwResult::full);
  }
}
