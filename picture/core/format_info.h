// What the library knows of a format beside its driver: its name and file
// extensions, what its writers keep and the compressions they make, and a
// minimal header for tests. Each driver's file declares one after its driver
// record; format_list.cpp lists them, one line a format, and tools, tests and
// benchmarks iterate that list. Internal to the picture library.
#ifndef PICTURE_CORE_FORMAT_INFO_H
#define PICTURE_CORE_FORMAT_INFO_H

#include <cstdint>
#include <vector>

#include "picture/core/picture.h"

// What a format's colour-map writer makes of a map.
enum class picMapWriter {
  keeps,          // the map and the indices, as they are
  greyLevels,     // the grey level of each pixel's entry: a map that is not grey loses its colours
  indicesAsGrey,  // the indices themselves as grey levels: only a grey ramp survives
  none,           // the format has no colour-map writer
};

// A compression a format's writer really makes.
struct picWrittenCompression {
  const char* name;     // none, rle or lzw; null ends a list
  int code;             // PIC_COMP_*
  const char* meaning;  // what the file holds, for help texts
  bool mapsOnly;        // true colour is never written so
};

struct picFormatInfo {
  const char* name;          // "bmp": as tools print and take it
  const char* extensions;    // ".bmp": space-separated, the usual one first
  picDriver* (*driver)(void);
  bool builtIn;              // in the table from the start, else registered by picRegisterExtraDrivers
  bool writesRgb;            // false: colour maps only
  picMapWriter mapWriter;
  picWrittenCompression compressions[4];  // the first is the format's usual one
  // A minimal valid file whose header claims width x height, its data cut
  // short after a few bytes: for tests of the size checks.
  std::vector<uint8_t> (*minimalHeader)(int width, int height);
};

// Each driver's descriptor, declared beside its driver record.
extern const picFormatInfo picBmpFormat, picPcxFormat, picGifFormat, picTiffFormat, picSunFormat, picSgiFormat,
    picJpegFormat, picZotFormat, picTargaFormat, picPnmFormat, picPngFormat;

// The formats, built in first in their table order, then the extra ones in the
// order picRegisterExtraDrivers registers them. *count receives their number.
const picFormatInfo* const* picFormatList(int* count);
// The table index of a format's driver (-1 for an extra format not registered).
int picFormatDriverIndex(const picFormatInfo& format);

#endif
