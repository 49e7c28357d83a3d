// A picture held whole in memory, as the save targets need it: loaded through
// the library (planes, and indices with the map when it is colour-mapped) and
// saved through one writer the way an application would.
#ifndef FUZZ_FUZZ_PICTURE_H
#define FUZZ_FUZZ_PICTURE_H

#include <cstdint>
#include <vector>

#include "picture/core/picture.h"

struct FuzzPicture {
  int width = 0, height = 0, colourMode = 0, colours = 0;
  std::vector<uint8_t> red, green, blue, indices;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
};

// Describes and loads `name`; false for pictures that do not load or have more
// than `maxPixels`. Aborts when the planes and the map load disagree.
bool fuzzLoadPicture(const char* name, int64_t maxPixels, FuzzPicture* picture);

// Saves a colour-mapped picture as a map, or as planes when the writer takes
// only those; returns the save's status.
int fuzzSavePicture(const FuzzPicture& picture, int format, const char* name);

#endif
