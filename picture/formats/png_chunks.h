// PNG's chunk layer, for the reader: the header, the chunks before the image
// data (the palette, the resolution), the image data gathered from its IDAT
// chunks, and the chunks after it up to IEND, with the checks that refuse a
// file: chunk order, lengths, names, and the CRC of every critical chunk.
// Ancillary chunks other than pHYs are skipped unread, whatever they claim.
#ifndef PICTURE_FORMATS_PNG_CHUNKS_H
#define PICTURE_FORMATS_PNG_CHUNKS_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "picture/core/driver_support.h"
#include "picture/formats/png_buffers.h"

enum PngColourType { pngGrey = 0, pngRgb = 2, pngPalette = 3, pngGreyAlpha = 4, pngRgbAlpha = 6 };

const int pngHeaderBytes = 33;  // signature, IHDR length and type, 13 data bytes, CRC

// What the IHDR chunk says.
struct PngHeader {
  uint32_t width, height;
  int depth, colourType, compression, filterMethod, interlace;
};

// PIC_ERR_FORMAT unless the bytes start with the signature, PIC_ERR_READ when
// they end before the IHDR chunk does, PIC_ERR_DATA for a colour type, bit
// depth or interlace method the format does not have. The CRC and the
// compression and filter methods are checked by pngCheckHeaderChunk.
int pngDecodeHeader(const uint8_t* bytes, int length, PngHeader* header);
// PIC_ERR_READ for a damaged IHDR CRC or an unknown compression or filter method.
int pngCheckHeaderChunk(const uint8_t* bytes, const PngHeader& header);

int pngSamplesPerPixel(int colourType);
// Bytes of a row of `width` pixels, without its filter byte.
uint64_t pngRowBytes(const PngHeader& header, uint64_t width);

// What the chunks before the image data hold.
struct PngChunksBefore {
  uint8_t palette[256 * 3];
  int paletteEntries;  // at most 2^depth for a palette image; 0 without PLTE
  bool sawPalette;     // a PLTE, kept or not (a grey image's is ignored)
  bool hasResolution;
  uint32_t xPerUnit, yPerUnit;
  int unit;                   // pHYs's: 1 for the metre
  uint32_t firstDataLength;   // of the first IDAT, whose header is consumed
};

// Reads the chunks after IHDR up to the first IDAT's header: PIC_OK, or
// PIC_ERR_READ for a file cut or damaged there (reason recorded).
int pngReadChunksBefore(picInputWindow& input, const PngHeader& header, PngChunksBefore* chunks);

// The image data: the deflate stream of the consecutive IDAT chunks, in the
// file when a memory file has one IDAT, else gathered into one buffer that
// grows with the bytes found (so bounded by the file's size).
struct PngImageData {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  PngBuffer gathered;
  // The first damage found, in the IDAT chunks (the data then ends with the
  // damaged one) or in the chunks after them up to IEND, or null: it ends a
  // load after the rows the data holds.
  const char* damage = nullptr;
};

// Reads the image data, starting inside the first IDAT (its header consumed),
// then the chunks up to IEND; `bytesLeft`, the file's bytes past the
// position (0 when unknown), sizes the first buffer. False only when memory
// runs out.
bool pngReadImageData(picInputWindow& input, bool inPlace, uint64_t bytesLeft, const PngChunksBefore& before,
                      PngImageData* data);

#endif
