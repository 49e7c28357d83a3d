// The JPEG driver: files of every colour space made with libjpeg itself and
// with the outside peer, compared with what libjpeg decodes; round trips on
// disk and in memory; damaged, foreign and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "support/image_peer.h"

extern const picFormatInfo picJpegFormat;

namespace {

// ---- libjpeg as a second party: encodes and decodes memory buffers.

struct EncodeOptions {
  int components = 3;
  J_COLOR_SPACE inputSpace = JCS_RGB;
  J_COLOR_SPACE fileSpace = JCS_YCbCr;
  int quality = 90;
  bool progressive = false;
  int restartRows = 0;
  bool adobeMarker = true;  // libjpeg writes one for CMYK and YCCK unless told not to
  std::vector<jpeg_scan_info> scans;  // a custom scan script when not empty
};

EncodeOptions greyOptions() {
  EncodeOptions options;
  options.components = 1;
  options.inputSpace = JCS_GRAYSCALE;
  options.fileSpace = JCS_GRAYSCALE;
  return options;
}

std::vector<uint8_t> libjpegEncode(int width, int height, const std::vector<uint8_t>& pixels,
                                   const EncodeOptions& options) {
  jpeg_compress_struct compressor;
  jpeg_error_mgr errors;
  compressor.err = jpeg_std_error(&errors);
  jpeg_create_compress(&compressor);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&compressor, &data, &size);
  compressor.image_width = JDIMENSION(width);
  compressor.image_height = JDIMENSION(height);
  compressor.input_components = options.components;
  compressor.in_color_space = options.inputSpace;
  jpeg_set_defaults(&compressor);
  jpeg_set_colorspace(&compressor, options.fileSpace);
  jpeg_set_quality(&compressor, options.quality, TRUE);
  if (!options.adobeMarker) compressor.write_Adobe_marker = FALSE;
  if (options.progressive) jpeg_simple_progression(&compressor);
  if (!options.scans.empty()) {
    compressor.scan_info = options.scans.data();
    compressor.num_scans = int(options.scans.size());
  }
  compressor.restart_in_rows = options.restartRows;
  jpeg_start_compress(&compressor, TRUE);
  const size_t stride = size_t(width) * size_t(options.components);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[compressor.next_scanline * stride]);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  std::vector<uint8_t> bytes(data, data + size);
  jpeg_destroy_compress(&compressor);
  std::free(data);
  return bytes;
}

struct Decoded {
  int width = 0, height = 0, components = 0;
  J_COLOR_SPACE fileSpace = JCS_UNKNOWN;
  bool adobeMarker = false;
  int densityUnit = 0, xDensity = 0, yDensity = 0;
  std::vector<uint8_t> pixels;  // top line first, interleaved
};

// libjpeg's own decoding; its memory source also ends damaged data with an EOI.
Decoded libjpegDecode(const std::vector<uint8_t>& bytes, J_COLOR_SPACE outputSpace) {
  jpeg_decompress_struct decompressor;
  jpeg_error_mgr errors;
  decompressor.err = jpeg_std_error(&errors);
  errors.emit_message = [](j_common_ptr, int) {};
  jpeg_create_decompress(&decompressor);
  jpeg_mem_src(&decompressor, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&decompressor, TRUE);
  Decoded result;
  result.fileSpace = decompressor.jpeg_color_space;
  result.adobeMarker = decompressor.saw_Adobe_marker;
  result.densityUnit = decompressor.density_unit;
  result.xDensity = decompressor.X_density;
  result.yDensity = decompressor.Y_density;
  decompressor.out_color_space = outputSpace;
  jpeg_start_decompress(&decompressor);
  result.width = int(decompressor.output_width);
  result.height = int(decompressor.output_height);
  result.components = decompressor.output_components;
  result.pixels.resize(size_t(result.width) * result.height * result.components);
  while (decompressor.output_scanline < decompressor.output_height) {
    JSAMPROW row = &result.pixels[size_t(decompressor.output_scanline) * result.width * result.components];
    jpeg_read_scanlines(&decompressor, &row, 1);
  }
  jpeg_finish_decompress(&decompressor);
  jpeg_destroy_decompress(&decompressor);
  return result;
}

// An interleaved top-first picture of `components` samples per pixel.
std::vector<uint8_t> makeSamples(int width, int height, int components, unsigned seed = 1) {
  const RgbImage image = makeTestImage(width, height, seed);
  std::vector<uint8_t> samples;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t rgb = image.at(x, y);
      const uint8_t channel[4] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb),
                                  uint8_t((x * 5 + y * 3) & 0xff)};
      for (int c = 0; c < components; ++c) samples.push_back(channel[c]);
    }
  return samples;
}

// The planes a decoded RGB or CMYK picture should load as; inks under an
// Adobe marker are inverted.
RgbImage expectedPlanes(const Decoded& decoded, bool invertedInks) {
  RgbImage image(decoded.width, decoded.height);
  for (int y = 0; y < decoded.height; ++y)
    for (int x = 0; x < decoded.width; ++x) {
      const uint8_t* p = &decoded.pixels[(size_t(y) * decoded.width + x) * decoded.components];
      if (decoded.components == 3) {
        image.set(x, y, p[0], p[1], p[2]);
      } else if (invertedInks) {
        image.set(x, y, uint8_t(p[0] * p[3] / 255), uint8_t(p[1] * p[3] / 255), uint8_t(p[2] * p[3] / 255));
      } else {
        const int white = 255 - p[3];
        image.set(x, y, uint8_t((255 - p[0]) * white / 255), uint8_t((255 - p[1]) * white / 255),
                  uint8_t((255 - p[2]) * white / 255));
      }
    }
  return image;
}

RgbImage greyAsRgb(const Decoded& decoded) {
  RgbImage image(decoded.width, decoded.height);
  for (int y = 0; y < decoded.height; ++y)
    for (int x = 0; x < decoded.width; ++x) {
      const uint8_t v = decoded.pixels[size_t(y) * decoded.width + x];
      image.set(x, y, v, v, v);
    }
  return image;
}

// A photograph-like picture without sharp colour edges, which chroma
// subsampling would blur: smooth gradients and a soft disc.
RgbImage makeSmoothImage(int width, int height) {
  RgbImage image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int dx = x - width / 2, dy = y - height / 2;
      const int disc = std::max(0, 255 - (dx * dx + dy * dy) * 255 / (width * width / 4 + 1));
      image.set(x, y, uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t(disc));
    }
  return image;
}

// Mean absolute difference per sample, for lossy comparisons.
double meanDifference(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.red.size(); ++i)
    sum += std::abs(a.red[i] - b.red[i]) + std::abs(a.green[i] - b.green[i]) + std::abs(a.blue[i] - b.blue[i]);
  return sum / double(a.red.size() * 3);
}

bool fileExists(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

picDriver* jpeg() { return picJpegDriver(); }

// Reads up to `lines` lines of an open file with the driver; the first status
// that is not PIC_OK, or PIC_OK.
int readLines(picFile* file, int lines) {
  std::vector<uint8_t> r(size_t(file->width)), g(r), b(r);
  for (int k = 0; k < lines; ++k) {
    const int status = file->colourMode == PIC_MAP ? jpeg()->readLine(file, r.data())
                                                   : jpeg()->readRGBLine(file, r.data(), g.data(), b.data());
    if (status != PIC_OK) return status;
  }
  return PIC_OK;
}

// ---- Reading.

TEST(Jpeg, ReadsEveryColourSpaceAsLibjpegDecodesIt) {
  struct Case {
    const char* name;
    int components;
    J_COLOR_SPACE inputSpace, fileSpace, outputSpace;
    int colourMode;
  };
  const Case cases[] = {
      {"ycbcr", 3, JCS_RGB, JCS_YCbCr, JCS_RGB, PIC_RGB},
      {"rgb", 3, JCS_RGB, JCS_RGB, JCS_RGB, PIC_RGB},
      {"cmyk", 4, JCS_CMYK, JCS_CMYK, JCS_CMYK, PIC_RGB},
      {"ycck", 4, JCS_CMYK, JCS_YCCK, JCS_CMYK, PIC_RGB},
      {"grey", 1, JCS_GRAYSCALE, JCS_GRAYSCALE, JCS_GRAYSCALE, PIC_MAP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncodeOptions options;
    options.components = c.components;
    options.inputSpace = c.inputSpace;
    options.fileSpace = c.fileSpace;
    const std::vector<uint8_t> bytes = libjpegEncode(45, 29, makeSamples(45, 29, c.components), options);
    const Decoded decoded = libjpegDecode(bytes, c.outputSpace);
    ASSERT_EQ(decoded.fileSpace, c.fileSpace);
    const std::string path = writeTempFile(std::string(c.name) + ".jpg", bytes);

    int format = 0, width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(0x106, format);
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
    EXPECT_EQ(45, width);
    EXPECT_EQ(29, height);
    EXPECT_EQ(c.colourMode, mode);
    EXPECT_EQ(c.colourMode == PIC_MAP ? 256 : 0, colours);

    const RgbImage expected = c.colourMode == PIC_MAP ? greyAsRgb(decoded)
                                                      : expectedPlanes(decoded, decoded.adobeMarker);
    RgbImage fromDisk, fromMemory;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, fromDisk));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));

    if (c.colourMode == PIC_MAP) {
      MappedImage mapped;
      ASSERT_EQ(PIC_OK, libraryLoadMap(path, &mapped));
      ASSERT_EQ(256u, mapped.map.size());
      for (int i = 0; i < 256; ++i) EXPECT_EQ(i * 0x010101, mapped.map[size_t(i)]);
      EXPECT_EQ(0u, countDifferences(expected, mappedToRgb(mapped)));
    } else {
      MappedImage mapped;
      EXPECT_EQ(PIC_ERR_DATA, libraryLoadMap(path, &mapped));
    }
  }
}

TEST(Jpeg, InksUnderAnAdobeMarkerAreInvertedOthersArePlain) {
  // One pixel of known inks: cyan 200, magenta 100, yellow 50, black 60.
  std::vector<uint8_t> inks;
  for (int i = 0; i < 16 * 16; ++i) inks.insert(inks.end(), {200, 100, 50, 60});
  struct Case {
    const char* name;
    J_COLOR_SPACE space;
    bool adobeMarker;
  };
  const Case cases[] = {{"cmyk, Adobe marker", JCS_CMYK, true},
                        {"cmyk, no marker", JCS_CMYK, false},
                        {"ycck", JCS_YCCK, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncodeOptions options;
    options.components = 4;
    options.inputSpace = JCS_CMYK;
    options.fileSpace = c.space;
    options.quality = 100;
    options.adobeMarker = c.adobeMarker;
    const std::vector<uint8_t> bytes = libjpegEncode(16, 16, inks, options);
    const Decoded decoded = libjpegDecode(bytes, JCS_CMYK);
    ASSERT_EQ(c.space, decoded.fileSpace);
    ASSERT_EQ(c.adobeMarker, decoded.adobeMarker);
    const uint8_t* p = decoded.pixels.data();
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
    const uint32_t expected =
        c.adobeMarker
            ? uint32_t(p[0] * p[3] / 255) << 16 | uint32_t(p[1] * p[3] / 255) << 8 | uint32_t(p[2] * p[3] / 255)
            : uint32_t((255 - p[0]) * (255 - p[3]) / 255) << 16 |
                  uint32_t((255 - p[1]) * (255 - p[3]) / 255) << 8 | uint32_t((255 - p[2]) * (255 - p[3]) / 255);
    EXPECT_EQ(expected, loaded.at(5, 5));
  }
}

// Pillow writes CMYK as Photoshop does (inverted inks, Adobe marker).
TEST(Jpeg, PillowCmykFileLoadsAsPillowConvertsIt) {
  const std::string path = tempPath("pillow-cmyk.jpg");
  const std::string ppm = path + ".ppm";
  const std::string script =
      "import sys; from PIL import Image; im = Image.new('RGB', (40, 24)); "
      "im.putdata([(x * 6, y * 10, 255 - x * 3 - y * 2) for y in range(24) for x in range(40)]); "
      "im.convert('CMYK').save(sys.argv[1], quality=95); "
      "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])";
  ASSERT_TRUE(runCommand("/usr/bin/python3 -c \"" + script + "\" '" + path + "' '" + ppm + "'"));
  RgbImage expected, loaded;
  ASSERT_TRUE(readPpm(ppm, &expected));
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
  EXPECT_EQ(0u, countDifferences(expected, loaded, 2));
}

TEST(Jpeg, RestartMarkersProgressiveScansAndOddSizesDecodeLikeLibjpeg) {
  struct Case {
    const char* name;
    int width, height;
    bool progressive;
    int restartRows;
  };
  const Case cases[] = {
      {"restart", 70, 50, false, 1},
      {"progressive", 70, 50, true, 0},
      {"progressive-restart", 33, 17, true, 2},
      {"one-pixel", 1, 1, false, 0},
      {"tall", 3, 300, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncodeOptions options;
    options.progressive = c.progressive;
    options.restartRows = c.restartRows;
    const std::vector<uint8_t> bytes = libjpegEncode(c.width, c.height, makeSamples(c.width, c.height, 3), options);
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
    EXPECT_EQ(0u, countDifferences(expectedPlanes(libjpegDecode(bytes, JCS_RGB), false), loaded));
  }
}

// A comment marker of `length` bytes (its two length bytes included) put
// straight after the start-of-image marker; libjpeg skips it unread.
std::vector<uint8_t> withComment(std::vector<uint8_t> bytes, int length) {
  std::vector<uint8_t> marker = {0xFF, 0xFE, uint8_t(length >> 8), uint8_t(length)};
  marker.resize(size_t(length) + 2, 'c');
  bytes.insert(bytes.begin() + 2, marker.begin(), marker.end());
  return bytes;
}

TEST(Jpeg, DataAndSkippedMarkersSpanningManyBufferRefillsDecodeLikeLibjpeg) {
  EncodeOptions options;
  options.quality = 100;
  const std::vector<uint8_t> large = libjpegEncode(500, 400, makeSamples(500, 400, 3), options);
  ASSERT_GT(large.size(), 150000u);  // several refills of the driver's read buffer
  std::vector<uint8_t> commented = libjpegEncode(40, 30, makeSamples(40, 30, 3), options);
  for (int length : {65535, 65000, 3, 65535, 40000}) commented = withComment(commented, length);
  for (const std::vector<uint8_t>* bytes : {&large, static_cast<const std::vector<uint8_t>*>(&commented)}) {
    SCOPED_TRACE(bytes->size());
    const RgbImage expected = expectedPlanes(libjpegDecode(*bytes, JCS_RGB), false);
    RgbImage fromDisk, fromMemory;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(writeTempFile("refills.jpg", *bytes), &fromDisk));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(*bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, fromDisk));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));
  }
}

TEST(Jpeg, TwoComponentFileIsDescribedButNotLoaded) {
  EncodeOptions options;
  options.components = 2;
  options.inputSpace = JCS_UNKNOWN;
  options.fileSpace = JCS_UNKNOWN;
  const std::string path = writeTempFile("two.jpg", libjpegEncode(20, 10, makeSamples(20, 10, 2), options));
  int format = 0, width = 0, height = 0;
  EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(0x106, format);
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
  EXPECT_EQ(20, width);
  EXPECT_EQ(10, height);
  RgbImage image(20, 10);
  EXPECT_EQ(PIC_ERR_DATA, picLoadRGB(path.c_str(), image.red.data(), image.green.data(), image.blue.data()));

  int status = -2;
  picFile* file = jpeg()->openRead(path.c_str(), &status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(PIC_ERR_DATA, status);
  std::vector<uint8_t> line(20);
  EXPECT_NE(PIC_OK, jpeg()->readRGBLine(file, line.data(), line.data(), line.data()));
  EXPECT_NE(PIC_OK, jpeg()->readLine(file, line.data()));
  jpeg()->close(file);
}

// The lines the driver gives of a file before its first failure, top line
// first, each checked against `whole`; *status: what ended them.
int linesGiven(const std::string& name, const RgbImage& whole, int* status) {
  picFile* file = jpeg()->openRead(name.c_str(), status);
  if (!file) return 0;
  std::vector<uint8_t> r(size_t(file->width)), g(r), b(r);
  int lines = 0;
  while (*status == PIC_OK && lines < file->height) {
    *status = file->colourMode == PIC_MAP ? jpeg()->readLine(file, r.data())
                                          : jpeg()->readRGBLine(file, r.data(), g.data(), b.data());
    if (*status != PIC_OK) break;
    if (file->colourMode == PIC_MAP) g = b = r;
    for (int x = 0; x < file->width; ++x)
      EXPECT_EQ(whole.at(x, lines), uint32_t(r[size_t(x)] << 16 | g[size_t(x)] << 8 | b[size_t(x)]))
          << "line " << lines << ", pixel " << x;
    ++lines;
  }
  jpeg()->close(file);
  return lines;
}

int linesGivenFromMemory(std::vector<uint8_t> bytes, const RgbImage& whole, int* status) {
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  const int lines = linesGiven(name, whole, status);
  picUseDiskFiles();
  return lines;
}

// Leading rows libjpeg decodes from `cut` as it does from the whole file.
int rowsAsWhole(const std::vector<uint8_t>& cut, const Decoded& whole, J_COLOR_SPACE space) {
  const Decoded decoded = libjpegDecode(cut, space);
  const size_t row = size_t(whole.width) * size_t(whole.components);
  int rows = 0;
  while (rows < whole.height &&
         std::equal(&decoded.pixels[rows * row], &decoded.pixels[(rows + 1) * row], &whole.pixels[rows * row]))
    ++rows;
  return rows;
}

// A cut file gives the lines its data completes (libjpeg's rows that match the
// whole file's, less at most a block row and the line blended with it), then
// PIC_ERR_READ; a file lacking only its end marker loads whole.
TEST(Jpeg, CutFileGivesTheLinesItsDataCompletesThenAReadError) {
  EncodeOptions progressive, restart;
  progressive.progressive = true;
  restart.restartRows = 1;
  const std::pair<const char*, EncodeOptions> files[] = {
      {"baseline", EncodeOptions()}, {"grey", greyOptions()}, {"progressive", progressive}, {"restart", restart}};
  for (const auto& [kind, options] : files) {
    const J_COLOR_SPACE space = options.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    const std::vector<uint8_t> whole = libjpegEncode(64, 64, makeSamples(64, 64, options.components), options);
    const Decoded decoded = libjpegDecode(whole, space);
    const RgbImage full = space == JCS_GRAYSCALE ? greyAsRgb(decoded) : expectedPlanes(decoded, false);
    const uint8_t scanMarker[] = {0xFF, 0xDA};
    const size_t scan = size_t(std::search(whole.begin(), whole.end(), scanMarker, scanMarker + 2) - whole.begin());
    struct Cut {
      const char* where;
      size_t length;
      int status;
      const char* reason;
    };
    const Cut cuts[] = {{"inside the header", scan - 20, PIC_ERR_FORMAT, "header cut or damaged"},
                        {"inside the scans", (scan + whole.size()) / 2, PIC_ERR_READ, "data ends before the line"},
                        {"inside the last scan", whole.size() - 12, PIC_ERR_READ, "data ends before the line"},
                        {"end marker missing", whole.size() - 2, PIC_OK, nullptr}};
    for (const Cut& cut : cuts) {
      SCOPED_TRACE(std::string(kind) + ", " + cut.where);
      const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + long(cut.length));
      const int complete = cut.status == PIC_ERR_READ ? rowsAsWhole(bytes, decoded, space)
                           : cut.status == PIC_OK     ? 64
                                                      : 0;
      int fromDisk = -2, fromMemory = -2;
      testing::internal::CaptureStderr();
      picClearReason();
      const int diskLines = linesGiven(writeTempFile("cut.jpg", bytes), full, &fromDisk);
      EXPECT_STREQ(cut.reason, picLastReason());
      const int memoryLines = linesGivenFromMemory(bytes, full, &fromMemory);
      EXPECT_EQ("", testing::internal::GetCapturedStderr());  // libjpeg's warnings stay silent
      EXPECT_EQ(cut.status, fromDisk);
      EXPECT_EQ(cut.status, fromMemory);
      EXPECT_EQ(diskLines, memoryLines);
      EXPECT_LE(diskLines, complete);
      EXPECT_GE(diskLines, complete - 17);
    }
  }
}

TEST(Jpeg, LineCallsOfTheOtherColourModeAreRefusedHarmlessly) {
  const std::vector<uint8_t> bytes = libjpegEncode(12, 3, makeSamples(12, 3, 1), greyOptions());
  const Decoded decoded = libjpegDecode(bytes, JCS_GRAYSCALE);
  int status = -2;
  picFile* file = jpeg()->openRead(writeTempFile("lines.jpg", bytes).c_str(), &status);
  ASSERT_NE(nullptr, file);
  std::vector<uint8_t> r(12), g(12), b(12);
  EXPECT_EQ(PIC_ERR_DATA, jpeg()->readRGBLine(file, r.data(), g.data(), b.data()));
  EXPECT_EQ(2, file->currentLine);
  // No line was lost to the refused call: the next one is the top line.
  ASSERT_EQ(PIC_OK, jpeg()->readLine(file, r.data()));
  EXPECT_EQ(std::vector<uint8_t>(decoded.pixels.begin(), decoded.pixels.begin() + 12), r);
  jpeg()->close(file);

  // A grey file being written has room for one sample per pixel only.
  file = jpeg()->openWrite(tempPath("lines-out.jpg").c_str(), 12, 3, PIC_MAP, PIC_COMP_RLE, 2, &status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(PIC_ERR_WRITE, jpeg()->writeRGBLine(file, r.data(), g.data(), b.data()));
  EXPECT_EQ(PIC_ERR_READ, jpeg()->readLine(file, r.data()));
  jpeg()->close(file);
}

TEST(Jpeg, EveryTruncationEndsInAStatus) {
  EncodeOptions options;
  options.progressive = true;
  const std::vector<uint8_t> whole = libjpegEncode(24, 16, makeSamples(24, 16, 3), options);
  for (size_t length = 0; length < whole.size(); length += 7) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(length));
    int status = -2;
    const std::string path = writeTempFile("cut.jpg", cut);
    picFile* file = jpeg()->openRead(path.c_str(), &status);
    if (!file) {
      EXPECT_EQ(PIC_ERR_FORMAT, status);
      continue;
    }
    if (status == PIC_OK) {
      // Only a file lacking no more than its end marker loads whole.
      const bool onlyEndMissing = length + 2 >= whole.size();
      EXPECT_EQ(onlyEndMissing ? PIC_OK : PIC_ERR_READ, readLines(file, file->height));
      if (onlyEndMissing) {
        EXPECT_EQ(-1, file->currentLine);
      }
    } else {
      EXPECT_EQ(PIC_ERR_DATA, status);
    }
    jpeg()->close(file);
  }
}

TEST(Jpeg, EmptyAndForeignFilesAreTurnedAway) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;  // null for a file that is not JPEG: nothing recorded
  };
  const char* const badHeader = "header cut or damaged";
  const Case cases[] = {
      {"empty", {}, nullptr},
      {"one byte", {0xFF}, nullptr},
      {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, nullptr},
      {"bitmap", {'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0}, nullptr},
      {"start marker only", {0xFF, 0xD8}, badHeader},
      {"start then end", {0xFF, 0xD8, 0xFF, 0xD9}, badHeader},
      {"bad frame", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xD9}, badHeader},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int status = -2;
    picClearReason();
    EXPECT_EQ(nullptr, jpeg()->openRead(writeTempFile("foreign", c.bytes).c_str(), &status));
    EXPECT_EQ(PIC_ERR_FORMAT, status);
    EXPECT_STREQ(c.reason, picLastReason());
    if (c.bytes.empty()) continue;  // an empty buffer cannot be named in memory
    std::vector<uint8_t> copy = c.bytes;
    char name[64];
    picMemoryFileName(name, sizeof name, copy.data(), int(copy.size()));
    picUseMemoryFiles();
    status = -2;
    EXPECT_EQ(nullptr, jpeg()->openRead(name, &status));
    picUseDiskFiles();
    EXPECT_EQ(PIC_ERR_FORMAT, status);
  }
  int status = -2;
  EXPECT_EQ(nullptr, jpeg()->openRead(tempPath("missing.jpg").c_str(), &status));
  EXPECT_EQ(PIC_ERR_OPEN, status);
}

// A grey progressive file of many valid scans: every AC coefficient sent
// alone, then refined bit by bit (631 scans when `limit` allows).
std::vector<uint8_t> manyScans(size_t limit) {
  std::vector<jpeg_scan_info> scans;
  scans.push_back({1, {0}, 0, 0, 0, 0});
  for (int k = 1; k < 64 && scans.size() < limit; ++k) {
    scans.push_back({1, {0}, k, k, 0, 9});
    for (int bit = 9; bit > 0 && scans.size() < limit; --bit) scans.push_back({1, {0}, k, k, bit, bit - 1});
  }
  EncodeOptions options = greyOptions();
  options.scans = scans;
  return libjpegEncode(16, 16, makeSamples(16, 16, 1), options);
}

// The driver's answer to a file its guards stop: described, refused with
// PIC_ERR_DATA; the width it describes, or -1 when no file came back.
int refusedWidth(const std::string& path) {
  int status = -2;
  picFile* file = jpeg()->openRead(path.c_str(), &status);
  EXPECT_EQ(PIC_ERR_DATA, status);
  if (!file) return -1;
  const int width = file->width;
  jpeg()->close(file);
  return width;
}

TEST(Jpeg, FileOfTooManyScansIsDescribedButRefused) {
  EXPECT_EQ(16, refusedWidth(writeTempFile("scans.jpg", manyScans(1000))));
}

// Rewrites the frame header's height and width (big-endian, after the length
// and precision fields) of the first start-of-frame marker `frame`.
std::vector<uint8_t> withSize(std::vector<uint8_t> bytes, uint8_t frame, int width, int height) {
  for (size_t i = 0; i + 9 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == frame) {
      bytes[i + 5] = uint8_t(height >> 8);
      bytes[i + 6] = uint8_t(height);
      bytes[i + 7] = uint8_t(width >> 8);
      bytes[i + 8] = uint8_t(width);
      return bytes;
    }
  ADD_FAILURE() << "no frame marker";
  return bytes;
}

TEST(Jpeg, HugeClaimedSizeNeverTurnsIntoAHugeAllocation) {
  EncodeOptions options = greyOptions();
  options.progressive = true;
  const std::vector<uint8_t> small = libjpegEncode(16, 16, makeSamples(16, 16, 1), options);
  // A progressive picture keeps every coefficient: 40000 x 40000 would need 3 GB.
  int status = -2;
  const std::string progressive = writeTempFile("huge-progressive.jpg", withSize(small, 0xC2, 40000, 40000));
  EXPECT_EQ(40000, refusedWidth(progressive));
  // Beyond what a plane can hold: described, not decoded.
  const std::string wide = writeTempFile("huge-wide.jpg", withSize(small, 0xC2, 65500, 65500));
  picFile* file = jpeg()->openRead(wide.c_str(), &status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(PIC_ERR_DATA, status);
  EXPECT_EQ(65500, file->width);
  jpeg()->close(file);
}

// A valid progressive YCbCr 4:2:0 file of flat grey holding its DC scan only:
// a one-symbol Huffman table makes every block's DC difference a single 0 bit.
std::vector<uint8_t> flatProgressive(int width, int height) {
  std::vector<uint8_t> bytes = {0xFF, 0xD8,               // start of image
                                0xFF, 0xDB, 0, 67, 0x00};  // quantisation table 0: all 1
  bytes.insert(bytes.end(), 64, 1);
  const uint8_t frame[] = {0xFF, 0xC2, 0, 17, 8,  // progressive frame, 8-bit samples
                           uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), 3,
                           1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0};  // Y 2x2, Cb and Cr 1x1
  const uint8_t table[] = {0xFF, 0xC4, 0, 20, 0x00,  // DC table 0: one code of 1 bit, for 0
                           1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
  const uint8_t scan[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 0, 0};  // DC, all three
  bytes.insert(bytes.end(), std::begin(frame), std::end(frame));
  bytes.insert(bytes.end(), std::begin(table), std::end(table));
  bytes.insert(bytes.end(), std::begin(scan), std::end(scan));
  const int64_t bits = int64_t((width + 15) / 16) * ((height + 15) / 16) * 6;  // 6 blocks a unit
  bytes.insert(bytes.end(), size_t(bits / 8), 0);
  if (bits % 8) bytes.push_back(uint8_t(0xFF >> (bits % 8)));  // padded with 1 bits
  bytes.insert(bytes.end(), {0xFF, 0xD9});                      // end of image
  return bytes;
}

TEST(Jpeg, ProgressiveFileTooBigToDecodeIsDescribedAndRefusedWithDataError) {
  RgbImage small, grey(40, 24);  // the builder makes files libjpeg decodes: flat grey
  for (auto* plane : {&grey.red, &grey.green, &grey.blue}) plane->assign(plane->size(), 128);
  ASSERT_EQ(PIC_OK, memoryLoadRGB(flatProgressive(40, 24), &small));
  EXPECT_EQ(0u, countDifferences(grey, small));
  // 14000 x 14000 in 574 KB; its coefficients alone would take 588 MB. It is
  // over the pixel limit too: described, with PIC_ERR_DATA.
  const std::string path = writeTempFile("flat-14000.jpg", flatProgressive(14000, 14000));
  int format = 0, width = 0, height = 0, mode = -1;
  EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(0x106, format);
  EXPECT_EQ(PIC_ERR_DATA, picImageInfo(path.c_str(), &width, &height, &mode, nullptr));
  EXPECT_EQ(14000, width);
  EXPECT_EQ(14000, height);
  EXPECT_EQ(PIC_RGB, mode);
  EXPECT_EQ(14000, refusedWidth(path));
  // Without the pixel limit the memory cap refuses it as the file is started.
  picSetPixelLimit(0);
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, nullptr));
  EXPECT_EQ(14000, refusedWidth(path));
  picSetPixelLimit(PIC_DEFAULT_PIXEL_LIMIT);
}

TEST(Jpeg, ManyScansOverAHugeClaimedPictureAreRefusedQuickly) {
  // Fewer scans than the plain limit, but each one walks 64 million pixels of
  // empty data: opening this 16 KB file used to take seconds.
  const std::vector<uint8_t> bytes = withSize(manyScans(490), 0xC2, 8000, 8000);
  EXPECT_EQ(8000, refusedWidth(writeTempFile("scans-huge.jpg", bytes)));
  int status = -2;
  // A genuine progressive picture has about ten scans; at 8000 x 8000 its
  // coefficients would be more than these few bytes justify, so the ten scans
  // claim a picture whose coefficients fit the memory floor.
  EncodeOptions options = greyOptions();
  options.progressive = true;
  const std::vector<uint8_t> ten = withSize(libjpegEncode(16, 16, makeSamples(16, 16, 1), options), 0xC2, 2048, 2048);
  picFile* file = jpeg()->openRead(writeTempFile("ten-scans-huge.jpg", ten).c_str(), &status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(PIC_OK, status);
  jpeg()->close(file);
}

// ---- Writing.

TEST(Jpeg, RgbRoundTripOnDiskAndInMemory) {
  const RgbImage image = makeSmoothImage(67, 41);
  const std::string path = tempPath("round.jpg");
  ASSERT_EQ(PIC_OK, picSaveRGB(image.width, image.height, PIC_DRIVER_JPEG | PIC_COMP_RLE, image.red.data(),
                               image.green.data(), image.blue.data(), path.c_str()));
  std::vector<uint8_t> memoryBytes;
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &memoryBytes));
  const std::vector<uint8_t> diskBytes = readFileBytes(path);
  EXPECT_EQ(diskBytes, memoryBytes);

  const Decoded decoded = libjpegDecode(diskBytes, JCS_RGB);
  EXPECT_EQ(JCS_YCbCr, decoded.fileSpace);
  RgbImage loaded;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
  EXPECT_EQ(0u, countDifferences(expectedPlanes(decoded, false), loaded));
  EXPECT_LT(meanDifference(image, loaded), 1.5);

  RgbImage peer;
  ASSERT_TRUE(peerDecode(path, &peer));
  EXPECT_EQ(0u, countDifferences(loaded, peer, 2));
}

TEST(Jpeg, ColourMappedImageIsWrittenAsGreyLevels) {
  MappedImage image;
  image.width = 4;
  image.height = 2;
  image.map = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  // Index 7 lies beyond the map's four colours.
  image.indices = {0, 1, 2, 3, 3, 2, 1, 7};
  const std::string path = tempPath("grey.jpg");
  ASSERT_EQ(PIC_OK, picSaveMap(4, 2, PIC_DRIVER_JPEG | PIC_COMP_RLE, image.indices.data(), 4,
                               image.map.data(), path.c_str()));
  std::vector<uint8_t> memoryBytes;
  ASSERT_EQ(PIC_OK, memorySaveMap(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &memoryBytes));
  EXPECT_EQ(readFileBytes(path), memoryBytes);

  const Decoded decoded = libjpegDecode(memoryBytes, JCS_GRAYSCALE);
  EXPECT_EQ(JCS_GRAYSCALE, decoded.fileSpace);
  MappedImage loaded;
  ASSERT_EQ(PIC_OK, libraryLoadMap(path, &loaded));
  const std::vector<uint8_t> expected = {76, 150, 28, 255, 255, 28, 150, 0};  // row 0 = bottom
  ASSERT_EQ(expected.size(), loaded.indices.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(expected[i], loaded.indices[i], 2) << "pixel " << i;
  // The decoded samples are the index lines, bottom row first in the plane.
  EXPECT_EQ(std::vector<uint8_t>(decoded.pixels.begin() + 4, decoded.pixels.end()),
            std::vector<uint8_t>(loaded.indices.begin(), loaded.indices.begin() + 4));
}

TEST(Jpeg, WritingRefusesWhatItCannotWrite) {
  const RgbImage image = makeTestImage(8, 8);
  const std::string path = tempPath("uncompressed.jpg");
  EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveRGB(8, 8, PIC_DRIVER_JPEG, image.red.data(), image.green.data(),
                                            image.blue.data(), path.c_str()));
  EXPECT_FALSE(fileExists(path));
  const uint8_t line[65501] = {};
  EXPECT_EQ(PIC_ERR_WRITE, picSaveRGB(65501, 1, PIC_DRIVER_JPEG | PIC_COMP_RLE, line, line, line, path.c_str()));

  struct Case {
    const char* name;
    int width, height, mode, colours, status;
    const char* reason;
  };
  const char* const tooLarge = "a side over 65500 pixels";
  const Case cases[] = {
      {"no compression", 8, 8, PIC_MAP, 2, PIC_ERR_COMPRESSION, "no uncompressed JPEG"},
      {"colours above 256", 8, 8, PIC_MAP, 257, PIC_ERR_DATA, "colour count outside 0 to 256"},
      {"negative colours", 8, 8, PIC_MAP, -1, PIC_ERR_DATA, "colour count outside 0 to 256"},
      {"unknown colour mode", 8, 8, 2, 0, PIC_ERR_DATA, "unknown colour mode"},
      {"wider than JPEG allows", 65501, 1, PIC_RGB, 0, PIC_ERR_WRITE, tooLarge},
      {"taller than JPEG allows", 1, 65501, PIC_RGB, 0, PIC_ERR_WRITE, tooLarge},
      {"wider than JPEG allows, and huge", 65501, 100000, PIC_MAP, 2, PIC_ERR_WRITE, tooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = tempPath(std::string("refused-") + c.name);
    int status = -2;
    const int compression = c.status == PIC_ERR_COMPRESSION ? PIC_COMP_NONE : PIC_COMP_RLE;
    picClearReason();
    EXPECT_EQ(nullptr, jpeg()->openWrite(name.c_str(), c.width, c.height, c.mode, compression, c.colours, &status));
    EXPECT_EQ(c.status, status);
    EXPECT_STREQ(c.reason, picLastReason());
    EXPECT_FALSE(fileExists(name));
  }
}

TEST(Jpeg, FailingWriteIsReportedByTheSave) {
  const RgbImage image = makeTestImage(64, 64);
  std::vector<uint8_t> whole;
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &whole));
  // The last capacity fails only the final flush, which completing the file makes.
  for (int capacity : {100, int(whole.size()) / 2, int(whole.size()) - 1}) {
    SCOPED_TRACE(capacity);
    std::vector<uint8_t> buffer(static_cast<size_t>(capacity));
    char name[64];
    picMemoryFileName(name, sizeof name, buffer.data(), capacity);
    picUseMemoryFiles();
    const int status = picSaveRGB(64, 64, PIC_DRIVER_JPEG | PIC_COMP_RLE, image.red.data(), image.green.data(),
                                  image.blue.data(), name);
    picUseDiskFiles();
    EXPECT_EQ(PIC_ERR_WRITE, status);
  }
}

double writtenX, writtenY;
int writtenUnit;
double seenX, seenY;
int seenUnit, resolutionCalls;

int resolution(const char*, double* x, double* y, int* unit) {
  ++resolutionCalls;
  seenX = *x;
  seenY = *y;
  seenUnit = *unit;
  *x = writtenX;
  *y = writtenY;
  *unit = writtenUnit;
  return 0;
}

TEST(Jpeg, ResolutionTravelsThroughTheCallbackBothWays) {
  struct Case {
    const char* name;
    double x, y;
    int unit;
    int fileUnit, fileX, fileY;
  };
  const Case cases[] = {
      {"inch", 300.7, 150.0, PIC_RES_INCH, 1, 300, 150},
      {"centimetre", 118.0, 59.9, PIC_RES_CM, 2, 118, 59},
      {"no unit", 300.0, 300.0, PIC_RES_NONE, 0, 1, 1},
      {"beyond 16 bits", 1e9, -5.0, PIC_RES_INCH, 1, 65535, 0},
  };
  const RgbImage image = makeTestImage(8, 8);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writtenX = c.x;
    writtenY = c.y;
    writtenUnit = c.unit;
    resolutionCalls = 0;
    ASSERT_EQ(1, picDriverControl(reinterpret_cast<void*>(&resolution), PIC_CONTROL_RESOLUTION, -1));
    std::vector<uint8_t> bytes;
    const int saved = memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &bytes);
    EXPECT_EQ(1, resolutionCalls);
    EXPECT_EQ(0.0, seenX);
    EXPECT_EQ(0.0, seenY);
    EXPECT_EQ(PIC_RES_NONE, seenUnit);
    ASSERT_EQ(PIC_OK, saved);
    const Decoded decoded = libjpegDecode(bytes, JCS_RGB);
    EXPECT_EQ(c.fileUnit, decoded.densityUnit);
    EXPECT_EQ(c.fileX, decoded.xDensity);
    EXPECT_EQ(c.fileY, decoded.yDensity);

    writtenUnit = PIC_RES_NONE;
    const std::string path = writeTempFile("dense.jpg", bytes);
    int width = 0;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr));
    EXPECT_EQ(c.fileUnit == 0 ? 0.0 : double(c.fileX), seenX);
    EXPECT_EQ(c.fileUnit == 0 ? 0.0 : double(c.fileY), seenY);
    EXPECT_EQ(c.fileUnit, seenUnit);
  }
  picDriverControl(nullptr, PIC_CONTROL_RESOLUTION, -1);
}

TEST(Jpeg, QualityControlSetsTheQualityOfLaterSaves) {
  const RgbImage image = makeSmoothImage(96, 64);
  const auto setQuality = [](int* quality) {
    return picDriverControl(quality, PIC_CONTROL_JPEG_QUALITY, PIC_DRIVER_JPEG);
  };
  std::vector<uint8_t> best, fifty, afterRefusals;
  int quality = 50;
  ASSERT_EQ(1, setQuality(&quality));
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &fifty));
  for (int outOfRange : {0, 101}) {
    SCOPED_TRACE(outOfRange);
    EXPECT_EQ(0, setQuality(&outOfRange));
  }
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &afterRefusals));
  EXPECT_EQ(fifty, afterRefusals);  // the refused values changed nothing
  ASSERT_EQ(1, setQuality(nullptr));  // back to 100
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, PIC_DRIVER_JPEG | PIC_COMP_RLE, &best));
  EXPECT_LT(fifty.size() * 2, best.size());
  RgbImage loaded;
  ASSERT_EQ(PIC_OK, memoryLoadRGB(fifty, &loaded));
  EXPECT_LT(meanDifference(image, loaded), 4.0);
  EXPECT_EQ(0, picDriverControl(&quality, PIC_CONTROL_JPEG_QUALITY, PIC_DRIVER_TARGA));
}

// ---- Closing part-way.

TEST(Jpeg, CloseAfterPartialTransfersReleasesEverything) {
  const RgbImage image = makeTestImage(40, 30);
  const std::string complete = tempPath("complete.jpg");
  ASSERT_EQ(PIC_OK, picSaveRGB(40, 30, PIC_DRIVER_JPEG | PIC_COMP_RLE, image.red.data(), image.green.data(),
                               image.blue.data(), complete.c_str()));
  const std::vector<uint8_t> bytes = readFileBytes(complete);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(0xD8, bytes[1]);
  EXPECT_EQ(0xD9, bytes.back());  // finished: ends with the end-of-image marker

  for (int lines : {0, 1, 29}) {
    SCOPED_TRACE(lines);
    int status = -2;
    picFile* file = jpeg()->openWrite(tempPath("partial.jpg").c_str(), 40, 30, PIC_RGB, PIC_COMP_RLE, 0, &status);
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(PIC_OK, status);
    EXPECT_EQ(29, file->currentLine);
    for (int k = 0; k < lines; ++k) {
      const size_t row = size_t(file->currentLine) * 40;
      ASSERT_EQ(PIC_OK, jpeg()->writeRGBLine(file, &image.red[row], &image.green[row], &image.blue[row]));
    }
    EXPECT_EQ(29 - lines, file->currentLine);
    jpeg()->close(file);

    file = jpeg()->openRead(complete.c_str(), &status);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(PIC_OK, readLines(file, lines));
    EXPECT_EQ(29 - lines, file->currentLine);
    jpeg()->close(file);
  }
}

// ---- The outside peer.

TEST(Jpeg, PeerPhotographLoadsWithLibjpegsPixels) {
  struct Case {
    const char* name;
    const char* options;
    J_COLOR_SPACE decodeAs;
  };
  const Case cases[] = {
      {"photo", "-quality 85", JCS_RGB},
      {"progressive", "-quality 70 -interlace Plane", JCS_RGB},
      {"no subsampling", "-quality 95 -sampling-factor 1x1", JCS_RGB},
      {"restart", "-quality 90 -define jpeg:restart-interval=2", JCS_RGB},
      {"grey", "-colorspace Gray -quality 80", JCS_RGB},
      {"cmyk", "-colorspace CMYK -quality 95", JCS_CMYK},
  };
  const RgbImage image = makeSmoothImage(123, 77);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath(std::string(c.name) + ".jpg");
    ASSERT_TRUE(peerEncode(image, c.options, path));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    const Decoded decoded = libjpegDecode(bytes, c.decodeAs);
    const RgbImage expected = expectedPlanes(decoded, decoded.adobeMarker);
    RgbImage fromDisk, fromMemory;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, fromDisk));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));
    if (decoded.fileSpace != JCS_GRAYSCALE) {
      EXPECT_LT(meanDifference(image, fromDisk), 3.0);
    }
  }
}

// ---- Inputs that once troubled the driver, replayed forever.

TEST(Jpeg, SavedHostileInputsEndInAStatus) {
  const std::string directory = std::string(SOLSYS_TEST_DATA) + "/jpeg";
  DIR* dir = opendir(directory.c_str());
  ASSERT_NE(nullptr, dir);
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(dir);
  EXPECT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    int status = -2;
    picFile* file = jpeg()->openRead((directory + "/" + name).c_str(), &status);
    if (!file) {
      EXPECT_TRUE(status == PIC_ERR_FORMAT || status == PIC_ERR_READ) << status;
      continue;
    }
    if (status == PIC_OK && int64_t(file->width) * file->height <= (1 << 22)) readLines(file, file->height);
    jpeg()->close(file);
  }
}

// ---- The descriptor beside the driver -------------------------------------

TEST(Jpeg, DescriptorNamesTheDriverAndItsMinimalHeaderIsDescribedAtItsSize) {
  EXPECT_EQ(picJpegDriver(), picJpegFormat.driver());
  const std::string path = writeTempFile("minimal.jpg", picJpegFormat.minimalHeader(300, 200));
  int width = 0, height = 0;
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
  EXPECT_EQ(300, width);
  EXPECT_EQ(200, height);
}

}  // namespace
