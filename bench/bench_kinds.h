// What the picture benchmark loads and saves: one file kind per format and
// compression of the library's format list, the variants the list cannot know
// (JPEG samplings, run-length files the library does not write, files of
// other writers) and the peers that read or write each.
#ifndef BENCH_BENCH_KINDS_H
#define BENCH_BENCH_KINDS_H

#include <functional>
#include <string>
#include <vector>

#include "bench_images.h"

// Peers: other decoders and encoders a caller would pick for a format.
enum Peer : unsigned {
  PEER_STB = 1u << 0,
  PEER_LIBJPEG_LINE = 1u << 1,  // one line per jpeg_read_scanlines call
  PEER_LIBJPEG_16 = 1u << 2,    // 16 lines per call
  PEER_LIBTIFF = 1u << 3,
  PEER_GIFLIB = 1u << 4,
  PEER_LIBPNG = 1u << 5,
  PEER_LAST = PEER_LIBPNG,
};

// The name of one peer bit in benchmark names and tables, as a decoder
// (stb_image, libjpeg-1line, ...) or as an encoder (stb_image_write, libjpeg).
const char* peerName(unsigned peer, bool encoder);

// How a file kind's bytes are made from the picture.
using FileMaker = std::function<Bytes(const SourcePicture&)>;

struct FileKind {
  std::string key;     // in benchmark names: "bmp-none", "im-tga-rle"
  std::string label;   // in the tables: "BMP none", "TGA rle"
  std::string writer;  // who wrote it: "solsys", "ImageMagick", "libpng", "libjpeg", "bench"
  bool mapped = false;        // colour-mapped: picLoadMap applies, the map's colours are expected
  bool exact = true;          // decodes to the picture exactly (JPEG does not)
  bool uncompressed = false;  // the picture's bytes as they are: judged against memcpy
  bool runLength = false;     // run-length coded: judged against 400 MP/s when no peer reads it
  unsigned peers = 0;         // Peer bits of the decoders that read it
  double peerTarget = 1.0;    // the rate over the fastest peer's aimed at
  FileMaker make;
};

// One timed save through picSaveRGB (picSaveMap when mapped), to memory.
struct SaveKind {
  std::string key, label;
  int format = 0;  // the library's format code, driver index ORed with the compression
  bool mapped = false;
  int compressionLevel = 6;  // for the PNG peer: deflate level of the same kind of file
  unsigned peers = 0;
};

// Built from the format list (after picRegisterExtraDrivers). Outside files
// are read from `outsideFolder`, where bench_outside wrote them.
std::vector<FileKind> loadKinds(const std::string& outsideFolder);
std::vector<SaveKind> saveKinds();

#endif
