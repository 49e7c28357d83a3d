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

// The picture saved through the library's writer into memory (picSaveMap of
// the 3-3-2 indices when `mapped`); empty when the writer failed.
Bytes librarySave(const SourcePicture& picture, int format, bool mapped);

// The interleaved top-down pixels a file of the picture decodes to: the
// picture itself, or its 3-3-2 indices through the map.
Bytes expectedPixels(const SourcePicture& picture, bool mapped);

// Whole files on disk; false or empty on failure.
bool writeWholeFile(const std::string& path, const Bytes& bytes);
Bytes readWholeFile(const std::string& path);

// A memory-file name for the picture library that reads or writes `bytes`.
std::string memoryName(Bytes& bytes);

#endif
