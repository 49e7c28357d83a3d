// TIFF through libtiff: files made by ImageMagick read with the right pixels,
// every writer option read back by ImageMagick, on disk and in memory; hand-made
// files for the layouts, maps, defaults and malformed headers; truncations;
// silence of libtiff without touching other users' handlers; the LZW strip
// decoder against libtiff and on hostile codes.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "picture/formats/tiff_lzw.h"
#include "support/image_peer.h"

extern const picFormatInfo picTiffFormat;

namespace {

// ---- Hand-made little-endian TIFF files ------------------------------------

enum Tag : uint16_t {
  tagWidth = 256,
  tagLength = 257,
  tagBits = 258,
  tagCompression = 259,
  tagPhotometric = 262,
  tagStripOffsets = 273,
  tagSamples = 277,
  tagRowsPerStrip = 278,
  tagStripByteCounts = 279,
  tagXResolution = 282,
  tagYResolution = 283,
  tagPlanar = 284,
  tagResolutionUnit = 296,
  tagColorMap = 320,
  tagSampleFormat = 339,
};
enum FieldType : uint16_t { typeShort = 3, typeLong = 4, typeRational = 5 };

const uint32_t atPixels = 0xfffffff0;  // StripOffsets value: where the pixels land

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;                 // inline value (SHORT values in the low half)
  std::vector<uint16_t> shorts;   // out-of-line SHORT array (ColorMap)
  std::vector<uint32_t> longs;    // out-of-line LONG pairs (RATIONAL)
};

Entry shortEntry(uint16_t tag, uint32_t value) { return {tag, typeShort, 1, value, {}, {}}; }
Entry longEntry(uint16_t tag, uint32_t value) { return {tag, typeLong, 1, value, {}, {}}; }
Entry rationalEntry(uint16_t tag, uint32_t numerator, uint32_t denominator) {
  return {tag, typeRational, 1, 0, {}, {numerator, denominator}};
}

void putLE16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void putLE32(std::vector<uint8_t>& out, uint32_t v) {
  putLE16(out, v & 0xffff);
  putLE16(out, v >> 16);
}

// Header, one directory right behind it, out-of-line arrays, then the pixels.
std::vector<uint8_t> buildTiff(const std::vector<Entry>& entries, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0};  // byte order "II", version 42
  putLE32(out, 8);                                // offset of the first directory
  const uint32_t directorySize = 2 + 12 * uint32_t(entries.size()) + 4;
  const uint32_t arraysStart = 8 + directorySize;  // arrays follow the directory
  std::vector<uint8_t> extra;
  uint32_t arraysSize = 0;
  for (const Entry& e : entries) arraysSize += uint32_t(e.shorts.size() * 2 + e.longs.size() * 4);
  const uint32_t pixelOffset = arraysStart + arraysSize;

  putLE16(out, uint32_t(entries.size()));  // number of entries
  for (const Entry& e : entries) {
    putLE16(out, e.tag);    // tag
    putLE16(out, e.type);   // field type
    putLE32(out, e.count);  // value count
    if (!e.shorts.empty() || !e.longs.empty()) {
      putLE32(out, arraysStart + uint32_t(extra.size()));  // offset of the array
      for (uint16_t v : e.shorts) putLE16(extra, v);
      for (uint32_t v : e.longs) putLE32(extra, v);
    } else if (e.tag == tagStripOffsets && e.value == atPixels) {
      putLE32(out, pixelOffset);
    } else {
      putLE32(out, e.value);  // inline value
    }
  }
  putLE32(out, 0);  // no next directory
  out.insert(out.end(), extra.begin(), extra.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// A one-strip uncompressed image with the given layout tags.
std::vector<uint8_t> simpleTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                                int photometric, const std::vector<uint8_t>& pixels,
                                std::vector<Entry> more = {}, uint16_t compression = 1) {
  std::vector<Entry> entries = {longEntry(tagWidth, width), longEntry(tagLength, height)};
  if (samples == 3)
    entries.push_back({tagBits, typeShort, 3, 0, {bits, bits, bits}, {}});
  else
    entries.push_back(shortEntry(tagBits, bits));
  entries.push_back(shortEntry(tagCompression, compression));
  if (photometric >= 0) entries.push_back(shortEntry(tagPhotometric, uint32_t(photometric)));
  entries.push_back(longEntry(tagStripOffsets, atPixels));
  entries.push_back(shortEntry(tagSamples, samples));
  entries.push_back(longEntry(tagRowsPerStrip, height));
  entries.push_back(longEntry(tagStripByteCounts, uint32_t(pixels.size())));
  for (Entry& e : more) entries.push_back(std::move(e));
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  return buildTiff(entries, pixels);
}

// Loads as an application would, without making planes for a header's giant size.
int loadUnlessHuge(const std::string& name) {
  int width = 0, height = 0;
  const int info = picImageInfo(name.c_str(), &width, &height, nullptr, nullptr);
  if (info != PIC_OK) return info;
  if (int64_t(width) * height > (1 << 22)) return -100;
  const size_t pixels = size_t(width) * size_t(height);
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  return picLoadRGB(name.c_str(), red.data(), green.data(), blue.data());
}

// The TIFF driver's own answer to a file.
int driverOpenStatus(const std::string& path) {
  int status = -99;
  picDriver* driver = picTiffDriver();
  picFile* file = driver->openRead(path.c_str(), &status);
  if (file) driver->close(file);
  return status;
}

std::string peerFile(const RgbImage& source, const std::string& options, const std::string& name) {
  const std::string path = tempPath(name);
  EXPECT_TRUE(peerEncode(source, options, path)) << peerConvert() << " failed: " << options;
  return path;
}

// ---- The peer must be there -------------------------------------------------

TEST(Tiff, OutsidePeerIsInstalled) {
  ASSERT_TRUE(toolInstalled(peerConvert()))
      << peerConvert() << " is missing: install imagemagick (tools/install-deps.sh)";
}

// ---- Reading files the peer wrote -------------------------------------------

struct PeerLayout {
  const char* name;
  const char* options;
  int format;      // expected picFileFormat
  int colourMode;  // expected picImageInfo
  int colours;
  bool secondPeer = false;  // compared with Pillow: the first peer reads its own file otherwise
  bool lossy = false;       // pixels differ from the source; compared with the peer only
};

// Decodes with the second peer (Pillow) into planes, via PPM.
bool secondPeerDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".pillow.ppm";
  const std::string script = "import sys; from PIL import Image; "
                             "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')";
  return runCommand("/usr/bin/python3 -c \"" + script + "\" '" + path + "' '" + ppm + "'") &&
         readPpm(ppm, image);
}

TEST(Tiff, ReadsPeerFilesWithTheirPixelsOnDiskAndInMemory) {
  const RgbImage source = makeTestImage(37, 23, 7);
  const PeerLayout layouts[] = {
      {"rgb-none", "-type TrueColor -depth 8 -compress None", 0x003, PIC_RGB, 0},
      {"rgb-packbits", "-type TrueColor -depth 8 -compress RLE", 0x103, PIC_RGB, 0},
      {"rgb-lzw", "-type TrueColor -depth 8 -compress LZW", 0x203, PIC_RGB, 0},
      {"rgb-deflate", "-type TrueColor -depth 8 -compress Zip", 0x203, PIC_RGB, 0},
      {"rgb-jpeg", "-type TrueColor -depth 8 -compress JPEG", 0x203, PIC_RGB, 0, false, true},
      {"grey8-none", "-colorspace Gray -depth 8 -compress None", 0x003, PIC_MAP, 256},
      {"grey8-packbits", "-colorspace Gray -depth 8 -compress RLE", 0x103, PIC_MAP, 256},
      {"grey8-lzw", "-colorspace Gray -depth 8 -compress LZW", 0x203, PIC_MAP, 256},
      {"grey8-white", "-colorspace Gray -depth 8 -define quantum:polarity=min-is-white", 0x003, PIC_MAP, 256},
      {"grey4-none", "-colorspace Gray -depth 4 -compress None", 0x003, PIC_MAP, 16},
      {"grey4-packbits", "-colorspace Gray -depth 4 -compress RLE", 0x103, PIC_MAP, 16},
      {"grey4-lzw", "-colorspace Gray -depth 4 -compress LZW", 0x203, PIC_MAP, 16},
      // The first peer writes these samples as if min-is-black and reads them so.
      {"grey4-white", "-colorspace Gray -depth 4 -define quantum:polarity=min-is-white", 0x003, PIC_MAP,
       16, true},
      {"bilevel-black-none", "-type Bilevel -depth 1 -compress None", 0x003, PIC_MAP, 2},
      {"bilevel-black-packbits", "-type Bilevel -depth 1 -compress RLE", 0x103, PIC_MAP, 2},
      {"bilevel-black-lzw", "-type Bilevel -depth 1 -compress LZW", 0x203, PIC_MAP, 2},
      {"bilevel-white-none", "-type Bilevel -depth 1 -define quantum:polarity=min-is-white", 0x003, PIC_MAP, 2},
      {"bilevel-white-lzw", "-type Bilevel -depth 1 -compress LZW -define quantum:polarity=min-is-white",
       0x203, PIC_MAP, 2},
      {"bilevel-fax", "-type Bilevel -compress Group4", 0x203, PIC_MAP, 2},
      // The first peer rounds map components that are not level * 257 to the
      // nearest level; the file's reading is their high byte, as Pillow's.
      {"palette8-none", "-depth 8 -colors 200 -type Palette -compress None", 0x003, PIC_MAP, 256, true},
      {"palette8-packbits", "-depth 8 -colors 200 -type Palette -compress RLE", 0x103, PIC_MAP, 256, true},
      {"palette8-lzw", "-depth 8 -colors 200 -type Palette -compress LZW", 0x203, PIC_MAP, 256, true},
      {"palette4-none", "-depth 8 -colors 12 -type Palette -compress None", 0x003, PIC_MAP, 16, true},
      {"palette4-lzw", "-depth 8 -colors 12 -type Palette -compress LZW", 0x203, PIC_MAP, 16, true},
      {"palette8-big-endian", "-depth 8 -colors 200 -type Palette -define tiff:endian=msb", 0x003, PIC_MAP, 256, true},
      {"rgb-big-endian", "-type TrueColor -depth 8 -compress LZW -define tiff:endian=msb", 0x203, PIC_RGB, 0},
      {"sixteen-bit", "-type TrueColor -depth 16", 0x003, PIC_RGB, 0},
      {"separate-planes", "-type TrueColor -depth 8 -interlace Plane", 0x003, PIC_RGB, 0},
      {"rgba", "-depth 8 -alpha on -type TrueColorAlpha", 0x003, PIC_RGB, 0},
      {"palette-one-bit", "-depth 8 -colors 2 -type Palette", 0x003, PIC_MAP, 2, true},
      {"palette-two-bit", "-depth 8 -colors 4 -type Palette", 0x003, PIC_MAP, 4, true},
      {"tiled", "-type TrueColor -depth 8 -define tiff:tile-geometry=16x16", 0x003, PIC_RGB, 0},
  };
  for (const PeerLayout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::string path = peerFile(source, layout.options, std::string(layout.name) + ".tif");
    RgbImage expected;
    ASSERT_TRUE(layout.secondPeer ? secondPeerDecode(path, &expected) : peerDecode(path, &expected));

    int format = 0, width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(layout.format, format);
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
    EXPECT_EQ(37, width);
    EXPECT_EQ(23, height);
    EXPECT_EQ(layout.colourMode, mode);
    EXPECT_EQ(layout.colours, colours);

    RgbImage fromDisk, fromMemory;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk));
    EXPECT_EQ(0u, countDifferences(expected, fromDisk));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(readFileBytes(path), &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));
    if (layout.colourMode == PIC_RGB && !layout.lossy) {
      EXPECT_EQ(0u, countDifferences(source, fromDisk));
    }
    if (layout.colourMode == PIC_MAP) {
      MappedImage mapped;
      ASSERT_EQ(PIC_OK, libraryLoadMap(path, &mapped));
      EXPECT_EQ(0u, countDifferences(expected, mappedToRgb(mapped)));
    }
  }
}

TEST(Tiff, RefusesUnsupportedLayoutsButDescribesThem) {
  const RgbImage source = makeTestImage(19, 11, 3);
  const struct {
    const char *name, *options, *reason;
  } layouts[] = {
      {"float", "-define quantum:format=floating-point -depth 32 -compress LZW", "floating-point samples"},
      {"cmyk", "-colorspace CMYK -depth 8", "colour space other than grey, palette or RGB"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::string path = peerFile(source, layout.options, std::string(layout.name) + ".tif");
    int format = 0, width = 0, height = 0;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(PIC_DRIVER_TIFF, format & 0xff);
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(19, width);
    EXPECT_EQ(11, height);
    RgbImage image;
    EXPECT_EQ(PIC_ERR_DATA, libraryLoadRGB(path, &image));
    EXPECT_STREQ(layout.reason, picLastReason());
    EXPECT_EQ(PIC_ERR_DATA, memoryLoadRGB(readFileBytes(path), &image));
    int status = -99;
    picFile* file = picTiffDriver()->openRead(path.c_str(), &status);
    EXPECT_EQ(PIC_ERR_DATA, status);
    ASSERT_NE(nullptr, file);  // described, to be closed by the caller
    EXPECT_EQ(19, file->width);
    picTiffDriver()->close(file);
  }
}

// ---- Writing files the peer reads ---------------------------------------------

struct WriterOption {
  const char* name;
  int colourMode;
  int compression;
  uint16_t tiffCompression;
};

const WriterOption writerOptions[] = {
    {"map-none", PIC_MAP, PIC_COMP_NONE, COMPRESSION_NONE},
    {"map-packbits", PIC_MAP, PIC_COMP_RLE, COMPRESSION_PACKBITS},
    {"map-lzw", PIC_MAP, PIC_COMP_LZW, COMPRESSION_LZW},
    {"rgb-none", PIC_RGB, PIC_COMP_NONE, COMPRESSION_NONE},
    {"rgb-packbits", PIC_RGB, PIC_COMP_RLE, COMPRESSION_PACKBITS},
    {"rgb-lzw", PIC_RGB, PIC_COMP_LZW, COMPRESSION_LZW},
};

uint16_t compressionTag(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return 0xffff;
  uint16_t compression = 0;
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFClose(tiff);
  return compression;
}

TEST(Tiff, EveryWriterOptionReadsBackInThePeerAndHereOnDiskAndInMemory) {
  // The widest: true-colour lines packed in more than one stretch, each with a short end.
  const std::pair<int, int> sizes[] = {{1, 1}, {37, 23}, {300, 97}, {2100, 3}};
  for (const WriterOption& option : writerOptions) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(option.name) + " " + std::to_string(size.first) + "x" +
                   std::to_string(size.second));
      const std::string path = tempPath(std::string("written-") + option.name + ".tif");
      const int format = PIC_DRIVER_TIFF | option.compression;
      RgbImage expected;
      std::vector<uint8_t> inMemory;
      if (option.colourMode == PIC_MAP) {
        const MappedImage mapped = makeTestMapped(size.first, size.second, 77, 5);
        expected = mappedToRgb(mapped);
        ASSERT_EQ(PIC_OK, picSaveMap(mapped.width, mapped.height, format, mapped.indices.data(),
                                     int(mapped.map.size()), mapped.map.data(), path.c_str()));
        ASSERT_EQ(PIC_OK, memorySaveMap(mapped, format, &inMemory));
        MappedImage back;
        ASSERT_EQ(PIC_OK, memoryLoadMap(inMemory, &back));
        EXPECT_EQ(mapped.indices, back.indices);
      } else {
        expected = makeTestImage(size.first, size.second, 9);
        ASSERT_EQ(PIC_OK, picSaveRGB(expected.width, expected.height, format, expected.red.data(),
                                     expected.green.data(), expected.blue.data(), path.c_str()));
        ASSERT_EQ(PIC_OK, memorySaveRGB(expected, format, &inMemory));
      }
      EXPECT_EQ(readFileBytes(path), inMemory);
      EXPECT_EQ(option.tiffCompression, compressionTag(path));

      RgbImage byPeer, bySecondPeer, byLibrary, fromMemory;
      ASSERT_TRUE(peerDecode(path, &byPeer));
      EXPECT_EQ(0u, countDifferences(expected, byPeer));
      ASSERT_TRUE(secondPeerDecode(path, &bySecondPeer));
      EXPECT_EQ(0u, countDifferences(expected, bySecondPeer));
      int readFormat = 0;
      ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &readFormat));
      EXPECT_EQ(format, readFormat);
      ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &byLibrary));
      EXPECT_EQ(0u, countDifferences(expected, byLibrary));
      ASSERT_EQ(PIC_OK, memoryLoadRGB(inMemory, &fromMemory));
      EXPECT_EQ(0u, countDifferences(expected, fromMemory));
    }
  }
}

TEST(Tiff, WrittenColourMapHoldsEachLevelInBothBytesAndZerosBeyond) {
  MappedImage image = makeTestMapped(9, 4, 5, 2);
  image.map = {0x123456, 0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
  const std::string path = tempPath("map-lzw.tif");
  ASSERT_EQ(PIC_OK, picSaveMap(9, 4, PIC_DRIVER_TIFF | PIC_COMP_LZW, image.indices.data(), 5,
                               image.map.data(), path.c_str()));
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(nullptr, tiff);
  uint16_t bits = 0, photometric = 0, compression = 0;
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
  ASSERT_TRUE(TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue));
  EXPECT_EQ(8, bits);
  EXPECT_EQ(PHOTOMETRIC_PALETTE, photometric);
  EXPECT_EQ(COMPRESSION_LZW, compression);
  EXPECT_EQ(1, TIFFNumberOfDirectories(tiff));  // completed once, at the last line
  EXPECT_EQ(0x1212, red[0]);
  EXPECT_EQ(0x3434, green[0]);
  EXPECT_EQ(0x5656, blue[0]);
  EXPECT_EQ(0xffff, red[4]);
  EXPECT_EQ(0xffff, blue[4]);
  for (int i = 5; i < 256; ++i) EXPECT_EQ(0, red[i] | green[i] | blue[i]) << i;
  TIFFClose(tiff);
}

TEST(Tiff, WriterKeepsItsRequestsAndRefusesWhatItCannotWrite) {
  picDriver* driver = picTiffDriver();
  const std::string path = tempPath("other-compression.tif");
  int status = -99;
  picFile* file = driver->openWrite(path.c_str(), 4, 2, PIC_RGB, 0x300, 0, &status);
  ASSERT_EQ(PIC_OK, status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0x300, file->compression);  // kept as asked...
  EXPECT_EQ(0, file->planar);
  EXPECT_EQ(1, file->mapFirst);
  EXPECT_EQ(1, file->currentLine);
  const uint8_t row[4] = {1, 2, 3, 4};
  EXPECT_EQ(PIC_OK, driver->writeRGBLine(file, row, row, row));
  EXPECT_EQ(PIC_OK, driver->writeRGBLine(file, row, row, row));
  driver->close(file);
  EXPECT_EQ(COMPRESSION_NONE, compressionTag(path));  // ...but written uncompressed

  EXPECT_EQ(nullptr, driver->openWrite(path.c_str(), 4, 2, 7, 0, 0, &status));
  EXPECT_EQ(PIC_ERR_DATA, status);
  EXPECT_EQ(nullptr, driver->openWrite(path.c_str(), 4, 2, PIC_MAP, 0, 257, &status));
  EXPECT_EQ(PIC_ERR_DATA, status);
  EXPECT_EQ(nullptr, driver->openWrite("/nonexistent-dir/x.tif", 4, 2, PIC_RGB, 0, 0, &status));
  EXPECT_EQ(PIC_ERR_OPEN, status);
}

TEST(Tiff, ColourMapWriteStopsAt256EntriesWhateverTheFileClaims) {
  picDriver* driver = picTiffDriver();
  const std::string path = tempPath("big-map.tif");
  int status = -99;
  picFile* file = driver->openWrite(path.c_str(), 2, 1, PIC_MAP, 0, 256, &status);
  ASSERT_NE(nullptr, file);
  file->colours = 300;  // a caller that lies about its map
  std::vector<int32_t> map(300, 0x808080);
  EXPECT_EQ(PIC_OK, driver->writeMap(file, map.data()));
  const uint8_t line[2] = {0, 255};
  EXPECT_EQ(PIC_OK, driver->writeLine(file, line));
  driver->close(file);
  RgbImage image;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
  EXPECT_EQ(0x808080u, image.at(1, 0));
}

// Saves into a memory buffer of exactly `capacity` bytes.
int saveIntoCapacity(const RgbImage& image, int format, size_t capacity) {
  std::vector<uint8_t> buffer(capacity);
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(capacity));
  picUseMemoryFiles();
  const int status = picSaveRGB(image.width, image.height, format, image.red.data(),
                                image.green.data(), image.blue.data(), name);
  picUseDiskFiles();
  return status;
}

TEST(Tiff, ASaveThatDoesNotFitItsMemoryBufferFails) {
  const RgbImage image = makeTestImage(16, 8, 4);
  for (int compression : {PIC_COMP_NONE, PIC_COMP_LZW}) {
    std::vector<uint8_t> whole;
    ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_TIFF | compression, &whole));
    for (size_t capacity = 1; capacity < whole.size(); ++capacity)
      ASSERT_NE(PIC_OK, saveIntoCapacity(image, PIC_DRIVER_TIFF | compression, capacity))
          << "capacity " << capacity << " of " << whole.size();
    EXPECT_EQ(PIC_OK, saveIntoCapacity(image, PIC_DRIVER_TIFF | compression, whole.size()));
  }
}

// ---- Hand-made files: maps, unpacking, defaults -------------------------------

TEST(Tiff, GreyAndBilevelFilesGiveRampsAndKeepTheirStoredValues) {
  struct Case {
    const char* name;
    uint16_t bits;
    int photometric;  // -1: no PhotometricInterpretation tag
    uint32_t width;
    std::vector<uint8_t> pixels;  // one row
    std::vector<int32_t> mapStart;
    std::vector<uint8_t> indices;
  };
  const Case cases[] = {
      // 1-bit min-is-white: entry 0 white, entry 1 black; bits taken MSB first.
      {"bilevel-white", 1, 0, 10, {0xa5, 0xc0}, {0xffffff, 0x000000}, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}},
      {"bilevel-black", 1, 1, 10, {0xa5, 0xc0}, {0x000000, 0xffffff}, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}},
      // 4-bit grey steps by 17; the odd width's last pixel is the last byte's high nibble.
      {"grey4-odd", 4, 1, 5, {0x01, 0xef, 0x7a}, {0x000000, 0x111111, 0x222222}, {0, 1, 14, 15, 7}},
      {"grey4-white", 4, 0, 2, {0x0f}, {0xffffff, 0xeeeeee}, {0, 15}},
      {"grey8-black", 8, 1, 3, {0, 128, 255}, {0x000000, 0x010101, 0x020202}, {0, 128, 255}},
      {"grey8-white", 8, 0, 3, {0, 128, 255}, {0xffffff, 0xfefefe}, {0, 128, 255}},
      // Without PhotometricInterpretation, one sample reads as min-is-black.
      {"grey8-untagged", 8, -1, 3, {0, 9, 255}, {0x000000, 0x010101}, {0, 9, 255}},
      {"bilevel-untagged", 1, -1, 3, {0x40}, {0x000000, 0xffffff}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        writeTempFile(std::string(c.name) + ".tif", simpleTiff(c.width, 1, c.bits, 1, c.photometric, c.pixels));
    MappedImage image;
    ASSERT_EQ(PIC_OK, libraryLoadMap(path, &image));
    ASSERT_EQ(size_t(1) << c.bits, image.map.size());
    for (size_t i = 0; i < c.mapStart.size(); ++i) EXPECT_EQ(c.mapStart[i], image.map[i]) << i;
    EXPECT_EQ(c.indices, image.indices);
  }
}

TEST(Tiff, PaletteFileWithoutColourMapReadsAsGrey) {
  // libtiff itself takes such a file as min-is-black.
  const std::string path =
      writeTempFile("palette-without-map.tif", simpleTiff(2, 1, 8, 1, PHOTOMETRIC_PALETTE, {3, 200}));
  RgbImage image;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
  EXPECT_EQ(0x030303u, image.at(0, 0));
  EXPECT_EQ(0xc8c8c8u, image.at(1, 0));
}

TEST(Tiff, UntaggedThreeSampleFileReadsAsRGB) {
  const std::string path =
      writeTempFile("rgb-untagged.tif", simpleTiff(2, 2, 8, 3, -1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  RgbImage image;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
  EXPECT_EQ(0x010203u, image.at(0, 0));  // file row 0 is the top line
  EXPECT_EQ(0x0a0b0cu, image.at(1, 1));
}

TEST(Tiff, PaletteFileTakesTheHighByteOfEachMapComponent) {
  std::vector<uint16_t> colourMap(3 * 16, 0);
  colourMap[1] = 0xffff;        // red of entry 1: full
  colourMap[16 + 1] = 0xff00;   // green of entry 1: 255 * 256, as most writers store it
  colourMap[32 + 1] = 0x8080;   // blue of entry 1: 128 in both bytes
  colourMap[2] = 1 * 256;       // red of entry 2: level 1 * 256
  colourMap[16 + 2] = 200 * 256;  // green of entry 2: level 200 * 256
  colourMap[32 + 2] = 254 * 256;  // blue of entry 2: level 254 * 256
  colourMap[15] = 0x12ff;       // red of entry 15: high byte 0x12
  colourMap[32 + 15] = 0x0080;  // blue of entry 15: high byte 0
  const std::string path = writeTempFile(
      "palette4.tif", simpleTiff(4, 1, 4, 1, PHOTOMETRIC_PALETTE, {0x1f, 0x02},
                                 {{tagColorMap, typeShort, 48, 0, colourMap, {}}}));
  MappedImage image;
  ASSERT_EQ(PIC_OK, libraryLoadMap(path, &image));
  ASSERT_EQ(16u, image.map.size());
  EXPECT_EQ(0xffff80, image.map[1]);
  EXPECT_EQ(0x01c8fe, image.map[2]);
  EXPECT_EQ(0x120000, image.map[15]);
  EXPECT_EQ((std::vector<uint8_t>{1, 15, 0, 2}), image.indices);
}

// Pillow stores each map level * 256 and reads it back exactly.
TEST(Tiff, PillowPaletteFileReadsAsPillowReadsIt) {
  const std::string path = tempPath("pillow-palette.tif");
  const std::string script =
      "import sys; from PIL import Image; im = Image.new('RGB', (37, 23)); "
      "im.putdata([((x * 7 + y * 3) % 256, x * 11 % 256, (y * 13 + x) % 256) "
      "for y in range(23) for x in range(37)]); im.quantize(200).save(sys.argv[1])";
  ASSERT_TRUE(runCommand("/usr/bin/python3 -c \"" + script + "\" '" + path + "'"));
  RgbImage expected, image;
  ASSERT_TRUE(secondPeerDecode(path, &expected));
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
  EXPECT_EQ(0u, countDifferences(expected, image));
}

TEST(Tiff, PaletteFileWithOnlyEightBitValuesTakesThemAsLevels) {
  std::vector<uint16_t> colourMap(3 * 16, 0);
  colourMap[0] = 0xff;       // red of entry 0
  colourMap[16] = 0x80;      // green of entry 0
  colourMap[32 + 1] = 0x01;  // blue of entry 1
  const std::string path = writeTempFile(
      "palette4-8bit.tif", simpleTiff(2, 1, 4, 1, PHOTOMETRIC_PALETTE, {0x01},
                                      {{tagColorMap, typeShort, 48, 0, colourMap, {}}}));
  RgbImage image, byPeer;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
  EXPECT_EQ(0xff8000u, image.at(0, 0));
  EXPECT_EQ(0x000001u, image.at(1, 0));
  ASSERT_TRUE(peerDecode(path, &byPeer));
  EXPECT_EQ(0u, countDifferences(byPeer, image));
}

// ---- Resolution ------------------------------------------------------------

struct Resolution {
  double x = -1, y = -1;
  int unit = -1;
};
Resolution seen;
Resolution toWrite;

int recordResolution(const char*, double* x, double* y, int* unit) {
  seen = {*x, *y, *unit};
  *x = toWrite.x;
  *y = toWrite.y;
  *unit = toWrite.unit;
  return 0;
}

TEST(Tiff, ResolutionTravelsThroughTheCallback) {
  ASSERT_EQ(1, picDriverControl(reinterpret_cast<void*>(&recordResolution), PIC_CONTROL_RESOLUTION, -1));
  const std::vector<uint8_t> pixel = {0};
  struct Case {
    const char* name;
    std::vector<Entry> tags;
    Resolution expected;
  };
  const Case cases[] = {
      {"none", {}, {0.0, 0.0, PIC_RES_INCH}},  // libtiff's default unit is the inch
      {"unit-none",
       {rationalEntry(tagXResolution, 72, 1), rationalEntry(tagYResolution, 72, 1),
        shortEntry(tagResolutionUnit, 1)},
       {0.0, 0.0, PIC_RES_NONE}},
      {"centimetre",
       {rationalEntry(tagXResolution, 118, 1), rationalEntry(tagYResolution, 59, 2),
        shortEntry(tagResolutionUnit, 3)},
       {118.0, 29.5, PIC_RES_CM}},
  };
  toWrite = {0, 0, PIC_RES_NONE};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile(std::string("res-") + c.name + ".tif",
                                       simpleTiff(1, 1, 8, 1, 1, pixel, c.tags));
    seen = {};
    ASSERT_EQ(PIC_OK, driverOpenStatus(path));
    EXPECT_DOUBLE_EQ(c.expected.x, seen.x);
    EXPECT_DOUBLE_EQ(c.expected.y, seen.y);
    EXPECT_EQ(c.expected.unit, seen.unit);
  }

  // Writing: the callback is asked with zeros, and what it leaves is written.
  const RgbImage image = makeTestImage(3, 2);
  for (const Resolution& wanted : {Resolution{300, 150, PIC_RES_INCH}, Resolution{40, 20, PIC_RES_CM}}) {
    const std::string path = tempPath("res-written.tif");
    toWrite = wanted;
    ASSERT_EQ(PIC_OK, picSaveRGB(3, 2, PIC_DRIVER_TIFF, image.red.data(), image.green.data(),
                                 image.blue.data(), path.c_str()));
    EXPECT_EQ(0.0, seen.x);
    EXPECT_EQ(PIC_RES_NONE, seen.unit);
    toWrite = {0, 0, PIC_RES_NONE};
    ASSERT_EQ(PIC_OK, driverOpenStatus(path));
    EXPECT_DOUBLE_EQ(wanted.x, seen.x);
    EXPECT_DOUBLE_EQ(wanted.y, seen.y);
    EXPECT_EQ(wanted.unit, seen.unit);
  }
  picDriverControl(nullptr, PIC_CONTROL_RESOLUTION, -1);
}

// ---- Malformed, hostile and truncated files ---------------------------------

// libtiff's process-wide handlers as another part of a program installs them.
int otherUserMessages = 0;
void otherUserHandler(const char*, const char*, va_list) { ++otherUserMessages; }

TEST(Tiff, MalformedHeadersEndInAStatusSilently) {
  const std::vector<uint8_t> pixel = {7};
  std::vector<uint8_t> badVersion = simpleTiff(1, 1, 8, 1, 1, pixel);
  badVersion[2] = 41;  // version 41: neither TIFF nor BigTIFF
  std::vector<uint8_t> directoryPastEnd = simpleTiff(1, 1, 8, 1, 1, pixel);
  directoryPastEnd[4] = 0xf0;  // first directory far behind the end
  directoryPastEnd[5] = 0xff;
  std::vector<uint8_t> hugeEntryCount = simpleTiff(1, 1, 8, 1, 1, pixel);
  hugeEntryCount[8] = hugeEntryCount[9] = 0xff;  // 65535 entries, few present
  std::vector<uint8_t> noDirectory = {'M', 'M', 0, 42, 0, 0, 0, 0};

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int status;  // the TIFF driver's answer; -1: any failure
    const char* reason;  // the load's; null for a file that is not TIFF
  };
  const char* const unreadable = "unreadable first directory";
  const Case cases[] = {
      {"one-byte", {'I'}, PIC_ERR_FORMAT, nullptr},
      {"bad-magic", {'I', 'X', 42, 0, 8, 0, 0, 0}, PIC_ERR_FORMAT, nullptr},
      {"mixed-order", {'I', 'M', 42, 0, 8, 0, 0, 0}, PIC_ERR_FORMAT, nullptr},
      {"bad-version", badVersion, PIC_ERR_FORMAT, nullptr},
      {"header-only", {'I', 'I', 42, 0}, PIC_ERR_READ, "first directory past the end"},  // the rest may still arrive
      {"no-directory", noDirectory, PIC_ERR_FORMAT, unreadable},
      {"directory-past-end", directoryPastEnd, PIC_ERR_READ, "first directory past the end"},
      {"huge-entry-count", hugeEntryCount, -1, unreadable},
      {"width-zero", simpleTiff(0, 1, 8, 1, 1, pixel), -1, unreadable},
      {"height-zero", simpleTiff(1, 0, 8, 1, 1, pixel), -1, unreadable},
      {"too-many-pixels", simpleTiff(70000, 70000, 8, 1, 1, pixel), -1, "sides too large for the library"},
      {"row-too-wide", simpleTiff(0x7fffffff, 1, 8, 3, 2, pixel), -1, "sides too large for the library"},
      {"bits-zero", simpleTiff(1, 1, 0, 1, 1, pixel), -1, unreadable},
      {"strip-past-end",
       simpleTiff(4, 4, 8, 1, 1, pixel, {}), -1, "strip data cut or damaged"},  // 16 pixels announced, 1 stored
      {"signed-samples", simpleTiff(1, 1, 8, 1, 1, pixel, {shortEntry(tagSampleFormat, 2)}), PIC_ERR_DATA,
       "samples not unsigned integers"},
      // Three planes, one strip: the other two planes' strips are missing.
      {"separate-planes", simpleTiff(1, 1, 8, 3, 2, {1, 2, 3}, {shortEntry(tagPlanar, 2)}), -1,
       "strip data cut or damaged"},
      {"unknown-compression",
       simpleTiff(1, 1, 8, 1, 1, pixel, {}), -2, "unknown compression"},  // patched below
  };
  // The buffer a memory name points at lives until the next call.
  static std::vector<uint8_t> memoryBytes;
  const auto memoryName = [](const std::vector<uint8_t>& bytes) {
    memoryBytes = bytes;
    memoryBytes.push_back(0);  // never empty
    char name[64];
    picMemoryFileName(name, sizeof name, memoryBytes.data(), int(bytes.size() ? bytes.size() : 1));
    picUseMemoryFiles();
    return std::string(name);
  };
  const TIFFErrorHandler previousError = TIFFSetErrorHandler(otherUserHandler);
  const TIFFErrorHandler previousWarning = TIFFSetWarningHandler(otherUserHandler);
  otherUserMessages = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = c.bytes;
    if (c.status == -2) {
      // Compression 34712 (JPEG 2000), which libtiff does not decode.
      for (size_t i = 10; i + 12 <= bytes.size(); i += 12)
        if (bytes[i] == (tagCompression & 0xff) && bytes[i + 1] == tagCompression >> 8) {
          bytes[i + 8] = 34712 & 0xff;
          bytes[i + 9] = 34712 >> 8;
        }
    }
    const std::string path = writeTempFile(std::string("bad-") + c.name + ".tif", bytes);
    testing::internal::CaptureStderr();
    picClearReason();
    const int status = driverOpenStatus(path);
    const char* driverReason = picLastReason();
    const int load = loadUnlessHuge(path);
    if (c.reason)
      EXPECT_STREQ(c.reason, picLastReason());
    else
      EXPECT_EQ(nullptr, driverReason);  // not TIFF: nothing recorded (another driver may say why)
    const int memoryLoad = loadUnlessHuge(memoryName(bytes));
    picUseDiskFiles();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    if (c.status >= 0) {
      EXPECT_EQ(c.status, status);
    } else if (c.status == -2) {
      EXPECT_EQ(PIC_ERR_COMPRESSION, status);
    }
    EXPECT_NE(PIC_OK, load);
    EXPECT_EQ(load, memoryLoad);
  }
  EXPECT_EQ(0, otherUserMessages);  // nothing of ours reached them...
  TIFF* missing = TIFFOpen(tempPath("no-such-file.tif").c_str(), "r");
  EXPECT_EQ(nullptr, missing);
  EXPECT_LT(0, otherUserMessages);  // ...and their own messages still do
  EXPECT_EQ(otherUserHandler, TIFFSetErrorHandler(previousError));
  EXPECT_EQ(otherUserHandler, TIFFSetWarningHandler(previousWarning));
}

TEST(Tiff, DataCutShortIsAReadErrorNotPixels) {
  // The directory comes first, so every cut falls inside the strip.
  std::vector<uint8_t> pixels(24 * 6 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
  const std::vector<uint8_t> whole = simpleTiff(24, 6, 8, 3, 2, pixels);
  const size_t pixelStart = whole.size() - pixels.size();
  RgbImage image;
  ASSERT_EQ(PIC_OK, memoryLoadRGB(whole, &image));
  ASSERT_EQ(PIC_OK, libraryLoadRGB(writeTempFile("whole.tif", whole), &image));
  for (size_t cut = pixelStart; cut < whole.size(); cut += 17) {
    SCOPED_TRACE(cut);
    const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + long(cut));
    EXPECT_EQ(PIC_ERR_READ, libraryLoadRGB(writeTempFile("cut.tif", bytes), &image));
    EXPECT_EQ(PIC_ERR_READ, memoryLoadRGB(bytes, &image));
  }
}

// ---- LZW strips decoded by the driver ---------------------------------------

// Packs codes most significant bit first, widening as a TIFF LZW decoder does
// (one entry early); controls are 256 (clear) and 257 (end).
std::vector<uint8_t> packLzwCodes(const std::vector<int>& codes) {
  std::vector<uint8_t> out;
  uint32_t pending = 0;
  int pendingBits = 0, codeBits = 9, nextCode = 258;
  bool afterClear = true;
  for (int code : codes) {
    pending = pending << codeBits | uint32_t(code);
    for (pendingBits += codeBits; pendingBits >= 8; pendingBits -= 8) out.push_back(uint8_t(pending >> (pendingBits - 8)));
    if (code == 256) {
      codeBits = 9, nextCode = 258, afterClear = true;
    } else if (code != 257) {
      if (!afterClear && nextCode < 4096 && ++nextCode >= (1 << codeBits) - 1 && codeBits < 12) ++codeBits;
      afterClear = false;
    }
  }
  if (pendingBits > 0) out.push_back(uint8_t(pending << (8 - pendingBits)));
  return out;
}

TEST(TiffLzw, CodesDecodeOrEndInAStatusWithinTheDestination) {
  struct Case {
    const char* name;
    std::vector<int> codes;
    size_t cutBytes;  // taken off the packed source
    size_t room;
    TiffLzwResult result;
    std::string bytes;
  };
  const Case cases[] = {
      {"literals", {256, 'A', 'B', 'C', 257}, 0, 3, TiffLzwResult::full, "ABC"},
      {"strings and the entry being defined", {256, 'A', 'B', 258, 260, 257}, 0, 7, TiffLzwResult::full, "ABABABA"},
      {"no clear first", {'A', 'B', 258, 257}, 0, 4, TiffLzwResult::full, "ABAB"},
      {"clear inside", {256, 'A', 'B', 256, 'C', 'D', 258, 257}, 0, 6, TiffLzwResult::full, "ABCDCD"},
      {"longer than needed", {256, 'A', 'B', 'C', 'D', 257}, 0, 2, TiffLzwResult::full, "AB"},
      {"string cut at the end", {256, 'A', 'A', 258}, 0, 3, TiffLzwResult::full, "AAA"},
      {"end code early", {256, 'A', 257, 'B'}, 0, 4, TiffLzwResult::ended, "A"},
      {"source cut", {256, 'A', 'B', 'C', 'D'}, 2, 4, TiffLzwResult::ended, "AB"},
      {"empty source", {}, 0, 4, TiffLzwResult::ended, ""},
      {"no room", {256, 'A', 257}, 0, 0, TiffLzwResult::full, ""},
      {"code beyond the table", {256, 'A', 'B', 260}, 0, 8, TiffLzwResult::badCode, "AB"},
      {"string code after a clear", {256, 'A', 256, 258}, 0, 8, TiffLzwResult::badCode, "A"},
      {"highest code at the start", {4095}, 0, 8, TiffLzwResult::badCode, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> source = packLzwCodes(c.codes);
    source.resize(source.size() - c.cutBytes);
    std::vector<uint8_t> destination(c.room);  // exact sizes: a sanitized build sees any stray byte
    size_t produced = 99;
    EXPECT_EQ(c.result, tiffLzwDecode(source.data(), source.size(), destination.data(), c.room, &produced));
    ASSERT_EQ(c.bytes.size(), produced);
    EXPECT_EQ(c.bytes, std::string(destination.begin(), destination.begin() + long(produced)));
  }
}

TEST(TiffLzw, AFullTableKeepsItsLastEntryUntilAClear) {
  // 3839 literals define entries 258 .. 4095; 4095 is then the last two literals.
  std::vector<int> codes = {256};
  std::string expected;
  for (int i = 0; i < 3839; ++i) {
    codes.push_back(i % 251);
    expected += char(i % 251);
  }
  codes.insert(codes.end(), {4095, 'z', 257});
  expected += expected.substr(expected.size() - 2) + "z";
  const std::vector<uint8_t> source = packLzwCodes(codes);
  std::vector<uint8_t> destination(expected.size());
  size_t produced = 0;
  EXPECT_EQ(TiffLzwResult::full, tiffLzwDecode(source.data(), source.size(), destination.data(), destination.size(), &produced));
  EXPECT_EQ(expected, std::string(destination.begin(), destination.end()));
}

TEST(TiffLzw, RandomCodesNeverLeaveTheDestination) {
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> source(size_t(round) * 7);
    for (uint8_t& byte : source) byte = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    if (round % 2 == 0 && !source.empty()) source[0] = 0x80;  // a clear code first
    std::vector<uint8_t> destination(size_t(round % 37) * 11);
    size_t produced = 0;
    tiffLzwDecode(source.data(), source.size(), destination.data(), destination.size(), &produced);
    EXPECT_LE(produced, destination.size());
  }
}

// Every scanline of a file as libtiff itself decodes it, top line first.
std::vector<uint8_t> libtiffScanlines(const std::string& path) {
  std::vector<uint8_t> bytes;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return bytes;
  uint32_t height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  std::vector<uint8_t> line(size_t(TIFFScanlineSize64(tiff)));
  for (uint32_t row = 0; row < height && TIFFReadScanline(tiff, line.data(), row, 0) > 0; ++row)
    bytes.insert(bytes.end(), line.begin(), line.end());
  TIFFClose(tiff);
  return bytes;
}

// What the library reads of an 8-bit file, as interleaved samples, top line first.
std::vector<uint8_t> librarySamples(const std::string& path, bool mapped) {
  std::vector<uint8_t> bytes;
  if (mapped) {
    MappedImage image;
    if (libraryLoadMap(path, &image) != PIC_OK) return bytes;
    for (int y = image.height - 1; y >= 0; --y)
      bytes.insert(bytes.end(), image.indices.begin() + long(y) * image.width,
                   image.indices.begin() + long(y + 1) * image.width);
    return bytes;
  }
  RgbImage image;
  if (libraryLoadRGB(path, &image) != PIC_OK) return bytes;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint32_t rgb = image.at(x, y);
      bytes.insert(bytes.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
    }
  }
  return bytes;
}

TEST(TiffLzw, StripsReadAsLibtiffReadsThem) {
  // Wide noisy lines: strips long enough to fill the table and clear it.
  const RgbImage source = makeTestImage(700, 90, 3);
  MappedImage mappedSource = makeTestMapped(700, 90, 256, 3);
  struct Case {
    const char* name;
    const char* options;  // empty: written by the library
    bool mapped;
  };
  const Case cases[] = {
      {"own-rgb", "", false},
      {"own-map", "", true},
      {"peer-rgb", "-type TrueColor -depth 8 -compress LZW", false},
      {"peer-rgb-predictor", "-type TrueColor -depth 8 -compress LZW -define tiff:predictor=2", false},
      {"peer-grey-predictor", "-colorspace Gray -depth 8 -compress LZW -define tiff:predictor=2", true},
      {"peer-rgb-one-strip", "-type TrueColor -depth 8 -compress LZW -define tiff:rows-per-strip=90", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = tempPath(std::string(c.name) + ".tif");
    if (*c.options)
      path = peerFile(source, c.options, std::string(c.name) + ".tif");
    else if (c.mapped)
      ASSERT_EQ(PIC_OK, picSaveMap(700, 90, PIC_DRIVER_TIFF | PIC_COMP_LZW, mappedSource.indices.data(), 256,
                                   mappedSource.map.data(), path.c_str()));
    else
      ASSERT_EQ(PIC_OK, picSaveRGB(700, 90, PIC_DRIVER_TIFF | PIC_COMP_LZW, source.red.data(),
                                   source.green.data(), source.blue.data(), path.c_str()));
    const std::vector<uint8_t> expected = libtiffScanlines(path);
    ASSERT_EQ(size_t(700) * 90 * (c.mapped ? 1 : 3), expected.size());
    EXPECT_TRUE(expected == librarySamples(path, c.mapped));
  }
}

TEST(TiffLzw, HostileStripGivesTheLinesItHoldsThenAReadError) {
  // 4 x 3 grey, one strip: 12 literals make the lines 'a'..'l'.
  std::vector<int> lines = {256};
  for (int i = 0; i < 12; ++i) lines.push_back('a' + i);
  auto withTail = [&](std::vector<int> tail) {
    std::vector<int> codes(lines.begin(), lines.begin() + 9);  // clear and two lines
    codes.insert(codes.end(), tail.begin(), tail.end());
    return packLzwCodes(codes);
  };
  std::vector<int> whole = lines;
  whole.push_back(257);
  struct Case {
    const char* name;
    std::vector<uint8_t> strip;
    int linesRead;  // then PIC_ERR_READ, unless all 3
  };
  const Case cases[] = {
      {"whole", packLzwCodes(whole), 3},
      {"longer than needed", withTail({'i', 'j', 'k', 'l', 'm', 'n', 'o', 257}), 3},
      {"code beyond the table", withTail({'i', 'j', 400}), 2},
      {"end code early", withTail({'i', 257}), 2},
      {"cut", withTail({}), 2},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile(std::string("hostile-") + c.name + ".tif",
                                           simpleTiff(4, 3, 8, 1, 1, c.strip, {}, COMPRESSION_LZW));
    int status = PIC_OK;
    picDriver* driver = picTiffDriver();
    picClearReason();
    picFile* open = driver->openRead(path.c_str(), &status);
    ASSERT_EQ(PIC_OK, status);
    uint8_t line[4];
    for (int y = 0; y < c.linesRead; ++y) {
      ASSERT_EQ(PIC_OK, driver->readLine(open, line));
      EXPECT_EQ(std::string(1, char('a' + 4 * y)), std::string(line, line + 1));
    }
    if (c.linesRead < 3) {
      EXPECT_EQ(PIC_ERR_READ, driver->readLine(open, line));
      EXPECT_STREQ("strip data cut or damaged", picLastReason());
    }
    driver->close(open);
  }
}

TEST(Tiff, TruncatedFilesEndInAStatus) {
  const RgbImage source = makeTestImage(40, 30, 11);
  const std::pair<const char*, const char*> kinds[] = {
      {"trunc-rgb-lzw", "-type TrueColor -depth 8 -compress LZW"},
      {"trunc-palette-packbits", "-depth 8 -colors 40 -type Palette -compress RLE"},
      {"trunc-grey4", "-colorspace Gray -depth 4 -compress None"},
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.first);
    const std::vector<uint8_t> whole = readFileBytes(peerFile(source, kind.second, std::string(kind.first) + ".tif"));
    ASSERT_FALSE(whole.empty());
    testing::internal::CaptureStderr();
    for (size_t length = 0; length < whole.size(); length += length < 300 ? 1 : 37) {
      const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + long(length));
      RgbImage image;
      const int fromMemory = memoryLoadRGB(bytes, &image);
      const int fromDisk = libraryLoadRGB(writeTempFile("truncated.tif", bytes), &image);
      EXPECT_EQ(fromDisk, fromMemory) << length;
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
  }
}

TEST(Tiff, SavedInputsEndInAStatus) {
  namespace fs = std::filesystem;
  const fs::path directory = fs::path(SOLSYS_TEST_DATA) / "tiff";
  ASSERT_TRUE(fs::is_directory(directory));
  for (const auto& entry : fs::directory_iterator(directory)) {
    SCOPED_TRACE(entry.path().string());
    const std::vector<uint8_t> bytes = readFileBytes(entry.path().string());
    RgbImage image;
    const int status = memoryLoadRGB(bytes, &image);
    EXPECT_TRUE(status >= PIC_OK && status <= PIC_ERR_COMPRESSION) << status;
    EXPECT_EQ(status, libraryLoadRGB(entry.path().string(), &image));
  }
}

// ---- The descriptor beside the driver -------------------------------------

TEST(Tiff, DescriptorNamesTheDriverAndItsMinimalHeaderIsDescribedAtItsSize) {
  EXPECT_EQ(picTiffDriver(), picTiffFormat.driver());
  const std::string path = writeTempFile("minimal.tif", picTiffFormat.minimalHeader(300, 200));
  int width = 0, height = 0;
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
  EXPECT_EQ(300, width);
  EXPECT_EQ(200, height);
}

}  // namespace
