// Stored TIFF samples into 8-bit planes (tiff_samples.h): a copy or a stride
// for 8-bit samples, a split of 3- and 4-byte pixels (picSplitPixels), the
// rounding scale for wider ones, and a bit-field read for any other depth.
#include "picture/formats/tiff_samples.h"

#include <algorithm>
#include <cstring>

#include "picture/core/driver_support.h"
#include "picture/core/sample_scale.h"

namespace {

// Sample `sample` of pixel x as stored. A sample spans at most three bytes;
// only the bytes it covers are read.
uint32_t sampleValue(const uint8_t* line, int bits, int samplesPerPixel, int sample, int x) {
  const uint64_t index = uint64_t(x) * samplesPerPixel + sample;
  if (bits == 8) return line[index];
  if (bits == 16) {
    uint16_t value;
    std::memcpy(&value, line + index * 2, 2);
    return value;
  }
  const uint64_t firstBit = index * bits, firstByte = firstBit / 8, lastByte = (firstBit + bits - 1) / 8;
  uint32_t window = 0;
  for (uint64_t i = firstByte; i <= lastByte; ++i) window = window << 8 | line[i];
  return window >> ((lastByte + 1) * 8 - firstBit - bits) & ((1u << bits) - 1);
}

// Levels of a colour sample stored premultiplied by the alpha sample.
void unpremultipliedLevels(const uint8_t* colourLine, int colourSample, const uint8_t* alphaLine, int alphaSample,
                           int bits, int samplesPerPixel, int width, uint8_t* levels) {
  const uint32_t largest = (1u << bits) - 1;
  for (int x = 0; x < width; ++x) {
    uint32_t colour = sampleValue(colourLine, bits, samplesPerPixel, colourSample, x);
    const uint32_t alpha = sampleValue(alphaLine, bits, samplesPerPixel, alphaSample, x);
    if (alpha != 0) colour = std::min(largest, (colour * largest + alpha / 2) / alpha);
    levels[x] = picScaleSample(colour, largest);
  }
}

}  // namespace

void tiffSampleLevels(const uint8_t* line, int bits, int samplesPerPixel, int sample, int width,
                      uint8_t* levels) {
  if (bits == 8 && samplesPerPixel == 1) {
    std::memcpy(levels, line, size_t(width));
  } else if (bits == 8) {
    for (int x = 0; x < width; ++x) levels[x] = line[size_t(x) * samplesPerPixel + sample];
  } else if (bits == 16) {
    for (int x = 0; x < width; ++x) levels[x] = picScaleSample(sampleValue(line, 16, samplesPerPixel, sample, x), 65535);
  } else {
    const uint32_t largest = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) levels[x] = picScaleSample(sampleValue(line, bits, samplesPerPixel, sample, x), largest);
  }
}

void tiffTrueColourLine(const uint8_t* const* lines, const TiffSampleLayout& layout, int width, uint8_t* red,
                        uint8_t* green, uint8_t* blue) {
  const bool separate = layout.separatePlanes;
  const int samples = separate ? 1 : layout.samplesPerPixel;
  uint8_t* const planes[3] = {red, green, blue};
  if (!separate && !layout.grey && layout.alphaSample < 0 && layout.bits == 8 && (samples == 3 || samples == 4)) {
    picSplitPixels(lines[0], samples, width, red, green, blue);
    return;
  }
  // Sample s lies in lines[s] with separate planes, else in lines[0].
  for (int channel = 0; channel < (layout.grey ? 1 : 3); ++channel) {
    const uint8_t* line = lines[separate ? channel : 0];
    const int sample = separate ? 0 : channel;
    if (layout.alphaSample >= 0)
      unpremultipliedLevels(line, sample, lines[separate ? layout.alphaSample : 0],
                            separate ? 0 : layout.alphaSample, layout.bits, samples, width, planes[channel]);
    else
      tiffSampleLevels(line, layout.bits, samples, sample, width, planes[channel]);
  }
  if (layout.grey) {
    if (layout.minIsWhite)
      for (int x = 0; x < width; ++x) red[x] = uint8_t(255 - red[x]);
    std::memcpy(green, red, size_t(width));
    std::memcpy(blue, red, size_t(width));
  }
}
