// The decoders and encoders a caller would pick instead of the picture library,
// each called the plain way its documentation shows, from and to memory.
// Pixels are interleaved RGB, top row first, as these libraries keep them.
// Every function answers false when the library reported a failure.
#ifndef BENCH_BENCH_PEERS_H
#define BENCH_BENCH_PEERS_H

#include <cstdint>
#include <string>

#include "bench_images.h"

// Where a peer reads a file: from `path` through its file reader when the
// path is not empty, else from `bytes` through its memory reader.
struct PeerInput {
  const Bytes& bytes;
  const std::string& path;
};

// stb_image: the library allocates the result; the caller frees it. When
// `copy` is not null the pixels are kept there (for checking).
bool stbLoad(const PeerInput& file, Bytes* copy);
// libjpeg(-turbo): `linesPerCall` rows per jpeg_read_scanlines into `pixels`.
bool libjpegLoad(const PeerInput& file, int linesPerCall, uint8_t* pixels);
// libtiff (TIFFOpen, or a memory client), one TIFFReadEncodedStrip per strip.
bool libtiffLoad(const PeerInput& file, uint8_t* pixels);
// giflib's DGifSlurp; `pixels` (when not null) receives the first image's
// indices through its colour map.
bool giflibLoad(const PeerInput& file, Bytes* pixels);
// libpng, png_read_image into `pixels` as RGB (palettes expanded, Adam7 combined).
bool libpngLoad(const PeerInput& file, uint8_t* pixels);

// Encoders; `out` is cleared first and its capacity reused.
bool stbSaveBmp(const uint8_t* pixels, int width, int height, Bytes* out);
bool stbSaveTga(const uint8_t* pixels, int width, int height, bool runLength, Bytes* out);
bool stbSaveJpeg(const uint8_t* pixels, int width, int height, int quality, Bytes* out);
bool libjpegSave(const uint8_t* pixels, int width, int height, int quality, Bytes* out);
// `compression`: PIC_COMP_NONE, PIC_COMP_LZW or PIC_COMP_RLE (PackBits).
bool libtiffSave(const uint8_t* pixels, int width, int height, int compression, Bytes* out);
bool giflibSave(const uint8_t* indices, int width, int height, const int32_t* map, Bytes* out);
// RGB at deflate level `level` (6 is the picture library's).
bool libpngSave(const uint8_t* pixels, int width, int height, int level, Bytes* out);

#endif
