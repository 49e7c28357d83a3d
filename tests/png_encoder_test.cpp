// PNG encoder: our files read by libpng itself, without a warning, chunk by
// chunk valid; the filter libpng's default writer chooses for each row; the
// SSE2 filters against the plain loops; the zlib stream past the whole-image
// limit; failed writes.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/picture.h"
#include "picture/formats/png_encoder.h"
#include "picture/formats/png_filter.h"
#include "support/format_peers.h"
#include "support/libpng_peer.h"
#include "support/synthetic_photo.h"

namespace {

int pngFormat() { return extraDriversIndex() + PIC_EXTRA_PNG; }

// A file's chunk types in order (a damaged CRC or a cut chunk ends the list
// with "bad"), and its image data joined.
struct Chunks {
  std::vector<std::string> types;
  std::vector<uint8_t> imageData;
};

Chunks chunksOf(const std::vector<uint8_t>& bytes) {
  Chunks chunks;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const size_t length = picGetBE32(&bytes[at]);
    if (bytes.size() - at - 12 < length ||
        crc32(0, &bytes[at + 4], uInt(length + 4)) != picGetBE32(&bytes[at + 8 + length])) {
      chunks.types.push_back("bad");
      break;
    }
    chunks.types.emplace_back(bytes.begin() + long(at) + 4, bytes.begin() + long(at) + 8);
    if (chunks.types.back() == "IDAT")
      chunks.imageData.insert(chunks.imageData.end(), &bytes[at + 8], &bytes[at + 8] + length);
    at += length + 12;
  }
  return chunks;
}

// The filter byte of each row, from the inflated image data; empty when it does not inflate to its size.
std::vector<uint8_t> filterTypesOf(const std::vector<uint8_t>& bytes, int rowBytes, int height) {
  const std::vector<uint8_t> data = chunksOf(bytes).imageData;
  std::vector<uint8_t> rows(size_t(rowBytes + 1) * size_t(height) + 1);
  uLongf size = uLongf(rows.size());
  if (uncompress(rows.data(), &size, data.data(), uLong(data.size())) != Z_OK || size != rows.size() - 1) return {};
  std::vector<uint8_t> types;
  for (int y = 0; y < height; ++y) types.push_back(rows[size_t(y) * size_t(rowBytes + 1)]);
  return types;
}

// RGB pixels from the top row, as libpng's simplified reader gives them;
// false for an error or a warning.
bool libpngDecode(const std::vector<uint8_t>& bytes, std::vector<uint8_t>* pixels) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_RGB;
  pixels->resize(PNG_IMAGE_SIZE(image));
  const bool read = png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr) != 0;
  png_image_free(&image);
  return read && (image.warning_or_error & PNG_IMAGE_WARNING) == 0;
}

std::vector<uint8_t> topDownPixels(const RgbImage& image) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (const int shift : {16, 8, 0}) pixels.push_back(uint8_t(image.at(x, y) >> shift));
  return pixels;
}

// The encoder's sink into a vector.
bool appendBytes(void* bytes, const uint8_t* data, size_t length) {
  static_cast<std::vector<uint8_t>*>(bytes)->insert(static_cast<std::vector<uint8_t>*>(bytes)->end(), data,
                                                     data + length);
  return true;
}

// libpng's default writer (level 6, adaptive filters) on RGB rows from the top.
bool libpngEncode(const uint8_t* pixels, int width, int height, std::vector<uint8_t>* out) {
  std::vector<png_bytep> rows;
  for (int y = 0; y < height; ++y) rows.push_back(const_cast<png_bytep>(pixels + size_t(y) * size_t(width) * 3));
  const PngLayout layout = {width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_ALL_FILTERS};
  return libpngWrite(layout, rows.data(), nullptr, 0, out);
}

TEST(PngEncoder, FilesReadBackThroughLibpngWithoutWarnings) {
  struct Case {
    int width, height;
    bool mapped;
    int compression;
  };
  const Case cases[] = {
      {1, 1, false, PIC_COMP_RLE},   {1, 9, false, PIC_COMP_NONE}, {37, 13, false, PIC_COMP_RLE},
      {37, 13, false, PIC_COMP_NONE}, {301, 40, false, PIC_COMP_RLE}, {1, 5, true, PIC_COMP_RLE},
      {33, 9, true, PIC_COMP_NONE},  {255, 17, true, PIC_COMP_RLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.mapped ? " map" : " rgb") +
                 (c.compression == PIC_COMP_NONE ? " stored" : ""));
    const MappedImage mapped = makeTestMapped(c.width, c.height, 200);
    const RgbImage rgb = c.mapped ? mappedToRgb(mapped) : makeTestImage(c.width, c.height);
    std::vector<uint8_t> bytes, decoded;
    ASSERT_EQ(PIC_OK, c.mapped ? memorySaveMap(mapped, pngFormat() | c.compression, &bytes)
                               : memorySaveRGB(rgb, pngFormat() | c.compression, &bytes));
    const std::vector<std::string> types = c.mapped ? std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}
                                                    : std::vector<std::string>{"IHDR", "IDAT", "IEND"};
    EXPECT_EQ(types, chunksOf(bytes).types);
    ASSERT_TRUE(libpngDecode(bytes, &decoded));
    EXPECT_EQ(topDownPixels(rgb), decoded);
    // Palette rows and stored files go unfiltered.
    const std::vector<uint8_t> filters = filterTypesOf(bytes, c.width * (c.mapped ? 1 : 3), c.height);
    ASSERT_EQ(size_t(c.height), filters.size());
    if (c.mapped || c.compression == PIC_COMP_NONE) {
      EXPECT_EQ(std::vector<uint8_t>(filters.size(), 0), filters);
    }
  }
}

TEST(PngEncoder, ChoosesTheFiltersLibpngChoosesAndIsNoLarger) {
  RgbImage flat(40, 6), ramp(50, 30);
  for (int y = 0; y < ramp.height; ++y)
    for (int x = 0; x < ramp.width; ++x) ramp.set(x, y, uint8_t(x * 5), uint8_t(y * 8), uint8_t(x * y));
  const std::pair<const char*, RgbImage> pictures[] = {
      {"test image", makeTestImage(61, 40)}, {"one column", makeTestImage(1, 20)},
      {"one row", makeTestImage(50, 1)},     {"flat: ties", flat},
      {"ramps", ramp},                       {"photo-like", makePhotoLikeImage(640, 480)},
  };
  for (const auto& picture : pictures) {
    SCOPED_TRACE(picture.first);
    const RgbImage& image = picture.second;
    std::vector<uint8_t> ours, theirs;
    ASSERT_EQ(PIC_OK, memorySaveRGB(image, pngFormat() | PIC_COMP_RLE, &ours));
    ASSERT_TRUE(libpngEncode(topDownPixels(image).data(), image.width, image.height, &theirs));
    const std::vector<uint8_t> filters = filterTypesOf(ours, image.width * 3, image.height);
    EXPECT_EQ(size_t(image.height), filters.size());
    EXPECT_EQ(filterTypesOf(theirs, image.width * 3, image.height), filters);
    if (image.width * image.height > 100000) {
      EXPECT_LE(ours.size(), theirs.size());
    }
  }
}

TEST(PngEncoder, FastFiltersAgreeWithThePlainLoops) {
  uint32_t seed = 12345;
  const auto nextByte = [&seed] {
    seed = seed * 1103515245u + 12345u;
    const uint8_t byte = uint8_t(seed >> 16);
    return byte % 7 == 0 ? uint8_t(byte & 1 ? 255 : 128) : byte;  // extremes often
  };
  for (const int pixelBytes : {1, 3})
    for (int width = 1; width <= 300; ++width) {
      // Rows of exactly their length, so that a sanitizer sees one byte more read or written.
      const size_t length = size_t(width) * size_t(pixelBytes);
      std::vector<uint8_t> row(length), above(length);
      for (size_t i = 0; i < length; ++i) row[i] = nextByte(), above[i] = nextByte();
      uint64_t fastSums[pngFilterTypes], plainSums[pngFilterTypes];
      pngFilterSums(row.data(), above.data(), length, pixelBytes, fastSums);
      pngFilterSumsPlain(row.data(), above.data(), length, pixelBytes, plainSums);
      for (int type = 0; type < pngFilterTypes; ++type) {
        ASSERT_EQ(plainSums[type], fastSums[type]) << pixelBytes << " bytes, width " << width << ", type " << type;
        std::vector<uint8_t> fast(length), plain(length);
        pngApplyFilter(type, row.data(), above.data(), length, pixelBytes, fast.data());
        pngApplyFilterPlain(type, row.data(), above.data(), length, pixelBytes, plain.data());
        ASSERT_EQ(plain, fast) << pixelBytes << " bytes, width " << width << ", type " << type;
      }
    }
}

// An RGB file through the encoder itself, with the given whole-image limit.
std::vector<uint8_t> encode(const RgbImage& image, int level, size_t wholeImageLimit) {
  const PngEncoderSettings settings = {image.width, image.height, false, level, false, 0, 0, wholeImageLimit};
  std::vector<uint8_t> bytes, pixels = topDownPixels(image);
  PngEncoder* encoder = PngEncoder::create(settings, appendBytes, &bytes);
  bool written = encoder && encoder->start(nullptr, 0);
  for (int y = 0; written && y < image.height; ++y) written = encoder->addRow(&pixels[size_t(y) * image.width * 3]);
  written = written && encoder->complete();
  delete encoder;
  return written ? bytes : std::vector<uint8_t>();
}

TEST(PngEncoder, StreamsThroughZlibPastTheWholeImageLimit) {
  // 1.26 MB of filtered rows: two bands of zlib's input.
  const RgbImage image = makePhotoLikeImage(700, 600, 3);
  for (const int level : {pngDefaultLevel, pngStoredLevel}) {
    SCOPED_TRACE(level);
    const std::vector<uint8_t> whole = encode(image, level, pngWholeImageLimit), streamed = encode(image, level, 0);
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(libpngDecode(streamed, &decoded));
    EXPECT_EQ(topDownPixels(image), decoded);
    EXPECT_EQ(filterTypesOf(whole, 2100, 600), filterTypesOf(streamed, 2100, 600));
    // Stored, the data takes two IDAT chunks of at most 1 MB.
    const std::vector<std::string> types = chunksOf(streamed).types;
    EXPECT_EQ(level == pngStoredLevel ? 4u : 3u, types.size());
    EXPECT_EQ(types, chunksOf(whole).types);
  }
}

TEST(PngEncoder, FailedWritesEndInAWriteError) {
  const RgbImage rgb = makeTestImage(30, 20);
  const MappedImage mapped = makeTestMapped(30, 20, 16);
  for (const bool isMapped : {false, true})
    for (const int compression : {PIC_COMP_RLE, PIC_COMP_NONE}) {
      SCOPED_TRACE(std::string(isMapped ? "map" : "rgb") + (compression == PIC_COMP_NONE ? " stored" : ""));
      const int format = pngFormat() | compression;
      const auto save = [&](const char* name) {
        return isMapped ? picSaveMap(30, 20, format, mapped.indices.data(), 16, mapped.map.data(), name)
                        : picSaveRGB(30, 20, format, rgb.red.data(), rgb.green.data(), rgb.blue.data(), name);
      };
      EXPECT_EQ(PIC_ERR_WRITE, save("/dev/full"));
      std::vector<uint8_t> bytes;
      ASSERT_EQ(PIC_OK, isMapped ? memorySaveMap(mapped, format, &bytes) : memorySaveRGB(rgb, format, &bytes));
      std::vector<uint8_t> buffer(bytes.size() - 1);
      char name[64];
      picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
      picUseMemoryFiles();
      EXPECT_EQ(PIC_ERR_WRITE, save(name));
      picUseDiskFiles();
    }
}

}  // namespace
