// Samples of more than 8 bits (or of any largest value) brought to 8-bit
// levels with rounding: (value * 255 + largest / 2) / largest. For 16-bit
// samples this is libpng's png_set_scale_16 (the PNG driver) and the PNM
// driver's scale table, so every driver rounds wide samples alike.
// Internal to the picture library.
#ifndef PICTURE_CORE_SAMPLE_SCALE_H
#define PICTURE_CORE_SAMPLE_SCALE_H

#include <cstdint>

// `largest` is at least 1 and at most 65535; `value` at most `largest`.
inline uint8_t picScaleSample(uint32_t value, uint32_t largest) {
  return uint8_t((value * 255 + largest / 2) / largest);
}

#endif
