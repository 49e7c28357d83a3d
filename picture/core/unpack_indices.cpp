// Indices packed 1, 2 or 4 to a byte, most significant bits first, spread one
// to a byte through tables of every byte's expansion built at compile time:
// one table look-up and a copy per packed byte.
#include <cstring>

#include "picture/core/driver_support.h"

namespace {

template <int Bits>
struct Expansions {
  static constexpr int perByte = 8 / Bits;
  uint8_t of[256][perByte];
  constexpr Expansions() : of() {
    for (int byte = 0; byte < 256; ++byte)
      for (int k = 0; k < perByte; ++k) of[byte][k] = uint8_t(byte >> (8 - Bits * (k + 1)) & ((1 << Bits) - 1));
  }
};

constexpr Expansions<1> oneBit;
constexpr Expansions<2> twoBits;
constexpr Expansions<4> fourBits;

template <int Bits>
void unpack(const Expansions<Bits>& table, const uint8_t* packed, int width, uint8_t* indices) {
  constexpr int perByte = Expansions<Bits>::perByte;
  const int whole = width / perByte;
  for (int i = 0; i < whole; ++i) std::memcpy(indices + i * perByte, table.of[packed[i]], perByte);
  if (width > whole * perByte) std::memcpy(indices + whole * perByte, table.of[packed[whole]], size_t(width % perByte));
}

}  // namespace

void picUnpackIndicesPlain(const uint8_t* packed, int bitsPerIndex, int width, bool invert, uint8_t* indices) {
  const int mask = (1 << bitsPerIndex) - 1;
  for (int x = 0; x < width; ++x) {
    const int bit = x * bitsPerIndex;
    const int value = packed[bit / 8] >> (8 - bitsPerIndex - bit % 8) & mask;
    indices[x] = uint8_t(invert ? mask - value : value);
  }
}

void picUnpackIndices(const uint8_t* packed, int bitsPerIndex, int width, bool invert, uint8_t* indices) {
  if (width <= 0) return;
  switch (bitsPerIndex) {
    case 1: unpack(oneBit, packed, width, indices); break;
    case 2: unpack(twoBits, packed, width, indices); break;
    case 4: unpack(fourBits, packed, width, indices); break;
    default: std::memcpy(indices, packed, size_t(width)); break;
  }
  if (!invert) return;
  const uint8_t mask = uint8_t((1 << bitsPerIndex) - 1);
  for (int x = 0; x < width; ++x) indices[x] = uint8_t(mask - indices[x]);
}
