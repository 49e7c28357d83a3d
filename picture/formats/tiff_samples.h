// Stored TIFF samples made into the picture's lines, on memory only. Samples
// are 1 to 16 bits, packed most significant bit first (16-bit ones in the
// machine's byte order, as libtiff delivers them), and brought to 8 bits by
// picScaleSample. Grey takes the first sample of a pixel, RGB the first three;
// alpha and other extra samples are dropped, not composited. Colour stored
// premultiplied by an associated alpha is divided by it again, back to the
// colour itself (a pixel of alpha 0 keeps what is stored).
#ifndef PICTURE_FORMATS_TIFF_SAMPLES_H
#define PICTURE_FORMATS_TIFF_SAMPLES_H

#include <cstdint>

struct TiffSampleLayout {
  int bits;             // 1 to 16
  int samplesPerPixel;  // in one stored line: a pixel's all, or 1 with separate planes
  bool grey;            // one colour sample; else red, green and blue
  bool minIsWhite;      // grey: 0 is white
  bool separatePlanes;  // each sample in a line of its own
  int alphaSample;      // the associated alpha's sample, -1 for none
};

// The 8-bit levels of sample `sample` of `width` pixels.
void tiffSampleLevels(const uint8_t* line, int bits, int samplesPerPixel, int sample, int width,
                      uint8_t* levels);

// `width` pixels into red, green and blue (grey into all three). lines[0]
// holds every sample of a pixel; with separate planes, lines[s] holds sample s
// (up to the colours, or the associated alpha when there is one).
void tiffTrueColourLine(const uint8_t* const* lines, const TiffSampleLayout& layout, int width, uint8_t* red,
                        uint8_t* green, uint8_t* blue);

#endif
