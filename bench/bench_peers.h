// The decoders and encoders a caller would pick instead of the picture library,
// each called the plain way its documentation shows, from and to memory.
// Pixels are interleaved RGB, top row first, as these libraries keep them.
// Every function answers false when the library reported a failure.
#ifndef BENCH_BENCH_PEERS_H
#define BENCH_BENCH_PEERS_H

#include <cstdint>

#include "bench_images.h"

// stb_image: the library allocates the result; the caller frees it. When
// `copy` is not null the pixels are kept there (for checking).
bool stbLoad(const Bytes& file, Bytes* copy);
// libjpeg(-turbo): `linesPerCall` rows per jpeg_read_scanlines into `pixels`.
bool libjpegLoad(const Bytes& file, int linesPerCall, uint8_t* pixels);
// libtiff through a memory client, one TIFFReadEncodedStrip per strip.
bool libtiffLoad(const Bytes& file, uint8_t* pixels);
// giflib's DGifSlurp; `indices` (when not null) receives the first image's.
bool giflibLoad(const Bytes& file, Bytes* indices);
// libpng, png_read_image into `pixels`.
bool libpngLoad(const Bytes& file, uint8_t* pixels);

// Encoders; `out` is cleared first and its capacity reused.
bool stbSaveBmp(const uint8_t* pixels, int width, int height, Bytes* out);
bool stbSaveTga(const uint8_t* pixels, int width, int height, bool runLength, Bytes* out);
bool stbSaveJpeg(const uint8_t* pixels, int width, int height, int quality, Bytes* out);
bool libjpegSave(const uint8_t* pixels, int width, int height, int quality, Bytes* out);
bool libtiffSave(const uint8_t* pixels, int width, int height, bool lzw, Bytes* out);
bool giflibSave(const uint8_t* indices, int width, int height, const int32_t* map, Bytes* out);
// Deflate level 6, the picture library's PNG level.
bool libpngSave(const uint8_t* pixels, int width, int height, Bytes* out);

#endif
