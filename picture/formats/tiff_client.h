// libtiff on the picture library's file layer: the client procedures that
// read, write, seek and map a picBinFile (so the memory file table works, and
// a memory file is handed to libtiff whole, as it maps a disk file), its
// messages silenced for this file only, and no single block above 1 GB.
#ifndef PICTURE_FORMATS_TIFF_CLIENT_H
#define PICTURE_FORMATS_TIFF_CLIENT_H

#include <tiffio.h>

#include "picture/core/picture.h"

// libtiff's client handle.
struct TiffStream {
  picBinFile* stream;  // closed by libtiff once it owns it
  int closeStatus;     // what the stream's close answered: TIFFClose keeps it to itself
};

// Opens libtiff on an open stream; on failure (null) the stream stays the caller's.
TIFF* tiffClientOpen(const char* fileName, const char* mode, TiffStream* handle);

// The four first bytes of classic TIFF and BigTIFF, in both byte orders.
extern const uint8_t tiffMagics[4][4];

// Whether the stream starts with a TIFF header; leaves it at the start.
bool tiffHasMagic(picBinFile* stream);

// Whether a TIFF header's first directory (and its entry count) lies past the
// end of the data: the file was cut, or is still arriving. Leaves the stream
// at the start.
bool tiffFirstDirectoryPastEnd(picBinFile* stream);

#endif
