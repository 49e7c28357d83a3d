// The LZW codec of TIFF strips (Compression 5) as current writers make it, on
// memory only: codes of 9 to 12 bits packed most significant bit first, clear
// code 256, end code 257, and the width growing one code early (at 511, 1023
// and 2047 entries). Old-style strips (bits least significant first, which
// start with the bytes 0x00 0x01) are not this codec's.
#ifndef PICTURE_FORMATS_TIFF_LZW_H
#define PICTURE_FORMATS_TIFF_LZW_H

#include <cstddef>
#include <cstdint>

enum class TiffLzwResult {
  full,     // the destination is full; what follows in the source is ignored
  ended,    // the end code or the source's last bit came first
  badCode,  // a code names no string: the data is corrupt
};

// Whether a strip's first bytes mark the old bit order.
inline bool tiffLzwIsOldStyle(const uint8_t* source, size_t sourceLength) {
  return sourceLength >= 2 && source[0] == 0 && (source[1] & 1) != 0;
}

// Decodes one strip into destination, never writing past destinationLength
// bytes; *produced receives the bytes decoded, whatever the result.
TiffLzwResult tiffLzwDecode(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                            size_t destinationLength, size_t* produced);

#endif
