// TIFF variants beyond 8-bit contiguous strips, each written here by libtiff
// from one known picture and read back through the library, from disk and
// from memory: depths, extra samples, separate planes, tiles, compressions;
// the layouts and bands it refuses; and saves, byte for byte what libtiff
// writes a scanline at a time with the same tags.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

struct Variant {
  const char* name;
  int bits, samples;
  uint16_t photometric;
  uint16_t extraKind;  // EXTRASAMPLE_* of the samples beyond the colours
  bool separate;
  uint32_t tile;       // tile side, 0 for strips
  uint16_t compression;
  const char* mode;    // TIFFOpen's: "wl" little-endian, "wb" big-endian
  uint32_t width = 37, height = 19;
  bool directoryOnly = false;  // one byte for the first tile: refused before any is read
};

int colourSamples(const Variant& v) { return v.photometric == PHOTOMETRIC_RGB || v.photometric == PHOTOMETRIC_YCBCR ? 3 : 1; }
bool associated(const Variant& v) { return v.samples > colourSamples(v) && v.extraKind == EXTRASAMPLE_ASSOCALPHA; }

// The known picture: gentle 16-bit ramps, one per sample (JPEG keeps them
// close), taken to `bits` by their high bits. With an associated alpha (8-bit only) colours are
// multiples of 3 stored premultiplied by an alpha of 255, 85 or 0.
uint32_t colourOf(uint32_t x, uint32_t y, int sample, int bits) {
  return ((x * 700 + y * 900 + uint32_t(sample) * 8000) & 0xffff) >> (16 - bits);
}
uint32_t alphaOf(uint32_t x, uint32_t y) { return (x + y) % 3 == 0 ? 255 : (x + y) % 3 == 1 ? 85 : 0; }
uint32_t stored(const Variant& v, uint32_t x, uint32_t y, int sample) {
  if (!associated(v)) return colourOf(x, y, sample, v.bits);
  if (sample >= colourSamples(v)) return alphaOf(x, y);
  return colourOf(x, y, sample, v.bits) / 3 * 3 * alphaOf(x, y) / 255;
}

// The rounding rule: a sample of `bits` bits as an 8-bit level.
uint32_t level(uint32_t value, int bits) {
  const uint32_t largest = (1u << bits) - 1;
  return (value * 255 + largest / 2) / largest;
}
uint16_t paletteEntry(uint32_t index, int component) { return uint16_t((index * 40 + 10 + component * 70) % 256 * 257); }

RgbImage expectedPicture(const Variant& v) {
  RgbImage image(int(v.width), int(v.height));
  for (uint32_t y = 0; y < v.height; ++y) {
    for (uint32_t x = 0; x < v.width; ++x) {
      uint32_t rgb[3];
      for (int c = 0; c < 3; ++c) {
        const int sample = colourSamples(v) == 3 ? c : 0;
        const uint32_t value = stored(v, x, y, sample);
        if (v.photometric == PHOTOMETRIC_PALETTE)
          rgb[c] = paletteEntry(value, c) >> 8;
        else if (associated(v))
          rgb[c] = alphaOf(x, y) == 0 ? 0 : colourOf(x, y, sample, v.bits) / 3 * 3;
        else
          rgb[c] = v.photometric == PHOTOMETRIC_MINISWHITE ? 255 - level(value, v.bits) : level(value, v.bits);
      }
      image.set(int(x), int(y), uint8_t(rgb[0]), uint8_t(rgb[1]), uint8_t(rgb[2]));
    }
  }
  return image;
}

// `count` pixels from (x, y) of one plane (every sample when contiguous),
// packed as libtiff takes them: most significant bit first, 16-bit samples
// in the machine's order. Pixels past the picture repeat its edge (no edge
// for JPEG to ring at).
std::vector<uint8_t> packedRow(const Variant& v, uint32_t x, uint32_t y, uint32_t count, int plane) {
  const int perPixel = v.separate ? 1 : v.samples;
  std::vector<uint8_t> row((size_t(count) * perPixel * v.bits + 7) / 8);
  size_t bit = 0;
  for (uint32_t i = 0; i < count; ++i) {
    for (int s = 0; s < perPixel; ++s) {
      const uint32_t value = stored(v, std::min(x + i, v.width - 1), std::min(y, v.height - 1), v.separate ? plane : s);
      if (v.bits == 16) {
        const uint16_t sample = uint16_t(value);
        std::memcpy(&row[bit / 8], &sample, 2);
        bit += 16;
      } else {
        for (int b = v.bits - 1; b >= 0; --b, ++bit) row[bit / 8] |= uint8_t((value >> b & 1) << (7 - bit % 8));
      }
    }
  }
  return row;
}

// Writes the variant with libtiff, without the tile at `skipTile` (-1: all of them).
std::string writeVariant(const Variant& v, int skipTile = -1) {
  const std::string path = tempPath(std::string(v.name) + ".tif");
  TIFF* tiff = TIFFOpen(path.c_str(), v.mode);
  if (!tiff) return path;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, v.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, v.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, v.bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, v.samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, v.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, v.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, v.compression);
  if (v.compression == COMPRESSION_JPEG) TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  const int extras = v.samples - colourSamples(v);
  if (extras > 0) {
    const std::vector<uint16_t> kinds(size_t(extras), v.extraKind);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(extras), kinds.data());
  }
  if (v.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map[3];
    for (int c = 0; c < 3; ++c)
      for (uint32_t i = 0; i < (1u << v.bits); ++i) map[c].push_back(paletteEntry(i, c));
    TIFFSetField(tiff, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
  }
  if (v.tile) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, v.tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, v.tile);
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, v.compression == COMPRESSION_JPEG ? 16 : 5);  // the last strip shorter
  }
  const uint8_t oneByte = 0;
  if (v.directoryOnly) TIFFWriteRawTile(tiff, 0, const_cast<uint8_t*>(&oneByte), 1);
  const int planes = v.separate ? v.samples : 1;
  int tileNumber = 0;
  for (int plane = 0; plane < planes && !v.directoryOnly; ++plane) {
    if (!v.tile) {
      for (uint32_t y = 0; y < v.height; ++y)
        TIFFWriteScanline(tiff, packedRow(v, 0, y, v.width, plane).data(), y, uint16_t(plane));
      continue;
    }
    std::vector<uint8_t> tile(size_t(TIFFTileSize(tiff)));
    const size_t rowBytes = size_t(TIFFTileRowSize(tiff));
    for (uint32_t ty = 0; ty < v.height; ty += v.tile) {
      for (uint32_t tx = 0; tx < v.width; tx += v.tile, ++tileNumber) {
        for (uint32_t r = 0; r < v.tile; ++r)
          std::memcpy(&tile[r * rowBytes], packedRow(v, tx, ty + r, v.tile, plane).data(), rowBytes);
        if (tileNumber != skipTile) TIFFWriteTile(tiff, tile.data(), tx, ty, 0, uint16_t(plane));
      }
    }
  }
  TIFFWriteDirectory(tiff);
  TIFFClose(tiff);
  return path;
}

TEST(TiffVariants, ReadAsTheKnownPictureByTheRoundingRule) {
  const uint16_t grey = PHOTOMETRIC_MINISBLACK, white = PHOTOMETRIC_MINISWHITE, palette = PHOTOMETRIC_PALETTE;
  const uint16_t rgb = PHOTOMETRIC_RGB, unassociated = EXTRASAMPLE_UNASSALPHA, assoc = EXTRASAMPLE_ASSOCALPHA;
  const uint16_t none = COMPRESSION_NONE, lzw = COMPRESSION_LZW, packBits = COMPRESSION_PACKBITS;
  const uint16_t deflate = COMPRESSION_ADOBE_DEFLATE, jpeg = COMPRESSION_JPEG;
  const Variant variants[] = {
      // name, bits, samples, photometric, extra kind, separate planes, tile side, compression, mode
      {"grey2", 2, 1, grey, 0, false, 0, none, "wl"},
      {"grey2-white-tiles", 2, 1, white, 0, false, 16, lzw, "wl"},
      {"bilevel-tiles", 1, 1, grey, 0, false, 16, packBits, "wl"},
      {"palette1", 1, 1, palette, 0, false, 0, packBits, "wl"},
      {"palette2-tiles", 2, 1, palette, 0, false, 16, lzw, "wb"},
      {"grey12", 12, 1, grey, 0, false, 0, none, "wl"},
      {"grey16-lzw", 16, 1, grey, 0, false, 0, lzw, "wl"},
      {"grey16-white-big-endian", 16, 1, white, 0, false, 0, deflate, "wb"},
      {"grey-alpha-planes", 8, 2, grey, unassociated, true, 0, packBits, "wl"},
      {"rgb12", 12, 3, rgb, 0, false, 0, deflate, "wl"},
      {"rgb16-big-endian", 16, 3, rgb, 0, false, 0, none, "wb"},
      {"rgb16-tiles", 16, 3, rgb, 0, false, 16, deflate, "wl"},
      {"rgba-lzw", 8, 4, rgb, unassociated, false, 0, lzw, "wl"},
      {"rgba-associated", 8, 4, rgb, assoc, false, 0, none, "wl"},
      {"rgba-associated-planes", 8, 4, rgb, assoc, true, 0, lzw, "wl"},
      {"rgb-two-extra", 8, 5, rgb, EXTRASAMPLE_UNSPECIFIED, false, 0, packBits, "wl"},
      {"rgb-planes", 8, 3, rgb, 0, true, 0, lzw, "wl"},
      {"rgb16-planes-big-endian", 16, 3, rgb, 0, true, 0, none, "wb"},
      {"rgba-planes-tiles", 8, 4, rgb, unassociated, true, 16, lzw, "wl"},
      {"ycbcr-jpeg-tiles", 8, 3, PHOTOMETRIC_YCBCR, 0, false, 16, jpeg, "wl"},
      {"ycbcr-jpeg-strips", 8, 3, PHOTOMETRIC_YCBCR, 0, false, 0, jpeg, "wl"},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    const std::string path = writeVariant(v);
    const bool mapped = v.samples == 1 && v.bits <= 8;
    int width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
    EXPECT_EQ(mapped ? PIC_MAP : PIC_RGB, mode);
    EXPECT_EQ(mapped ? 1 << v.bits : 0, colours);
    const int tolerance = v.compression == jpeg ? 6 : 0;
    RgbImage fromDisk, fromMemory;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk)) << picLastReason();
    EXPECT_EQ(0u, countDifferences(expectedPicture(v), fromDisk, tolerance));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(readFileBytes(path), &fromMemory));
    EXPECT_EQ(0u, countDifferences(fromDisk, fromMemory));
  }
}

TEST(TiffVariants, RefusalsSayWhy) {
  const struct {
    Variant variant;
    int skipTile, status;
    const char* reason;
  } refusals[] = {
      // A 1 x 1 picture in 96 MB tiles; 98 tiles of 3 MB across.
      {{"huge-tile", 16, 3, PHOTOMETRIC_RGB, 0, false, 4096, COMPRESSION_NONE, "wl", 1, 1, true}, -1,
       PIC_ERR_DATA, "tiles larger than the picture"},
      {{"wide-row", 8, 3, PHOTOMETRIC_RGB, 0, false, 1024, COMPRESSION_NONE, "wl", 100000, 100, true}, -1,
       PIC_ERR_DATA, "row of tiles over 256 MB"},
      {{"many-samples", 8, 17, PHOTOMETRIC_RGB, EXTRASAMPLE_UNSPECIFIED, false, 0, COMPRESSION_NONE, "wl"}, -1,
       PIC_ERR_DATA, "more than 16 samples a pixel"},
      {{"palette-alpha", 8, 2, PHOTOMETRIC_PALETTE, EXTRASAMPLE_UNASSALPHA, false, 0, COMPRESSION_NONE, "wl"}, -1,
       PIC_ERR_DATA, "extra samples beside a palette"},
      {{"ycbcr-raw", 8, 3, PHOTOMETRIC_YCBCR, 0, false, 0, COMPRESSION_NONE, "wl"}, -1, PIC_ERR_DATA,
       "YCbCr other than in contiguous JPEG"},
      {{"missing-tile", 8, 3, PHOTOMETRIC_RGB, 0, true, 16, COMPRESSION_LZW, "wl"}, 4, PIC_ERR_READ,
       "tile data cut or damaged"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.variant.name);
    const std::string path = writeVariant(r.variant, r.skipTile);
    RgbImage image;
    EXPECT_EQ(r.status, libraryLoadRGB(path, &image));
    EXPECT_STREQ(r.reason, picLastReason());
    EXPECT_EQ(r.status, memoryLoadRGB(readFileBytes(path), &image));
  }
}

// Writes the fuzz seeds in tests/data/tiff (run with --gtest_also_run_disabled_tests).
TEST(TiffVariants, DISABLED_WriteSeeds) {
  const Variant seeds[] = {
      {"grey2", 2, 1, PHOTOMETRIC_MINISBLACK, 0, false, 0, COMPRESSION_NONE, "wl", 5, 3},
      {"palette1", 1, 1, PHOTOMETRIC_PALETTE, 0, false, 0, COMPRESSION_PACKBITS, "wl", 9, 3},
      {"grey12-tiles", 12, 1, PHOTOMETRIC_MINISBLACK, 0, false, 16, COMPRESSION_ADOBE_DEFLATE, "wl", 5, 3},
      {"rgb16-planes", 16, 3, PHOTOMETRIC_RGB, 0, true, 0, COMPRESSION_NONE, "wb", 5, 3},
      {"rgba-associated", 8, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA, false, 0, COMPRESSION_LZW, "wl", 5, 3},
      {"rgb-planes-tiles", 8, 3, PHOTOMETRIC_RGB, 0, true, 16, COMPRESSION_LZW, "wl", 20, 3},
      {"ycbcr-jpeg-tile", 8, 3, PHOTOMETRIC_YCBCR, 0, false, 16, COMPRESSION_JPEG, "wl", 5, 3},
  };
  for (const Variant& v : seeds)
    EXPECT_TRUE(writeFileBytes(std::string(SOLSYS_TEST_DATA) + "/tiff/seed-" + v.name + ".tif", readFileBytes(writeVariant(v))));
}

// The file libtiff writes, a scanline a call, of the tags and lines of `path`.
std::vector<uint8_t> rewrittenByScanlines(const std::string& path) {
  const std::string copy = tempPath("by-scanlines.tif");
  TIFF* in = TIFFOpen(path.c_str(), "r");
  TIFF* out = TIFFOpen(copy.c_str(), "w");
  uint32_t height = 0, value32 = 0;
  uint16_t value16 = 0, *red, *green, *blue;
  TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
  for (uint32_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
    if (TIFFGetField(in, tag, &value32)) TIFFSetField(out, tag, value32);
  for (uint32_t tag : {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PHOTOMETRIC, TIFFTAG_PLANARCONFIG,
                       TIFFTAG_COMPRESSION})
    if (TIFFGetField(in, tag, &value16)) TIFFSetField(out, tag, value16);
  if (TIFFGetField(in, TIFFTAG_COLORMAP, &red, &green, &blue)) TIFFSetField(out, TIFFTAG_COLORMAP, red, green, blue);
  std::vector<uint8_t> line(size_t(TIFFScanlineSize(in)));
  for (uint32_t row = 0; row < height; ++row)
    if (TIFFReadScanline(in, line.data(), row, 0) > 0) TIFFWriteScanline(out, line.data(), row, 0);
  TIFFClose(in);
  TIFFClose(out);
  return readFileBytes(copy);
}

TEST(TiffVariants, SavesAreTheBytesOfAScanlineWriter) {
  const std::pair<int, int> sizes[] = {{1, 1}, {300, 97}, {5000, 7}};  // the last strip short; a strip a line
  for (const auto& size : sizes) {
    for (int compression : {PIC_COMP_NONE, PIC_COMP_LZW, PIC_COMP_RLE}) {
      for (bool isMap : {false, true}) {
        SCOPED_TRACE(std::to_string(size.first) + " " + std::to_string(compression) + (isMap ? " map" : " rgb"));
        const int format = PIC_DRIVER_TIFF | compression;
        std::vector<uint8_t> saved;
        ASSERT_EQ(PIC_OK, isMap ? memorySaveMap(makeTestMapped(size.first, size.second, 77, 5), format, &saved)
                                : memorySaveRGB(makeTestImage(size.first, size.second, 9), format, &saved));
        EXPECT_TRUE(saved == rewrittenByScanlines(writeTempFile("saved.tif", saved)));
      }
    }
  }
}

}  // namespace
