// Files of the picture that the library's writers do not make.
#ifndef BENCH_BENCH_ENCODERS_H
#define BENCH_BENCH_ENCODERS_H

#include "bench_images.h"

// SGI with run-length rows (one byte a sample), encoded here.
Bytes sgiRunLength(const SourcePicture& picture);
// Sun raster type 2 (byte-encoded runs), encoded here.
Bytes sunRunLength(const SourcePicture& picture);
// libjpeg at quality 90, 4:2:0 when `subsampled`, else 4:4:4.
Bytes jpegFile(const SourcePicture& picture, bool subsampled);
// The library's true-colour BMP with the 4-byte gap before its rows taken
// out (stb_image refuses the gap), rows at offset 54 as most writers lay them.
Bytes withoutBmpGap(Bytes file);
// libpng at deflate level 6: RGB, the 3-3-2 indices with their palette, or
// RGB interlaced (Adam7).
enum class PngLayout { rgb, palette, adam7 };
Bytes pngFile(const SourcePicture& picture, PngLayout layout);

#endif
