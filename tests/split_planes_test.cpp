// The shared split of interleaved pixels into planes, and the packing back:
// the vectorised routines give what the plain loops give, at every width,
// pixel size and alignment, and touch nothing past the width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "picture/core/driver_support.h"

namespace {

constexpr uint8_t guard = 0xA5;
constexpr int slack = 32;  // guard bytes after each plane's width

struct SplitPlanes {
  std::vector<uint8_t> bytes[3];
  explicit SplitPlanes(int width) {
    for (auto& plane : bytes) plane.assign(size_t(width + 2 * slack), guard);
  }
  uint8_t* at(int plane, int offset) { return bytes[plane].data() + offset; }
};

TEST(SplitPlanes, FastSplitsAgreeWithThePlainLoop) {
  for (picSplitPath path : {picSplitPath::ssse3, picSplitPath::vbmi})
  for (int pixelBytes : {3, 4})
    for (int width = 1; width <= 300; ++width)
      for (int offset = 0; offset < 16; ++offset) {  // every misalignment of source and planes
        // Exactly the bytes the split may read, so that a sanitizer sees one more.
        std::vector<uint8_t> pixels(size_t(width - 1) * size_t(pixelBytes) + 3 + size_t(offset));
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + i / 251);
        const uint8_t* source = pixels.data() + offset;
        SplitPlanes fast(width), plain(width);
        picSplitPixelsBy(path, source, pixelBytes, width, fast.at(0, offset), fast.at(1, offset),
                         fast.at(2, offset));
        picSplitPixelsPlain(source, pixelBytes, width, plain.at(0, offset), plain.at(1, offset),
                            plain.at(2, offset));
        for (int p = 0; p < 3; ++p) {
          ASSERT_EQ(fast.bytes[p], plain.bytes[p]) << "path " << int(path) << ", " << pixelBytes << " bytes, width " << width
                                                   << ", offset " << offset << ", plane " << p;
          for (int x = 0; x < width; x += 17)
            ASSERT_EQ(plain.at(p, offset)[x], source[size_t(x) * size_t(pixelBytes) + size_t(p)]);
          EXPECT_EQ(plain.at(p, offset)[width], guard);
        }
      }
}

TEST(SplitPlanes, FastPackAgreesWithThePlainLoopAndUndoesTheSplit) {
  for (picSplitPath path : {picSplitPath::ssse3, picSplitPath::avx2, picSplitPath::vbmi})
  for (int width = 1; width <= 300; ++width)
    for (int offset = 0; offset < 16; ++offset) {
      // Planes of exactly the width, so that a sanitizer sees one byte more read.
      std::vector<uint8_t> planes[3];
      for (int p = 0; p < 3; ++p)
        for (int x = 0; x < width + offset; ++x) planes[p].push_back(uint8_t(x * 7 + p * 85 + x / 251));
      const uint8_t* sources[3] = {planes[0].data() + offset, planes[1].data() + offset, planes[2].data() + offset};
      std::vector<uint8_t> fast(size_t(3 * width + slack), guard), plain = fast;
      picPackPixelsBy(path, sources[0], sources[1], sources[2], width, fast.data());
      picPackPixelsPlain(sources[0], sources[1], sources[2], width, plain.data());
      ASSERT_EQ(fast, plain) << "path " << int(path) << ", width " << width << ", offset " << offset;
      EXPECT_EQ(plain[size_t(3 * width)], guard);
      SplitPlanes back(width);
      picSplitPixelsPlain(plain.data(), 3, width, back.at(0, 0), back.at(1, 0), back.at(2, 0));
      for (int p = 0; p < 3; ++p)
        ASSERT_TRUE(std::equal(sources[p], sources[p] + width, back.at(p, 0))) << "width " << width;
    }
}

TEST(UnpackIndices, TablesAgreeWithThePlainLoopAtEveryWidth) {
  // The plain loop itself, on two bytes: 1011 0010 and 0111 1110.
  const uint8_t known[] = {0xb2, 0x7e};
  const struct {
    int bits;
    bool invert;
    std::vector<uint8_t> indices;
  } cases[] = {{1, false, {1, 0, 1, 1, 0, 0, 1, 0, 0, 1}}, {1, true, {0, 1, 0, 0, 1, 1, 0, 1, 1, 0}},
               {2, false, {2, 3, 0, 2, 1}},                  {4, false, {11, 2, 7}},
               {4, true, {4, 13, 8}},                        {8, true, {0x4d, 0x81}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> plain(c.indices.size());
    picUnpackIndicesPlain(known, c.bits, int(plain.size()), c.invert, plain.data());
    EXPECT_EQ(plain, c.indices) << c.bits << " bits";
  }
  std::vector<uint8_t> packed(300);
  for (size_t i = 0; i < packed.size(); ++i) packed[i] = uint8_t(i * 37 + i / 7);
  for (int bits : {1, 2, 4, 8})
    for (bool invert : {false, true})
      for (int width = 1; width <= 300; ++width) {
        // Exactly the bytes the width needs, so that a sanitizer sees one byte more read.
        const std::vector<uint8_t> source(packed.begin(), packed.begin() + (width * bits + 7) / 8);
        std::vector<uint8_t> fast(size_t(width) + 1, guard), plain = fast;
        picUnpackIndices(source.data(), bits, width, invert, fast.data());
        picUnpackIndicesPlain(source.data(), bits, width, invert, plain.data());
        ASSERT_EQ(fast, plain) << bits << " bits, width " << width << (invert ? ", inverted" : "");
        EXPECT_EQ(fast[size_t(width)], guard);
      }
}

}  // namespace
