// Lines of contiguous samples in strips, top to bottom: a whole strip at a
// time (TIFFReadEncodedStrip: no copy of libtiff's own for uncompressed
// strips, no call per line) when every strip but the last holds rowsPerStrip
// lines and fits tiffMaxStripBuffer, else one TIFFReadScanline a line.
// Uncompressed strips are read where they lie (in a memory file, or in a disk
// file's read-ahead buffer), and LZW
// strips of current writers (without a predictor, or with horizontal
// differencing of 8-bit samples) are decoded here (tiff_lzw.cpp), faster than
// libtiff does. Samples wider than 8 bits always go through libtiff, which
// puts them in the machine's byte order.
#ifndef PICTURE_FORMATS_TIFF_STRIPS_H
#define PICTURE_FORMATS_TIFF_STRIPS_H

#include <tiffio.h>

#include <cstdint>

#include "picture/core/picture.h"

struct TiffStrips {
  bool checked;        // whether lines come from whole strips is decided
  bool bufferMissing;  // whole strips were chosen but their buffer could not be had
  uint8_t* buffer;     // reading by strips: the decoded strip, else null
  uint32_t rowsPerStrip;
  int64_t heldStrip;    // the strip in data, -1 for none
  const uint8_t* data;  // its lines: buffer, or the memory file's bytes
  bool inPlace;         // uncompressed strips are read where they lie when they can be
  uint32_t heldLines;   // whole lines of it decoded
  bool ownLzw;          // strips are LZW this driver decodes itself
  int predictorSamples; // horizontal differencing across this many bytes, 0 for none
  uint8_t* rawStrip;    // the raw bytes of an LZW strip
  int64_t rawCapacity;
};

// The stored line of file row `row` (0 is the top), `lineSize` bytes, from
// whole strips or through `lineBuffer`; null at a read error, with the reason.
const uint8_t* tiffStripLine(TIFF* tiff, picBinFile* stream, uint32_t row, uint32_t height, uint8_t* lineBuffer,
                             int lineSize, TiffStrips* strips);

void tiffReleaseStrips(TiffStrips* strips);

#endif
