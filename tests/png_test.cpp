// PNG driver: every colour type and depth made by ImageMagick, netpbm and
// Pillow against their decodes, our files read back by all three, hand-built
// hostile headers, truncated files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "support/format_peers.h"

extern const picFormatInfo picPngFormat;

namespace {

int pngFormat() { return extraDriversIndex() + PIC_EXTRA_PNG; }

struct Ihdr {
  int depth, colourType, interlace;
};
Ihdr ihdrOf(const std::vector<uint8_t>& bytes) {
  return bytes.size() < 33 ? Ihdr{-1, -1, -1} : Ihdr{bytes[24], bytes[25], bytes[28]};
}

void putWord(std::vector<uint8_t>& bytes, uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(word >> shift));
}

void putChunk(std::vector<uint8_t>& bytes, const char* type, const std::vector<uint8_t>& data) {
  putWord(bytes, uint32_t(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  bytes.insert(bytes.end(), typed.begin(), typed.end());
  putWord(bytes, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

// A PNG of the given header whose image data is `deflated`.
std::vector<uint8_t> pngFileOf(uint32_t width, uint32_t height, int depth, int colourType, int interlace,
                               const std::vector<uint8_t>& palette, const std::vector<uint8_t>& deflated) {
  std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  putWord(header, width);
  putWord(header, height);
  header.insert(header.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, uint8_t(interlace)});
  putChunk(bytes, "IHDR", header);
  if (!palette.empty()) putChunk(bytes, "PLTE", palette);
  putChunk(bytes, "IDAT", deflated);
  putChunk(bytes, "IEND", {});
  return bytes;
}

std::vector<uint8_t> deflate(const std::vector<uint8_t>& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  std::vector<uint8_t> deflated(size);
  compress(deflated.data(), &size, raw.data(), uLong(raw.size()));
  deflated.resize(size);
  return deflated;
}

// A PNG of the given header whose image data deflates `raw` (filter bytes included).
std::vector<uint8_t> pngFile(uint32_t width, uint32_t height, int depth, int colourType, int interlace,
                             const std::vector<uint8_t>& palette, const std::vector<uint8_t>& raw) {
  return pngFileOf(width, height, depth, colourType, interlace, palette, deflate(raw));
}

// `bytes` with a chunk put in at `at`.
std::vector<uint8_t> withChunk(std::vector<uint8_t> bytes, size_t at, const char* type,
                               const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunk;
  putChunk(chunk, type, data);
  bytes.insert(bytes.begin() + long(at), chunk.begin(), chunk.end());
  return bytes;
}

const RgbImage& source() {
  static const RgbImage image = makeTestImage(37, 13, 5);
  return image;
}

TEST(Png, LoadsEveryColourTypeAndDepthLikeThePeers) {
  pngFormat();
  ASSERT_TRUE(toolInstalled(peerConvert()) && toolInstalled("pngtopnm"));
  const std::string ppm = tempPath("png-source.ppm");
  ASSERT_TRUE(writePpm(ppm, source()));
  const std::string magick = std::string(peerConvert()) + " '" + ppm + "' ";
  const std::string grey = magick + "-colorspace Gray ";
  const std::string halfAlpha = "-alpha set -channel A -fx 'i/w' +channel ";
  const std::string pillow = "/usr/bin/python3 -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); ";
  const std::string quantise = pillow + "im.quantize";
  struct Case {
    const char* name;
    std::string command;  // writes the file OUT
    Ihdr ihdr;
    int mode, colours;
    // netpbm judges every file. Pillow cuts 16-bit samples to their high
    // byte; ImageMagick is one off on some samples of 16-bit RGB from netpbm.
    bool pillowToo;
    bool magickToo = true;
  };
  const Case cases[] = {
      {"grey 1", grey + "-define png:color-type=0 -define png:bit-depth=1 OUT", {1, 0, 0}, PIC_MAP, 2, true},
      {"grey 2", grey + "-define png:color-type=0 -define png:bit-depth=2 OUT", {2, 0, 0}, PIC_MAP, 4, true},
      {"grey 4", grey + "-define png:color-type=0 -define png:bit-depth=4 OUT", {4, 0, 0}, PIC_MAP, 16, true},
      {"grey 8", grey + "-define png:color-type=0 -define png:bit-depth=8 OUT", {8, 0, 0}, PIC_MAP, 256, true},
      {"grey 16", grey + "-define png:color-type=0 -define png:bit-depth=16 OUT", {16, 0, 0}, PIC_RGB, 0, false},
      {"grey 16, interlaced", grey + "-interlace PNG -define png:color-type=0 -define png:bit-depth=16 OUT",
       {16, 0, 1}, PIC_RGB, 0, false},
      {"palette 1", quantise + "(2).save(sys.argv[2], bits=1)' '" + ppm + "' OUT", {1, 3, 0}, PIC_MAP, 2, true},
      {"palette 2", quantise + "(4).save(sys.argv[2], bits=2)' '" + ppm + "' OUT", {2, 3, 0}, PIC_MAP, 4, true},
      {"palette 4", quantise + "(16).save(sys.argv[2], bits=4)' '" + ppm + "' OUT", {4, 3, 0}, PIC_MAP, 16, true},
      {"palette 4, interlaced", magick + "-colors 16 ppm:- | pnmtopng -interlace > OUT", {4, 3, 1}, PIC_MAP, -1, true},
      {"palette 8 (netpbm)", magick + "-colors 200 ppm:- | pnmtopng > OUT", {8, 3, 0}, PIC_MAP, -1, true},
      {"palette 8 with tRNS (Pillow)",
       pillow + "p = im.quantize(30); p.info[\"transparency\"] = 3; p.save(sys.argv[2], transparency=3)' '" + ppm + "' OUT",
       {8, 3, 0}, PIC_MAP, 256, true},  // 30 entries, black past them
      {"grey with alpha 8", grey + halfAlpha + "-define png:color-type=4 -define png:bit-depth=8 OUT", {8, 4, 0},
       PIC_RGB, 0, true},
      {"grey with alpha 16", grey + halfAlpha + "-define png:color-type=4 -define png:bit-depth=16 OUT", {16, 4, 0},
       PIC_RGB, 0, false},
      {"RGB 8", magick + "PNG24:OUT", {8, 2, 0}, PIC_RGB, 0, true},
      {"RGB 8, interlaced", magick + "-interlace PNG PNG24:OUT", {8, 2, 1}, PIC_RGB, 0, true},
      {"RGB 16", "pamdepth 1000 '" + ppm + "' | " + peerConvert() + " ppm:- PNG48:OUT", {16, 2, 0}, PIC_RGB, 0, false, false},
      {"RGB 16, interlaced", "pamdepth 1000 '" + ppm + "' | " + peerConvert() + " ppm:- -interlace PNG PNG48:OUT",
       {16, 2, 1}, PIC_RGB, 0, false, false},
      {"RGBA 8", magick + halfAlpha + "PNG32:OUT", {8, 6, 0}, PIC_RGB, 0, true},
      {"RGBA 8 (Pillow)", pillow + "im.putalpha(128); im.save(sys.argv[2])' '" + ppm + "' OUT", {8, 6, 0}, PIC_RGB, 0, true},
      {"RGBA 16", magick + halfAlpha + "PNG64:OUT", {16, 6, 0}, PIC_RGB, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath("outside.png");
    std::string command = c.command;
    command.replace(command.find("OUT"), 3, "'" + path + "'");
    ASSERT_TRUE(runCommand(command));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    const Ihdr ihdr = ihdrOf(bytes);
    if (std::string(c.name).find("tRNS") != std::string::npos) {
      EXPECT_NE(std::string::npos, std::string(bytes.begin(), bytes.end()).find("tRNS"));
    }
    EXPECT_EQ(c.ihdr.depth, ihdr.depth);
    EXPECT_EQ(c.ihdr.colourType, ihdr.colourType);
    EXPECT_EQ(c.ihdr.interlace, ihdr.interlace);
    int mode = -1, colours = -1, format = -1;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), nullptr, nullptr, &mode, &colours));
    EXPECT_EQ(c.mode, mode);
    if (c.colours >= 0) {
      EXPECT_EQ(c.colours, colours);
    }
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(pngFormat() | PIC_COMP_RLE, format);
    RgbImage byNetpbm, byMagick, byPillow, ours, fromMemory;
    ASSERT_TRUE(netpbmDecode("pngtopnm '" + path + "'", &byNetpbm));
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &ours));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(byNetpbm, ours));
    EXPECT_EQ(0u, countDifferences(ours, fromMemory));
    if (c.magickToo) {
      ASSERT_TRUE(peerDecode(path, &byMagick));
      EXPECT_EQ(0u, countDifferences(byMagick, ours));
    }
    if (c.pillowToo) {
      ASSERT_TRUE(pillowDecode(path, &byPillow));
      EXPECT_EQ(0u, countDifferences(byPillow, ours));
    }
  }
}

TEST(Png, WritesRgbAndPaletteFilesThatThePeersReadBack) {
  const MappedImage mapped = makeTestMapped(37, 13, 150, 2);
  expectRgbRoundTrip(source(), pngFormat(), tempPath("round.png"));
  for (const int compression : {PIC_COMP_NONE, PIC_COMP_RLE}) {
    SCOPED_TRACE(compression);
    std::vector<uint8_t> rgbBytes, mapBytes;
    ASSERT_EQ(PIC_OK, memorySaveRGB(source(), pngFormat() | compression, &rgbBytes));
    ASSERT_EQ(PIC_OK, memorySaveMap(mapped, pngFormat() | compression, &mapBytes));
    EXPECT_EQ(2, ihdrOf(rgbBytes).colourType);
    EXPECT_EQ(3, ihdrOf(mapBytes).colourType);
    MappedImage loaded;
    ASSERT_EQ(PIC_OK, memoryLoadMap(mapBytes, &loaded));
    EXPECT_EQ(mapped.indices, loaded.indices);
    // 8-bit indices are described with 256 colours, black past the palette written.
    std::vector<int32_t> map = mapped.map;
    map.resize(PIC_MAX_COLOURS, 0);
    EXPECT_EQ(map, loaded.map);
    const std::pair<const std::vector<uint8_t>*, RgbImage> files[] = {{&rgbBytes, source()},
                                                                      {&mapBytes, mappedToRgb(mapped)}};
    for (const auto& file : files) {
      const std::string path = writeTempFile("ours.png", *file.first);
      RgbImage byNetpbm, byMagick, byPillow;
      ASSERT_TRUE(netpbmDecode("pngtopnm '" + path + "'", &byNetpbm));
      ASSERT_TRUE(peerDecode(path, &byMagick));
      ASSERT_TRUE(pillowDecode(path, &byPillow));
      for (const RgbImage* decoded : {&byNetpbm, &byMagick, &byPillow})
        EXPECT_EQ(0u, countDifferences(file.second, *decoded));
    }
  }
  const uint8_t pixel[1] = {0};
  const int32_t map[1] = {0};
  const std::string path = tempPath("refused.png");
  EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveRGB(1, 1, pngFormat() | PIC_COMP_LZW, pixel, pixel, pixel, path.c_str()));
  EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveMap(1, 1, pngFormat() | PIC_COMP_LZW, pixel, 1, map, path.c_str()));
  EXPECT_EQ(PIC_ERR_DATA, picSaveMap(1, 1, pngFormat(), pixel, 0, map, path.c_str()));
}

// The resolution callback is a plain function: what it hands a save, and
// what a load gave it, live here.
struct Resolution {
  double x = 0, y = 0;
  int unit = PIC_RES_NONE;
};
Resolution resolutionToGive, resolutionSeen;

int exchangeResolution(const char*, double* x, double* y, int* unit) {
  resolutionSeen = {*x, *y, *unit};
  *x = resolutionToGive.x;
  *y = resolutionToGive.y;
  *unit = resolutionToGive.unit;
  return 0;
}

// The pHYs fields of a file (x, y, unit), or none.
std::vector<uint32_t> physOf(const std::vector<uint8_t>& bytes) {
  const char type[] = "pHYs";
  const auto at = std::search(bytes.begin(), bytes.end(), type, type + 4);
  if (bytes.end() - at < 13) return {};
  const auto word = [&](long offset) {
    return uint32_t(at[offset]) << 24 | uint32_t(at[offset + 1]) << 16 | uint32_t(at[offset + 2]) << 8 | at[offset + 3];
  };
  return {word(4), word(8), at[12]};
}

TEST(Png, ResolutionTravelsThroughTheCallbackAsPhys) {
  pngFormat();
  picSetResolutionCallback(exchangeResolution);
  struct Case {
    const char* name;
    Resolution saved;
    std::vector<uint32_t> phys;  // as written
    Resolution loaded;           // as the callback sees it
  };
  const Case cases[] = {
      {"300 dpi", {300, 150, PIC_RES_INCH}, {11811, 5906, 1}, {118.11, 59.06, PIC_RES_CM}},
      {"per centimetre", {118.11, 40, PIC_RES_CM}, {11811, 4000, 1}, {118.11, 40, PIC_RES_CM}},
      {"no unit: no pHYs", {300, 300, PIC_RES_NONE}, {}, {0, 0, PIC_RES_NONE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resolutionToGive = c.saved;
    const std::string path = tempPath("dense.png");
    ASSERT_EQ(PIC_OK, picSaveRGB(source().width, source().height, pngFormat(), source().red.data(),
                                 source().green.data(), source().blue.data(), path.c_str()));
    EXPECT_EQ(PIC_RES_NONE, resolutionSeen.unit);  // a save asks, with zeros to fill in
    EXPECT_EQ(0.0, resolutionSeen.x);
    EXPECT_EQ(c.phys, physOf(readFileBytes(path)));
    resolutionToGive = {};
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(c.loaded.unit, resolutionSeen.unit);
    EXPECT_NEAR(c.loaded.x, resolutionSeen.x, 1e-9);
    EXPECT_NEAR(c.loaded.y, resolutionSeen.y, 1e-9);
  }
  // Pillow reads the density of a 300 dpi save as 300 dpi.
  const std::string path = tempPath("300dpi.png"), said = tempPath("300dpi.txt");
  resolutionToGive = {300, 300, PIC_RES_INCH};
  ASSERT_EQ(PIC_OK, picSaveRGB(source().width, source().height, pngFormat(), source().red.data(),
                               source().green.data(), source().blue.data(), path.c_str()));
  ASSERT_TRUE(runCommand("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                         "print(*[round(v) for v in Image.open(sys.argv[1]).info[\"dpi\"]])' '" +
                         path + "' > '" + said + "'"));
  const std::vector<uint8_t> text = readFileBytes(said);
  EXPECT_EQ("300 300\n", std::string(text.begin(), text.end()));
  // An unknown unit gives its aspect values.
  std::vector<uint8_t> aspect = pngFile(2, 1, 8, 0, 0, {}, {0, 10, 20});
  std::vector<uint8_t> phys;
  putWord(phys, 3);
  putWord(phys, 2);
  phys.push_back(0);  // unit unknown
  std::vector<uint8_t> chunk;
  putChunk(chunk, "pHYs", phys);
  aspect.insert(aspect.begin() + 33, chunk.begin(), chunk.end());  // after IHDR
  RgbImage loaded;
  ASSERT_EQ(PIC_OK, memoryLoadRGB(aspect, &loaded));
  EXPECT_EQ(PIC_RES_NONE, resolutionSeen.unit);
  EXPECT_EQ(3.0, resolutionSeen.x);
  EXPECT_EQ(2.0, resolutionSeen.y);
  picSetResolutionCallback(nullptr);
}

long peakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// A load read line by line through the driver, as picLoadRGB reads it, with
// no planes of the claimed size: the status that ends it.
int loadThroughDriver(const std::string& path) {
  int status = -2;
  picFile* file = picPngDriver()->openRead(path.c_str(), &status);
  if (!file) return status;
  std::vector<uint8_t> line(size_t(file->width) * 3);
  uint8_t* planes[3] = {line.data(), line.data() + file->width, line.data() + 2 * size_t(file->width)};
  for (int y = 0; status == PIC_OK && y < file->height; ++y)
    status = file->colourMode == PIC_MAP ? picPngDriver()->readLine(file, planes[0])
                                         : picPngDriver()->readRGBLine(file, planes[0], planes[1], planes[2]);
  picPngDriver()->close(file);
  return status;
}

std::vector<uint8_t> firstBytes(const std::vector<uint8_t>& bytes, size_t length) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(length));
}

TEST(Png, HostileAndMalformedFilesEndInAStatus) {
  pngFormat();
  const std::vector<uint8_t> grey2x1 = {0, 10, 20};
  // 4 x 3 indices: signature 0-7, IHDR 8-32, PLTE 33-56, IDAT from 57.
  const std::vector<uint8_t> palette = pngFile(4, 3, 8, 3, 0, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255},
                                               {0, 0, 1, 2, 3, 0, 3, 2, 1, 0, 0, 1, 1, 2, 2});
  std::vector<uint8_t> badCrc = pngFile(2, 1, 8, 0, 0, {}, grey2x1);
  badCrc[29] ^= 1;
  const std::vector<uint8_t> grey4x3 = {0, 1, 2, 3, 4, 1, 1, 2, 3, 4, 2, 1, 2, 3, 4};  // None, Sub, Up rows
  const std::vector<uint8_t> grey4x3File = pngFile(4, 3, 8, 0, 0, {}, grey4x3);
  const std::vector<uint8_t> grey2x1File = pngFile(2, 1, 8, 0, 0, {}, grey2x1);
  std::vector<uint8_t> badDataCrc = grey4x3File;
  badDataCrc[badDataCrc.size() - 13] ^= 1;  // IDAT's CRC, before IEND's 12 bytes
  std::vector<uint8_t> wrongAdler = deflate(grey4x3);
  wrongAdler.back() ^= 1;
  std::vector<uint8_t> tooLong = grey2x1File;
  tooLong.insert(tooLong.begin() + 33, {0x80, 0, 0, 0, 't', 'E', 'X', 't'});  // a chunk claiming 2 GB
  std::vector<uint8_t> bigInterlaced = pngFile(20000, 20000, 8, 0, 1, {}, {0});
  bigInterlaced.resize(bigInterlaced.size() + (1 << 19));  // room enough for the deflate data
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int infoStatus, loadStatus;
    const char* reason;  // the load's
  };
  const char* const tooShort = "file too short for its picture";
  const char* const cutImage = "image data cut or damaged";
  const char* const cutChunks = "chunks before the image data cut or damaged";
  const char* const cutHeader = "file ends inside the header";
  const Case cases[] = {
      {"huge, in a tiny file", pngFile(100000, 100000, 8, 2, 0, {}, {0}), PIC_ERR_DATA, PIC_ERR_DATA,
       "sides too large for the library"},
      {"2 G pixels, in a tiny file", pngFile(1000000, 2000, 8, 0, 0, {}, {0}), PIC_OK, PIC_ERR_READ, tooShort},
      {"wide, in a tiny file", pngFile(1000000, 1, 16, 6, 0, {}, {0}), PIC_OK, PIC_ERR_READ, tooShort},
      {"interlaced, 400 M pixels, data that ends", bigInterlaced, PIC_OK, PIC_ERR_READ, cutImage},
      {"no width", pngFile(0, 1, 8, 0, 0, {}, grey2x1), PIC_ERR_DATA, PIC_ERR_DATA, "a side of no pixels"},
      {"RGB of 4 bits", pngFile(2, 1, 4, 2, 0, {}, grey2x1), PIC_OK, PIC_ERR_DATA,
       "bit depth not allowed for the colour type"},
      {"header CRC damaged", badCrc, PIC_ERR_READ, PIC_ERR_READ, "bad CRC"},
      {"palette missing", pngFile(2, 1, 8, 3, 0, {}, grey2x1), PIC_ERR_READ, PIC_ERR_READ,
       "no PLTE before the image data"},
      {"image data short", pngFile(4, 3, 8, 0, 0, {}, {0, 1, 2, 3, 4, 0, 1}), PIC_OK, PIC_ERR_READ, cutImage},
      {"cut in the signature", firstBytes(palette, 5), PIC_ERR_READ, PIC_ERR_READ, cutHeader},
      {"cut in IHDR", firstBytes(palette, 20), PIC_ERR_READ, PIC_ERR_READ, cutHeader},
      {"cut in PLTE", firstBytes(palette, 45), PIC_ERR_READ, PIC_ERR_READ, cutChunks},
      {"cut in IDAT", firstBytes(palette, palette.size() - 20), PIC_OK, PIC_ERR_READ, cutImage},
      // Damage after the image data fails the last line's read.
      {"IDAT CRC damaged", badDataCrc, PIC_OK, PIC_ERR_READ, "bad CRC"},
      {"Adler-32 wrong", pngFileOf(4, 3, 8, 0, 0, {}, wrongAdler), PIC_OK, PIC_ERR_READ, "bad Adler-32"},
      {"zlib header wrong", pngFileOf(2, 1, 8, 0, 0, {}, {0x78, 0x9d, 3, 0}), PIC_OK, PIC_ERR_READ, "bad zlib header"},
      {"filter type 5", pngFile(2, 1, 8, 0, 0, {}, {5, 10, 20}), PIC_OK, PIC_ERR_READ, "unknown filter type"},
      {"no IEND", firstBytes(grey4x3File, grey4x3File.size() - 12), PIC_OK, PIC_ERR_READ, "file ends before IEND"},
      {"IEND before IDAT", withChunk(grey2x1File, 33, "IEND", {}), PIC_ERR_READ, PIC_ERR_READ,
       "IEND before the image data"},
      {"a chunk after IEND ignored", withChunk(grey2x1File, grey2x1File.size(), "IDAT", {1, 2}), PIC_OK,
       PIC_OK, nullptr},
      {"chunk length over 2^31-1", tooLong, PIC_ERR_READ, PIC_ERR_READ, "chunk length over 2^31-1"},
      {"unknown critical chunk", withChunk(grey2x1File, 33, "HUGE", {}), PIC_ERR_READ,
       PIC_ERR_READ, "unknown critical chunk"},
      {"cut after IHDR, too short for its picture", firstBytes(pngFile(1000, 1000, 8, 2, 0, {}, {0}), 45),
       PIC_OK, PIC_ERR_READ, tooShort},
  };
  const long before = peakResidentMegabytes();
  picSetPixelLimit(0);  // the guards below the pixel limit, which limits_test covers
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("hostile.png", c.bytes);
    EXPECT_EQ(c.infoStatus, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
    uint8_t planes[3 * 16] = {};
    if (c.loadStatus != PIC_ERR_READ) {
      EXPECT_EQ(c.loadStatus, picLoadRGB(path.c_str(), planes, planes + 16, planes + 32));
      EXPECT_STREQ(c.reason, picLastReason());
      continue;
    }
    picClearReason();
    EXPECT_EQ(c.loadStatus, loadThroughDriver(path));
    EXPECT_STREQ(c.reason, picLastReason());
  }
  picSetPixelLimit(PIC_DEFAULT_PIXEL_LIMIT);
  EXPECT_LT(peakResidentMegabytes() - before, 64);
}

TEST(Png, TruncatedFilesKeepTheirCompleteRows) {
  pngFormat();
  // Stored deflate blocks: each row's bytes lie in the file in order.
  const RgbImage image = makeTestImage(40, 60, 8);
  std::vector<uint8_t> bytes, interlaced;
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, pngFormat() | PIC_COMP_NONE, &bytes));
  expectTruncationsFail(bytes, tempPath("truncated.png"), 60);
  const std::string ppm = tempPath("interlace-source.ppm");
  ASSERT_TRUE(writePpm(ppm, image));
  ASSERT_TRUE(runCommand("pnmtopng -interlace '" + ppm + "' > '" + tempPath("interlaced.png") + "'"));
  expectTruncationsFail(readFileBytes(tempPath("interlaced.png")), tempPath("truncated.png"), 60);

  const size_t row = 1 + 40 * 3;
  const size_t data = 8 + 25 + 12 + 2;  // signature, IHDR, IDAT's length and type, zlib header
  for (const size_t length : {size_t(20), size_t(60), data + 10 * row + 30, data + 40 * row, bytes.size() - 20}) {
    SCOPED_TRACE(length);
    RgbImage loaded(image.width, image.height);
    for (auto* plane : {&loaded.red, &loaded.green, &loaded.blue}) plane->assign(plane->size(), 0xab);
    const std::string path = writeTempFile("cut.png", std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(length)));
    EXPECT_NE(PIC_OK, picLoadRGB(path.c_str(), loaded.red.data(), loaded.green.data(), loaded.blue.data()));
    // Rows arrive in order: the complete ones as written, the rest untouched,
    // and no more than a small read-ahead's worth lost.
    int complete = 0;
    while (complete < image.height && loaded.at(0, complete) != 0xababab) ++complete;
    const int inFile = length < data ? 0 : int((length - data) / row);
    EXPECT_LE(complete, inFile);
    EXPECT_GE(complete, inFile - 10);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        ASSERT_EQ(y < complete ? image.at(x, y) : 0xababab, loaded.at(x, y)) << x << "," << y;
  }
}

TEST(Png, SavedInputsEndInAStatus) {
  pngFormat();
  expectSavedInputsEndInAStatus(std::string(SOLSYS_TEST_DATA) + "/png");
}

// ---- The descriptor beside the driver -------------------------------------

TEST(Png, DescriptorNamesTheDriverAndItsMinimalHeaderIsDescribedAtItsSize) {
  pngFormat();
  EXPECT_EQ(picPngDriver(), picPngFormat.driver());
  const std::string path = writeTempFile("minimal.png", picPngFormat.minimalHeader(300, 200));
  int width = 0, height = 0;
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
  EXPECT_EQ(300, width);
  EXPECT_EQ(200, height);
}

}  // namespace
