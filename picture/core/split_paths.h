// The vectorised splits of pixels into planes, and packs of planes into
// pixels, that picSplitPixels and picPackPixels choose between
// (split_planes.cpp, split_planes_vbmi.cpp).
#ifndef PICTURE_CORE_SPLIT_PATHS_H
#define PICTURE_CORE_SPLIT_PATHS_H

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PIC_SPLIT_VBMI 1
#endif

// Whether the processor (and the system) run AVX-512 VBMI byte permutes.
bool picHasVbmi();

// SSSE3 shuffles where the processor has them, else the plain loop.
void picSplitPixelsSsse3(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                         uint8_t* third);
// Only where picHasVbmi(); the pixels short of a 64-pixel step by picSplitPixelsSsse3.
void picSplitPixelsVbmi(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                        uint8_t* third);

// The packs: AVX2 or SSSE3 shuffles where the processor has them, else the
// plain loop; VBMI only where picHasVbmi(), the pixels short of a 64-pixel step
// by the shuffles.
void picPackPixelsShuffled(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                           uint8_t* pixels);
void picPackPixelsVbmi(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                       uint8_t* pixels);

#endif
