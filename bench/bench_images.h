// The picture the picture benchmark measures on, and the files made from it.
#ifndef BENCH_BENCH_IMAGES_H
#define BENCH_BENCH_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A photograph-like square picture (fractal plasma with a little grain), held
// both ways: planes as the picture library takes them (row 0 at the bottom)
// and interleaved RGB as the other decoders give it (top row first). The
// 8-bit form (3-3-2 colour cube) feeds GIF and the RLE8 BMP.
struct SourcePicture {
  int side = 0;
  Bytes red, green, blue;  // planes, row 0 = bottom
  Bytes pixels;            // interleaved RGB, row 0 = top
  Bytes indices;           // index plane, row 0 = bottom
  Bytes topDownIndices;    // the same indices, row 0 = top
  std::vector<int32_t> map;
  size_t pixelCount() const { return size_t(side) * size_t(side); }
};

SourcePicture makePlasmaPicture(int side, unsigned seed);

// Peers: other decoders and encoders a caller would pick for a format.
enum Peer : unsigned {
  PEER_STB = 1u << 0,
  PEER_LIBJPEG_LINE = 1u << 1,  // one line per jpeg_read_scanlines call
  PEER_LIBJPEG_16 = 1u << 2,    // 16 lines per call
  PEER_LIBTIFF = 1u << 3,
  PEER_GIFLIB = 1u << 4,
  PEER_LIBPNG = 1u << 5,
};

// The name of one peer bit in benchmark names and tables, as a decoder
// (stb_image, libjpeg-1line, ...) or as an encoder (stb_image_write, libjpeg).
const char* peerName(unsigned peer, bool encoder);

// One benchmark file, made by `makeFile`.
struct FileKind {
  const char* key;    // short name in benchmark names: "bmp24"
  const char* label;  // in the table: "BMP 24-bit"
  bool mapped;        // colour-mapped: picLoadMap applies
  bool exact;         // decodes to the source picture exactly
  bool uncompressed;  // bytes of the picture as they are: judged against memcpy
  bool extraDriver;   // read by a driver of picRegisterExtraDrivers
  unsigned peers;     // Peer bits of the decoders that read it
};

extern const FileKind fileKinds[];
extern const int fileKindCount;

// One timed save: the library's format code (for an extra driver, its offset
// from the PNM driver's index, ORed with the compression) and its peers.
struct SaveKind {
  const char* key;
  const char* label;
  int format;
  bool mapped;
  bool extraDriver;
  unsigned peers;
};

extern const SaveKind saveKinds[];
extern const int saveKindCount;

// The file of that kind made from the picture: through the library's writer
// (PNM and PNG only when `extraDrivers` is the PNM driver's index, else by
// hand or libpng), JPEG by libjpeg at quality 90. Empty when writing failed.
Bytes makeFile(const FileKind& kind, const SourcePicture& picture, int extraDrivers);

// A memory-file name for the picture library that reads or writes `bytes`.
std::string memoryName(Bytes& bytes);

#endif
