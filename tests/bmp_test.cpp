// The BMP driver: hand-built headers, the run-length codec, round trips through
// every writer option, and files exchanged with an outside peer both ways.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "picture/formats/bmp_rle.h"
#include "support/image_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}
uint32_t get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// A bitmap described field by field; buildBmp lays it out.
struct BmpFields {
  uint32_t headerSize = 40;
  int32_t width = 2;
  int32_t height = 2;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  Bytes palette;  // or colour masks: stored as they are between header and rows
  Bytes pixels;
};

Bytes buildBmp(const BmpFields& s) {
  Bytes b = {'B', 'M'};                                          // signature
  const uint32_t offset = 14 + s.headerSize + uint32_t(s.palette.size());
  put32(b, offset + uint32_t(s.pixels.size()));                  // file size
  put32(b, 0);                                                   // two reserved words
  put32(b, offset);                                              // data offset
  put32(b, s.headerSize);                                        // header size
  if (s.headerSize == 12) {
    put16(b, uint32_t(s.width));                                 // width
    put16(b, uint32_t(s.height));                                // height
    put16(b, 1);                                                 // planes
    put16(b, s.bitCount);                                        // bits per pixel
  } else {
    put32(b, uint32_t(s.width));                                 // width
    put32(b, uint32_t(s.height));                                // height, negative: top-down
    put16(b, 1);                                                 // planes
    put16(b, s.bitCount);                                        // bits per pixel
    put32(b, s.compression);                                     // compression
    put32(b, uint32_t(s.pixels.size()));                         // image size
    put32(b, 2835);                                              // x pixels per metre
    put32(b, 2835);                                              // y pixels per metre
    put32(b, s.coloursUsed);                                     // colours used
    put32(b, 0);                                                 // important colours
    b.resize(14 + s.headerSize);                                 // longer headers: zeros
  }
  b.insert(b.end(), s.palette.begin(), s.palette.end());
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  return b;
}

// A palette of `n` entries (blue, green, red, 0) with entry i = (i, 2i, 3i).
Bytes greyishPalette(int n) {
  Bytes p;
  for (int i = 0; i < n; ++i) p.insert(p.end(), {uint8_t(3 * i), uint8_t(2 * i), uint8_t(i), 0});
  return p;
}

// What the BMP driver's openRead says about a file.
struct Opened {
  int status = -99;
  bool hasFile = false;
  int width = 0, height = 0, colourMode = -1, colours = -1, compression = -1, currentLine = -1;
  const char* reason = nullptr;  // the refusal's, as picLastReason gives it
};

Opened openWithDriver(const Bytes& bytes) {
  const std::string path = tempPath("open.bmp");
  writeFileBytes(path, bytes);
  Opened result;
  picClearReason();
  picFile* file = picBmpDriver()->openRead(path.c_str(), &result.status);
  result.reason = picLastReason();
  if (file) {
    result.hasFile = true;
    result.width = file->width;
    result.height = file->height;
    result.colourMode = file->colourMode;
    result.colours = file->colours;
    result.compression = file->compression;
    result.currentLine = file->currentLine;
    picBmpDriver()->close(file);
  }
  return result;
}

int loadBytes(const Bytes& bytes, RgbImage* image) { return memoryLoadRGB(bytes, image); }

TEST(Bmp, OpenReadAnswersEveryHeaderWithTheRightStatus) {
  struct Case {
    const char* name;
    std::function<void(BmpFields&)> change;
    int status;
    bool hasFile;
    const char* reason;
  };
  const char* const depth = "bits per pixel not 1, 2, 4, 8, 16, 24 or 32";
  const Case cases[] = {
      {"plain 24-bit", [](BmpFields&) {}, PIC_OK, true, nullptr},
      {"108-byte header", [](BmpFields& s) { s.headerSize = 108; }, PIC_OK, true, nullptr},
      {"124-byte header", [](BmpFields& s) { s.headerSize = 124; }, PIC_OK, true, nullptr},
      {"100-byte header", [](BmpFields& s) { s.headerSize = 100; }, PIC_ERR_FORMAT, false, "unknown information header size"},
      {"64-byte OS/2 2 header", [](BmpFields& s) { s.headerSize = 64; }, PIC_OK, true, nullptr},
      {"OS/2 2 Huffman code", [](BmpFields& s) { s.headerSize = 64; s.bitCount = 1; s.compression = 3; }, PIC_ERR_COMPRESSION, true, "unknown compression"},
      {"2 bits per pixel", [](BmpFields& s) { s.bitCount = 2; }, PIC_OK, true, nullptr},
      {"0 bits per pixel", [](BmpFields& s) { s.bitCount = 0; }, PIC_ERR_DATA, true, depth},
      {"48 bits per pixel", [](BmpFields& s) { s.bitCount = 48; }, PIC_ERR_DATA, true, depth},
      {"masks with 8 bits", [](BmpFields& s) { s.bitCount = 8; s.compression = 3; }, PIC_ERR_DATA, true, "colour masks on other than 16 or 32 bits"},
      {"masks with 24 bits", [](BmpFields& s) { s.compression = 3; }, PIC_ERR_DATA, true, "colour masks on other than 16 or 32 bits"},
      {"4-bit run-length", [](BmpFields& s) { s.bitCount = 4; s.compression = 2; }, PIC_OK, true, nullptr},
      {"4-bit code on 8 bits", [](BmpFields& s) { s.bitCount = 8; s.compression = 2; }, PIC_ERR_COMPRESSION, true, "4-bit run-length code on other pixels"},
      {"alpha masks with 24 bits", [](BmpFields& s) { s.compression = 6; }, PIC_ERR_DATA, true, "colour masks on other than 16 or 32 bits"},
      {"8-bit code on 4 bits", [](BmpFields& s) { s.bitCount = 4; s.compression = 1; }, PIC_ERR_COMPRESSION, true, "8-bit run-length code on other pixels"},
      {"8-bit code on 24 bits", [](BmpFields& s) { s.compression = 1; }, PIC_ERR_COMPRESSION, true, "8-bit run-length code on other pixels"},
      {"embedded JPEG", [](BmpFields& s) { s.compression = 4; }, PIC_ERR_COMPRESSION, true, "unknown compression"},
      {"width 0", [](BmpFields& s) { s.width = 0; }, PIC_ERR_DATA, true, "width not positive"},
      {"negative width", [](BmpFields& s) { s.width = -5; }, PIC_ERR_DATA, true, "width not positive"},
      {"height 0", [](BmpFields& s) { s.height = 0; }, PIC_ERR_DATA, true, "height 0"},
      {"most negative height", [](BmpFields& s) { s.height = INT32_MIN; }, PIC_ERR_DATA, true, "height past 2^31 - 1"},
      {"row size past an int", [](BmpFields& s) { s.width = 0x7fffffff; s.height = 1; s.bitCount = 32; }, PIC_ERR_DATA, true, "rows past 2 GB"},
      {"row size of 3 GB", [](BmpFields& s) { s.width = 0x40000000; s.height = 1; }, PIC_ERR_DATA, true, "rows past 2 GB"},
      {"pixel count past an int", [](BmpFields& s) { s.width = 70000; s.height = 70000; s.bitCount = 8; }, PIC_ERR_DATA, true, "sides too large for the library"},
      {"OS/2 width 0", [](BmpFields& s) { s.headerSize = 12; s.width = 0; }, PIC_ERR_DATA, true, "width not positive"},
  };
  for (const Case& c : cases) {
    BmpFields fields;
    c.change(fields);
    const Opened opened = openWithDriver(buildBmp(fields));
    EXPECT_EQ(c.status, opened.status) << c.name;
    EXPECT_EQ(c.hasFile, opened.hasFile) << c.name;
    EXPECT_STREQ(c.reason, opened.reason) << c.name;
  }
}

TEST(Bmp, ShortAndForeignFilesEndInReadOrFormat) {
  const Bytes valid = buildBmp(BmpFields{});
  struct Case {
    const char* name;
    Bytes bytes;
    int status;
    const char* reason;  // none for another format's file: the drivers after this one try it
  };
  const char* const cut = "file ends inside the header";
  const Case cases[] = {
      {"empty", {}, PIC_ERR_READ, cut},
      {"one byte of signature", {'B'}, PIC_ERR_READ, cut},
      {"signature only", {'B', 'M'}, PIC_ERR_READ, cut},
      {"header cut short", Bytes(valid.begin(), valid.begin() + 30), PIC_ERR_READ, cut},
      {"other letters", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, PIC_ERR_FORMAT, nullptr},
      {"lower-case bm", {'b', 'm', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0}, PIC_ERR_FORMAT, nullptr},
  };
  for (const Case& c : cases) {
    const Opened opened = openWithDriver(c.bytes);
    EXPECT_EQ(c.status, opened.status) << c.name;
    EXPECT_STREQ(c.reason, opened.reason) << c.name;
  }

  int status = -99;
  EXPECT_EQ(nullptr, picBmpDriver()->openRead(tempPath("missing/none.bmp").c_str(), &status));
  EXPECT_EQ(PIC_ERR_OPEN, status);
  EXPECT_EQ(PIC_ERR_OPEN, picImageInfo(tempPath("missing/none.bmp").c_str(), nullptr, nullptr, nullptr, nullptr));
}

TEST(Bmp, FormatCodesNameTheCompression) {
  struct Case {
    uint16_t bitCount;
    uint32_t compression;
    int format;
  };
  const Case cases[] = {{8, 1, PIC_DRIVER_BMP | PIC_COMP_RLE},
                        {4, 2, PIC_DRIVER_BMP | PIC_COMP_RLE},
                        {8, 2, PIC_DRIVER_BMP | PIC_COMP_LZW},
                        {24, 0, PIC_DRIVER_BMP | PIC_COMP_NONE}};
  for (const Case& c : cases) {
    BmpFields fields;
    fields.bitCount = c.bitCount;
    fields.compression = c.compression;
    fields.palette = c.bitCount <= 8 ? greyishPalette(1 << c.bitCount) : Bytes{};
    fields.pixels = {2, 0, 1, 0, 0, 0};  // a run of 2, end of line, end of bitmap
    const std::string path = tempPath("format.bmp");
    writeFileBytes(path, buildBmp(fields));
    int format = -1;
    EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(c.format, format) << c.bitCount;
  }
}

TEST(Bmp, ColourCountsFollowBitsAndTheColoursUsedField) {
  struct Case {
    uint16_t bitCount;
    uint32_t coloursUsed;
    int colours;
  };
  // The field sizes the palette; the indices reach 2^bits colours whatever it says.
  const Case cases[] = {{1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 20, 256}, {8, 300, 256}, {4, 3, 16}, {24, 5, 0}};
  for (const Case& c : cases) {
    BmpFields fields;
    fields.bitCount = c.bitCount;
    fields.coloursUsed = c.coloursUsed;
    const Opened opened = openWithDriver(buildBmp(fields));
    EXPECT_EQ(PIC_OK, opened.status);
    EXPECT_EQ(c.colours, opened.colours) << c.bitCount << " bits, " << c.coloursUsed << " used";
    EXPECT_EQ(c.bitCount <= 8 ? PIC_MAP : PIC_RGB, opened.colourMode);
  }
}

TEST(Bmp, SmallDepthsUnpackMostSignificantBitsFirst) {
  // 1 bit: 0b10110000 -> 1 0 1 1 0; 4 bits: 0x3A 0x50 -> 3 10 5.
  struct Case {
    uint16_t bitCount;
    int width;
    Bytes row;
    std::vector<uint8_t> indices;
  };
  const Case cases[] = {{1, 5, {0xb0, 0, 0, 0}, {1, 0, 1, 1, 0}},
                        {4, 3, {0x3a, 0x50, 0, 0}, {3, 10, 5}},
                        {8, 3, {7, 200, 9, 0}, {7, 200, 9}}};
  for (const Case& c : cases) {
    BmpFields fields;
    fields.bitCount = c.bitCount;
    fields.width = c.width;
    fields.height = 1;
    fields.palette = greyishPalette(1 << c.bitCount);
    fields.pixels = c.row;
    MappedImage image;
    ASSERT_EQ(PIC_OK, memoryLoadMap(buildBmp(fields), &image)) << c.bitCount;
    EXPECT_EQ(c.indices, image.indices) << c.bitCount;
    EXPECT_EQ(picEncodeColour(1, 2, 3), image.map[1]);
  }
}

TEST(Bmp, TrueColourPixelsFollowTheMasks) {
  struct Case {
    const char* name;
    uint16_t bitCount;
    uint32_t compression;
    Bytes masks;
    Bytes pixel;  // one pixel, padded to a whole row
    uint32_t colour;
  };
  Bytes masks565, masks101010, masksZeroBlue;
  for (uint32_t m : {0xf800u, 0x07e0u, 0x001fu}) put32(masks565, m);
  for (uint32_t m : {0x3ff00000u, 0x000ffc00u, 0x000003ffu}) put32(masks101010, m);
  for (uint32_t m : {0xff0000u, 0x00ff00u, 0u}) put32(masksZeroBlue, m);
  const Case cases[] = {
      // 16 bits, default 5-5-5: red 31, green 16, blue 0.
      {"16-bit default", 16, 0, {}, {0x00, 0x7e, 0, 0}, 0xff8300},
      {"16-bit 5-6-5", 16, 3, masks565, {0x1f, 0xf8, 0, 0}, 0xff00ff},
      {"24-bit", 24, 0, {}, {0x10, 0x20, 0x30, 0}, 0x302010},
      {"32-bit default", 32, 0, {}, {0x10, 0x20, 0x30, 0xff}, 0x302010},
      // 10-bit components 1023, 512, 0 scale to 255, 127, 0.
      {"32-bit 10-10-10", 32, 3, masks101010, {0x00, 0x00, 0xf8, 0x3f}, 0xff7f00},
      {"32-bit zero mask", 32, 3, masksZeroBlue, {0x33, 0x22, 0x11, 0}, 0x112200},
  };
  for (const Case& c : cases) {
    BmpFields fields;
    fields.bitCount = c.bitCount;
    fields.compression = c.compression;
    fields.width = fields.height = 1;
    fields.palette = c.masks;
    fields.pixels = c.pixel;
    RgbImage image;
    ASSERT_EQ(PIC_OK, loadBytes(buildBmp(fields), &image)) << c.name;
    EXPECT_EQ(c.colour, image.at(0, 0)) << c.name;
  }
}

TEST(Bmp, TopDownRowsFillTheBufferFromTheTop) {
  BmpFields fields;
  fields.height = -2;
  fields.width = 1;
  fields.pixels = {0, 0, 0xff, 0, 0, 0xff, 0, 0};  // stored first: red; then green
  EXPECT_EQ(1, openWithDriver(buildBmp(fields)).currentLine);
  RgbImage image;
  ASSERT_EQ(PIC_OK, loadBytes(buildBmp(fields), &image));
  EXPECT_EQ(2, image.height);
  EXPECT_EQ(0xff0000u, image.at(0, 0));
  EXPECT_EQ(0x00ff00u, image.at(0, 1));
}

// ---- The run-length codec --------------------------------------------------

TEST(BmpRle, EncodesRunsAndStretchesAsDocumented) {
  struct Case {
    const char* name;
    std::vector<uint8_t> row;
    Bytes code;
  };
  std::vector<uint8_t> sameBytes(300, 7);
  std::vector<uint8_t> rising(300);
  for (int i = 0; i < 300; ++i) rising[size_t(i)] = uint8_t(i);
  Bytes risingCode = {0, 255};
  risingCode.insert(risingCode.end(), rising.begin(), rising.begin() + 255);
  risingCode.insert(risingCode.end(), {0, 0, 45});
  risingCode.insert(risingCode.end(), rising.begin() + 255, rising.end());
  risingCode.insert(risingCode.end(), {0, 0, 0});
  const Case cases[] = {
      {"300 equal bytes", sameBytes, {255, 7, 45, 7, 0, 0}},
      {"1 2 3 4", {1, 2, 3, 4}, {0, 4, 1, 2, 3, 4, 0, 0}},
      {"odd stretch padded", {1, 2, 3}, {0, 3, 1, 2, 3, 0, 0, 0}},
      {"single byte", {9}, {1, 9, 0, 0}},
      {"two different bytes", {1, 2}, {1, 1, 1, 2, 0, 0}},
      {"stretch gives back before a run", {1, 2, 3, 3, 3}, {1, 1, 1, 2, 3, 3, 0, 0}},
      {"longer stretch then run", {1, 2, 3, 4, 4}, {0, 3, 1, 2, 3, 0, 2, 4, 0, 0}},
      {"run then single", {5, 5, 6}, {2, 5, 1, 6, 0, 0}},
      {"300 rising bytes", rising, risingCode},
  };
  for (const Case& c : cases) {
    Bytes out(size_t(picBmpRle8RowBound(int64_t(c.row.size()))));
    out.resize(picBmpEncodeRle8Row(c.row.data(), int(c.row.size()), out.data()));
    EXPECT_EQ(c.code, out) << c.name;
  }
}

TEST(BmpRle, EncodingDecodesToTheSameRowWithinTheBound) {
  unsigned seed = 7;
  for (int trial = 0; trial < 400; ++trial) {
    const int width = 1 + trial % 97 + (trial % 5 == 0 ? 600 : 0);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (uint8_t& v : row) {
      seed = seed * 1103515245u + 12345u;
      v = uint8_t((seed >> 16) % (1 + trial % 4));  // few values: runs and stretches mix
    }
    Bytes code(size_t(picBmpRle8RowBound(width)));
    const size_t length = picBmpEncodeRle8Row(row.data(), width, code.data());
    ASSERT_LE(length, code.size());
    std::vector<uint8_t> decoded(static_cast<size_t>(width));
    picBmpRleCursor cursor;
    ASSERT_TRUE(picBmpDecodeRle8Row(code.data(), length, &cursor, decoded.data(), width));
    EXPECT_EQ(row, decoded) << "trial " << trial;
    EXPECT_EQ(length, cursor.position);
  }
}

TEST(BmpRle, HostileCountsAndDeltasStayInsideTheRow) {
  // Rows of width 4; every row buffer is exactly 4 bytes, so a write past it trips the sanitizer.
  struct Case {
    const char* name;
    Bytes data;
    std::vector<std::vector<uint8_t>> rows;  // expected rows, in file order
    bool failsAfter;                         // the row after them reports bad data
    int bits = 8;                            // the 8- or the 4-bit code
  };
  const Case cases[] = {
      {"run longer than the row", {200, 5, 0, 0}, {{5, 5, 5, 5}}, false},
      {"literal longer than the row", {0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 1, 9, 0, 0}, {{1, 2, 3, 4}, {9, 0, 0, 0}}, false},
      {"runs after the row is full", {4, 1, 3, 2, 0, 3, 7, 7, 7, 0, 0, 0}, {{1, 1, 1, 1}}, false},
      {"delta right past the end", {1, 1, 0, 2, 250, 0, 2, 3, 0, 0}, {{1, 0, 0, 0}}, false},
      {"delta right then run", {0, 2, 2, 0, 2, 6, 0, 0}, {{0, 0, 6, 6}}, false},
      {"delta down two rows", {1, 1, 0, 2, 1, 2, 1, 8, 0, 0}, {{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 8, 0}}, false},
      {"delta far down", {0, 2, 0, 255, 1, 1, 0, 0}, {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}, false},
      {"end of bitmap leaves blank rows", {2, 3, 0, 1}, {{3, 3, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}, false},
      {"missing end of line", {4, 1}, {}, true},
      {"literal cut short", {0, 5, 1, 2}, {}, true},
      {"delta cut short", {0, 2, 1}, {}, true},
      {"odd byte at the end", {0, 0, 3}, {{0, 0, 0, 0}}, true},
      {"nothing at all", {}, {}, true},
      {"literal pad missing at the end", {0, 3, 1, 2, 3}, {}, true},
      {"4-bit run longer than the row", {200, 0x12, 0, 0}, {{1, 2, 1, 2}}, false, 4},
      {"4-bit literal longer than the row", {0, 6, 0x12, 0x34, 0x56, 0, 0, 0, 1, 0x90, 0, 0}, {{1, 2, 3, 4}, {9, 0, 0, 0}}, false, 4},
      {"4-bit odd literal and its pad", {0, 3, 0x12, 0x30, 0, 0}, {{1, 2, 3, 0}}, false, 4},
      {"4-bit literal cut short", {0, 5, 0x12, 0x34}, {}, true, 4},
  };
  for (const Case& c : cases) {
    const auto decodeRow = c.bits == 8 ? picBmpDecodeRle8Row : picBmpDecodeRle4Row;
    picBmpRleCursor cursor;
    for (const auto& expected : c.rows) {
      std::vector<uint8_t> row(4, 0xee);
      ASSERT_TRUE(decodeRow(c.data.data(), c.data.size(), &cursor, row.data(), 4)) << c.name;
      EXPECT_EQ(expected, row) << c.name;
    }
    std::vector<uint8_t> row(4);
    if (c.failsAfter) {
      EXPECT_FALSE(decodeRow(c.data.data(), c.data.size(), &cursor, row.data(), 4)) << c.name;
    }
    EXPECT_LE(cursor.position, c.data.size()) << c.name;
  }
}


// ---- Writing ---------------------------------------------------------------

struct WriterOption {
  const char* name;
  int colourMode;
  int compression;
};
const WriterOption writerOptions[] = {
    {"RGB", PIC_RGB, PIC_COMP_NONE},
    {"RGB asking for run-length", PIC_RGB, PIC_COMP_RLE},
    {"map", PIC_MAP, PIC_COMP_NONE},
    {"map run-length", PIC_MAP, PIC_COMP_RLE},
    {"map second compression code", PIC_MAP, PIC_COMP_LZW},
};

struct Size {
  int width, height;
};
// Odd widths leave padding in every row; one pixel and one line are the extremes.
const Size writerSizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 3}, {3, 2}, {5, 5}, {17, 4}, {300, 3}, {64, 33}};

// A colour-mapped picture with long runs in its top half and noise below.
MappedImage runsAndNoise(int width, int height, int colours) {
  MappedImage image = makeTestMapped(width, height, colours, unsigned(width * 31 + height));
  for (int y = height / 2; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.indices[size_t(y) * width + x] = uint8_t((x / 7 + y) % colours);
  return image;
}

// Saves the option's picture; *expected receives the pixels any reader must see.
int saveWith(const WriterOption& option, const Size& size, const std::string& path,
             RgbImage* expected, MappedImage* mapped = nullptr) {
  const int format = PIC_DRIVER_BMP | option.compression;
  if (option.colourMode == PIC_RGB) {
    *expected = makeTestImage(size.width, size.height, unsigned(size.width + size.height));
    return picSaveRGB(size.width, size.height, format, expected->red.data(), expected->green.data(),
                      expected->blue.data(), path.c_str());
  }
  const MappedImage image = runsAndNoise(size.width, size.height, 1 + (size.width * 13) % 256);
  *expected = mappedToRgb(image);
  if (mapped) *mapped = image;
  return picSaveMap(size.width, size.height, format, image.indices.data(), int(image.map.size()),
                    image.map.data(), path.c_str());
}

TEST(Bmp, EveryWriterOptionRoundTripsOnDiskAndInMemory) {
  for (const WriterOption& option : writerOptions)
    for (const Size& size : writerSizes) {
      const std::string where = std::string(option.name) + " " + std::to_string(size.width) + "x" +
                                std::to_string(size.height);
      const std::string path = tempPath("round.bmp");
      RgbImage expected;
      MappedImage mapped;
      ASSERT_EQ(PIC_OK, saveWith(option, size, path, &expected, &mapped)) << where;
      const Bytes onDisk = readFileBytes(path);

      RgbImage loaded;
      ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded)) << where;
      EXPECT_EQ(0u, countDifferences(expected, loaded)) << where;
      Bytes inMemory;
      if (option.colourMode == PIC_RGB) {
        ASSERT_EQ(PIC_OK, memorySaveRGB(expected, PIC_DRIVER_BMP | option.compression, &inMemory)) << where;
      } else {
        ASSERT_EQ(PIC_OK, memorySaveMap(mapped, PIC_DRIVER_BMP | option.compression, &inMemory)) << where;
        MappedImage back;
        ASSERT_EQ(PIC_OK, libraryLoadMap(path, &back)) << where;
        EXPECT_EQ(mapped.indices, back.indices) << where;
        // 8-bit indices are described with 256 colours, black past the map written.
        std::vector<int32_t> map = mapped.map;
        map.resize(PIC_MAX_COLOURS, 0);
        EXPECT_EQ(map, back.map) << where;
        ASSERT_EQ(PIC_OK, memoryLoadMap(inMemory, &back)) << where;
        EXPECT_EQ(mapped.indices, back.indices) << where;
      }
      EXPECT_EQ(onDisk, inMemory) << where;
      ASSERT_EQ(PIC_OK, memoryLoadRGB(inMemory, &loaded)) << where;
      EXPECT_EQ(0u, countDifferences(expected, loaded)) << where;
    }
}

// Decodes with netpbm, the second outside reader.
bool netpbmDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".netpbm.ppm";
  return runCommand("bmptopnm '" + path + "' 2>/dev/null | ppmtoppm > '" + ppm + "'") &&
         readPpm(ppm, image);
}

TEST(Bmp, OutsideReadersSeeTheWrittenPixels) {
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " -version > /dev/null"))
      << peerConvert() << " is needed to check files against an outside reader";
  for (const WriterOption& option : writerOptions)
    for (const Size& size : writerSizes) {
      const std::string where = std::string(option.name) + " " + std::to_string(size.width) + "x" +
                                std::to_string(size.height);
      const std::string path = tempPath("peer.bmp");
      RgbImage expected, seen;
      MappedImage mapped;
      ASSERT_EQ(PIC_OK, saveWith(option, size, path, &expected, &mapped)) << where;
      ASSERT_TRUE(peerDecode(path, &seen)) << where;
      EXPECT_EQ(0u, countDifferences(expected, seen)) << where;
      ASSERT_TRUE(netpbmDecode(path, &seen)) << where;
      EXPECT_EQ(0u, countDifferences(expected, seen)) << where << " (netpbm)";

      Bytes inMemory;
      const int format = PIC_DRIVER_BMP | option.compression;
      ASSERT_EQ(PIC_OK, option.colourMode == PIC_RGB ? memorySaveRGB(expected, format, &inMemory)
                                                     : memorySaveMap(mapped, format, &inMemory));
      const std::string fromMemory = tempPath("peer-memory.bmp");
      writeFileBytes(fromMemory, inMemory);
      ASSERT_TRUE(peerDecode(fromMemory, &seen)) << where;
      EXPECT_EQ(0u, countDifferences(expected, seen)) << where << " (from memory)";
    }
}

TEST(Bmp, WrittenHeadersHoldTheDocumentedLayout) {
  const std::string path = tempPath("layout.bmp");
  const RgbImage rgb = makeTestImage(3, 2);
  ASSERT_EQ(PIC_OK, picSaveRGB(3, 2, PIC_DRIVER_BMP, rgb.red.data(), rgb.green.data(), rgb.blue.data(), path.c_str()));
  Bytes b = readFileBytes(path);
  ASSERT_EQ(58u + 2 * 12, b.size());
  EXPECT_EQ(b.size(), get32(b, 2));   // file size
  EXPECT_EQ(58u, get32(b, 10));       // data offset
  EXPECT_EQ(24u, get32(b, 28) & 0xffff);
  EXPECT_EQ(24u, get32(b, 34));       // image size
  EXPECT_EQ(0u, get32(b, 46));        // colours used
  EXPECT_EQ(0u, get32(b, 54));        // the zero palette entry
  EXPECT_EQ(0, b[58 + 9] | b[58 + 10] | b[58 + 11]) << "row padding";

  const MappedImage mapped = makeTestMapped(3, 2, 256);
  ASSERT_EQ(PIC_OK, picSaveMap(3, 2, PIC_DRIVER_BMP, mapped.indices.data(), 256, mapped.map.data(), path.c_str()));
  b = readFileBytes(path);
  ASSERT_EQ(1078u + 2 * 4, b.size());
  EXPECT_EQ(1078u, get32(b, 10));
  EXPECT_EQ(8u, get32(b, 28) & 0xffff);
  EXPECT_EQ(0u, get32(b, 30));
  EXPECT_EQ(256u, get32(b, 46));
  EXPECT_EQ(256u, get32(b, 50));

  // Run-length: the header gets the real sizes, and the data ends with end of bitmap.
  const std::vector<uint8_t> same(600, 9);
  const int32_t map[10] = {};
  ASSERT_EQ(PIC_OK, picSaveMap(300, 2, PIC_DRIVER_BMP | PIC_COMP_RLE, same.data(), 10, map, path.c_str()));
  b = readFileBytes(path);
  const Bytes rows = {255, 9, 45, 9, 0, 0, 255, 9, 45, 9, 0, 0, 0, 1};
  ASSERT_EQ(94u + rows.size(), b.size());
  EXPECT_EQ(1u, get32(b, 30));
  EXPECT_EQ(b.size(), get32(b, 2));
  EXPECT_EQ(rows.size(), get32(b, 34));
  EXPECT_EQ(rows, Bytes(b.begin() + 94, b.end()));
}

TEST(Bmp, WriterRefusesWhatItCannotWriteAndCreatesNothing) {
  const uint8_t pixel[1] = {0};
  const int32_t map[1] = {0};
  struct Case {
    const char* name;
    std::function<int(const char*)> save;
    int status;
    const char* reason;
  };
  const Case cases[] = {
      {"RGB with the second code", [&](const char* p) { return picSaveRGB(1, 1, PIC_DRIVER_BMP | PIC_COMP_LZW, pixel, pixel, pixel, p); }, PIC_ERR_COMPRESSION, "a compression the writer does not make"},
      {"unknown code", [&](const char* p) { return picSaveMap(1, 1, PIC_DRIVER_BMP | 0x300, pixel, 1, map, p); }, PIC_ERR_COMPRESSION, "a compression the writer does not make"},
      {"map without colours", [&](const char* p) { return picSaveMap(1, 1, PIC_DRIVER_BMP, pixel, 0, map, p); }, PIC_ERR_DATA, "map of no colours or over 256"},
      {"rows past an int", [&](const char* p) { return picSaveRGB(0x40000000, 1, PIC_DRIVER_BMP, pixel, pixel, pixel, p); }, PIC_ERR_DATA, "rows past 2 GB or file past 4 GB"},
      {"run-length rows past an int", [&](const char* p) { return picSaveMap(0x40000000, 1, PIC_DRIVER_BMP | PIC_COMP_RLE, pixel, 1, map, p); }, PIC_ERR_DATA, "rows past 2 GB or file past 4 GB"},
      {"file past 4 GB", [&](const char* p) { return picSaveRGB(40000, 40000, PIC_DRIVER_BMP, pixel, pixel, pixel, p); }, PIC_ERR_DATA, "rows past 2 GB or file past 4 GB"},
  };
  for (const Case& c : cases) {
    const std::string path = tempPath(std::string("refused-") + std::to_string(&c - cases) + ".bmp");
    EXPECT_EQ(c.status, c.save(path.c_str())) << c.name;
    EXPECT_STREQ(c.reason, picLastReason()) << c.name;
    EXPECT_TRUE(readFileBytes(path).empty()) << c.name;
  }
  int status = -99;
  EXPECT_EQ(nullptr, picBmpDriver()->openWrite(tempPath("mode.bmp").c_str(), 1, 1, 7, 0, 0, &status));
  EXPECT_EQ(PIC_ERR_DATA, status);
}

// ---- Resolution ------------------------------------------------------------

double seenX, seenY;
int seenUnit;
double giveX, giveY;
int giveUnit;

int resolutionProbe(const char*, double* x, double* y, int* unit) {
  seenX = *x;
  seenY = *y;
  seenUnit = *unit;
  *x = giveX;
  *y = giveY;
  *unit = giveUnit;
  return 0;
}

TEST(Bmp, ResolutionTravelsInPixelsPerMetre) {
  struct Case {
    double x, y;
    int unit;
    uint32_t xStored, yStored;
  };
  const Case cases[] = {{72, 300, PIC_RES_INCH, 2834, 11811},
                        {28.35, 10, PIC_RES_CM, 2835, 1000},
                        {72, 72, PIC_RES_NONE, 0, 0},
                        {-5, NAN, PIC_RES_CM, 0, 0},
                        {1e30, 1e9, PIC_RES_INCH, 0, 0}};
  const std::string path = tempPath("resolution.bmp");
  const RgbImage rgb = makeTestImage(2, 2);
  ASSERT_EQ(1, picDriverControl(reinterpret_cast<void*>(&resolutionProbe), PIC_CONTROL_RESOLUTION, -1));
  for (const Case& c : cases) {
    giveX = c.x;
    giveY = c.y;
    giveUnit = c.unit;
    ASSERT_EQ(PIC_OK, picSaveRGB(2, 2, PIC_DRIVER_BMP, rgb.red.data(), rgb.green.data(), rgb.blue.data(), path.c_str()));
    EXPECT_EQ(0.0, seenX);
    EXPECT_EQ(PIC_RES_NONE, seenUnit);
    const Bytes b = readFileBytes(path);
    EXPECT_EQ(c.xStored, get32(b, 38)) << c.x;
    EXPECT_EQ(c.yStored, get32(b, 42)) << c.y;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_DOUBLE_EQ(c.xStored * 0.01, seenX);
    EXPECT_DOUBLE_EQ(c.yStored * 0.01, seenY);
    EXPECT_EQ(PIC_RES_CM, seenUnit);
  }
  picDriverControl(nullptr, PIC_CONTROL_RESOLUTION, -1);
}


// ---- Files from the outside peer -------------------------------------------

// The fields of a bitmap file, the colour masks of a longer header apart.
BmpFields parseBmp(const Bytes& b) {
  BmpFields s;
  const uint32_t offset = get32(b, 10);
  const uint32_t headerSize = get32(b, 14);
  s.width = int32_t(get32(b, 18));
  s.height = int32_t(get32(b, 22));
  s.bitCount = uint16_t(get32(b, 28));
  s.compression = get32(b, 30);
  s.coloursUsed = get32(b, 46);
  s.palette.assign(b.begin() + 14 + headerSize, b.begin() + offset);
  s.pixels.assign(b.begin() + offset, b.end());
  return s;
}

// A file with a 124-byte header rewritten with the 40-byte one, the masks
// following it (or left to their defaults).
Bytes withInfoHeader(const Bytes& longer, bool keepMasks) {
  BmpFields s = parseBmp(longer);
  s.headerSize = 40;
  s.palette.clear();
  if (keepMasks)
    s.palette.assign(longer.begin() + 54, longer.begin() + 66);
  else
    s.compression = 0;
  return buildBmp(s);
}
Bytes withMasks(const Bytes& b) { return withInfoHeader(b, true); }
Bytes withDefaultMasks(const Bytes& b) { return withInfoHeader(b, false); }

// The same picture stored top line first.
Bytes topDown(const Bytes& b) {
  BmpFields s = parseBmp(b);
  const size_t lineSize = size_t((int64_t(s.width) * s.bitCount + 31) / 32 * 4);
  Bytes flipped;
  for (int32_t row = s.height - 1; row >= 0; --row)
    flipped.insert(flipped.end(), s.pixels.begin() + row * lineSize, s.pixels.begin() + (row + 1) * lineSize);
  s.pixels = flipped;
  s.height = -s.height;
  return buildBmp(s);
}

// A colour-mapped file whose palette is cut to the entries its pixels use, as
// its colours-used field then says.
Bytes coloursUsedOnly(const Bytes& b) {
  BmpFields s = parseBmp(b);
  const size_t lineSize = size_t((int64_t(s.width) * s.bitCount + 31) / 32 * 4);
  const int perByte = 8 / s.bitCount;
  uint32_t used = 2;
  for (size_t row = 0; row < size_t(s.height); ++row)
    for (size_t x = 0; x < size_t(s.width); ++x) {
      const uint8_t byte = s.pixels[row * lineSize + x / perByte];
      const int shift = 8 - s.bitCount * int(x % perByte + 1);
      used = std::max(used, uint32_t((byte >> shift) & ((1 << s.bitCount) - 1)) + 1);
    }
  s.coloursUsed = used;
  s.palette.resize(4 * used);
  return buildBmp(s);
}

struct PeerVariant {
  const char* name;
  const char* options;  // peer options
  const char* prefix;   // the peer's name for the bitmap flavour, before the output name
  Bytes (*transform)(const Bytes&);  // null: the peer's file as it is
  uint32_t headerSize;
  uint16_t bitCount;
  uint32_t compression;
  int tolerance;  // 16-bit components: the peer widens them by repeating bits, we by scaling
};

const PeerVariant peerVariants[] = {
    {"1-bit", "-monochrome", "bmp3:", nullptr, 40, 1, 0, 0},
    {"4-bit", "-colors 16 -type Palette", "bmp3:", nullptr, 40, 4, 0, 0},
    {"8-bit", "-colors 200 -type Palette -compress None", "bmp3:", nullptr, 40, 8, 0, 0},
    {"8-bit run-length", "-colors 200 -type Palette -compress RLE", "bmp3:", nullptr, 40, 8, 1, 0},
    {"8-bit run-length, few colours", "-colors 5 -compress RLE", "bmp3:", nullptr, 40, 8, 1, 0},
    {"8-bit colours used", "-colors 40 -type Palette -compress None", "bmp3:", coloursUsedOnly, 40, 8, 0, 0},
    {"16-bit 5-6-5 masks", "-define bmp:subtype=RGB565", "bmp:", withMasks, 40, 16, 3, 1},
    {"16-bit 5-5-5 masks", "-define bmp:subtype=RGB555", "bmp:", withMasks, 40, 16, 3, 1},
    {"16-bit without masks", "-define bmp:subtype=RGB555", "bmp:", withDefaultMasks, 40, 16, 0, 1},
    {"24-bit", "-type TrueColor", "bmp3:", nullptr, 40, 24, 0, 0},
    {"32-bit", "-alpha on -define bmp3:alpha=true", "bmp3:", nullptr, 40, 32, 0, 0},
    {"32-bit masks", "-alpha on", "bmp:", withMasks, 40, 32, 3, 0},
    {"top-down 24-bit", "-type TrueColor", "bmp3:", topDown, 40, 24, 0, 0},
    {"top-down 8-bit", "-colors 200 -type Palette -compress None", "bmp3:", topDown, 40, 8, 0, 0},
    {"top-down 1-bit", "-monochrome", "bmp3:", topDown, 40, 1, 0, 0},
    {"OS/2 1-bit", "-monochrome", "bmp2:", nullptr, 12, 1, 0, 0},
    {"OS/2 4-bit", "-colors 16 -type Palette", "bmp2:", nullptr, 12, 4, 0, 0},
    {"OS/2 8-bit", "-colors 100 -type Palette", "bmp2:", nullptr, 12, 8, 0, 0},
    {"OS/2 24-bit", "", "bmp2:", nullptr, 12, 24, 0, 0},
    // The peer's default flavour: the 124-byte header most programs write today.
    {"124-byte header 24-bit", "-type TrueColor", "bmp:", nullptr, 124, 24, 0, 0},
    {"124-byte header 8-bit", "-colors 200 -type Palette -compress None", "bmp:", nullptr, 124, 8, 0, 0},
    {"124-byte header 32-bit masks", "-alpha on", "bmp:", nullptr, 124, 32, 3, 0},
    {"124-byte header 16-bit masks", "-define bmp:subtype=RGB565", "bmp:", nullptr, 124, 16, 3, 1},
};

// Like peerEncode, with the flavour prefix in front of the output name only.
bool peerMake(const RgbImage& image, const PeerVariant& variant, const std::string& path) {
  const std::string ppm = path + ".source.ppm";
  return writePpm(ppm, image) && runCommand(std::string(peerConvert()) + " '" + ppm + "' " +
                                            variant.options + " '" + variant.prefix + path + "'");
}

TEST(Bmp, PeerFilesLoadWithThePeersOwnPixels) {
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " -version > /dev/null"))
      << peerConvert() << " is needed to make files with an outside writer";
  const Size sizes[] = {{37, 21}, {36, 21}, {1, 1}, {6, 1}, {2, 5}, {4, 5}};
  for (const PeerVariant& variant : peerVariants)
    for (const Size& size : sizes) {
      // The peer's run-length writer codes row padding as pixels; see the next test.
      if (variant.compression == 1 && size.width % 4 != 0 && &size != sizes) continue;
      const std::string where = std::string(variant.name) + " " + std::to_string(size.width) + "x" +
                                std::to_string(size.height);
      const std::string made = tempPath("made.bmp");
      ASSERT_TRUE(peerMake(makeTestImage(size.width, size.height, 5), variant, made)) << where;
      Bytes bytes = readFileBytes(made);
      if (variant.transform) bytes = variant.transform(bytes);
      const std::string path = tempPath("variant.bmp");
      writeFileBytes(path, bytes);
      if (&size == sizes) {  // the peer may pick other depths for tiny pictures
        const bool os2 = variant.headerSize == 12;
        EXPECT_EQ(variant.headerSize, get32(bytes, 14)) << where;
        EXPECT_EQ(variant.bitCount, get32(bytes, os2 ? 24 : 28) & 0xffff) << where;
        if (!os2) {
          EXPECT_EQ(variant.compression, get32(bytes, 30)) << where;
        }
      }

      RgbImage reference, loaded;
      ASSERT_TRUE(peerDecode(path, &reference)) << where;
      ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded)) << where;
      EXPECT_EQ(0u, countDifferences(reference, loaded, variant.tolerance)) << where;
      ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded)) << where;
      EXPECT_EQ(0u, countDifferences(reference, loaded, variant.tolerance)) << where << " (memory)";
      if (variant.bitCount <= 8) {
        MappedImage mapped;
        ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &mapped)) << where;
        EXPECT_EQ(0u, countDifferences(reference, mappedToRgb(mapped))) << where << " (map)";
      }
    }
}

// Decodes with the Python imaging library, a third outside reader.
bool pythonDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".python.ppm";
  return runCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                    "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])\" '" +
                    path + "' '" + ppm + "'") &&
         readPpm(ppm, image);
}

// The peer's run-length writer codes each row's padding as pixels, so rows of
// widths that are not a multiple of 4 run past the width; its own reader then
// loses the top rows. Runs are cut at the row's end here, as a third reader does.
TEST(Bmp, RunLengthRowsLongerThanTheWidthAreCut) {
  const PeerVariant variant = {"", "-colors 200 -type Palette -compress RLE", "bmp3:", nullptr, 40, 8, 1, 0};
  const std::string path = tempPath("long-rows.bmp");
  ASSERT_TRUE(peerMake(makeTestImage(2, 5, 3), variant, path));
  RgbImage reference, loaded;
  ASSERT_TRUE(pythonDecode(path, &reference));
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
  EXPECT_EQ(0u, countDifferences(reference, loaded));
}

// A run-length file drawn with deltas and an early end of bitmap, which the
// peer's writer never makes; undrawn pixels take colour 0.
TEST(Bmp, RunLengthDeltasMatchThePeer) {
  BmpFields fields;
  fields.width = 6;
  fields.height = 4;
  fields.bitCount = 8;
  fields.compression = 1;
  fields.coloursUsed = 8;
  fields.palette = greyishPalette(8);
  for (int i = 0; i < 8; ++i) fields.palette[size_t(4 * i + 1)] = uint8_t(40 * i);  // distinct colours
  fields.pixels = {
      3, 1, 0, 2, 2, 0, 1, 2, 0, 0,  // row 0: 1 1 1 . . 2
      0, 2, 4, 1,                    // delta: right 4, down 1; row 1 stays blank
      2, 3, 0, 0,                    // row 2: . . . . 3 3
      0, 3, 4, 5, 6, 0, 0, 0,        // row 3: 4 5 6 . . .
      0, 1,                          // end of bitmap
  };
  const Bytes bytes = buildBmp(fields);
  const std::string path = tempPath("deltas.bmp");
  writeFileBytes(path, bytes);
  RgbImage reference, loaded;
  ASSERT_TRUE(peerDecode(path, &reference));
  ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
  EXPECT_EQ(0u, countDifferences(reference, loaded));
  MappedImage mapped;
  ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &mapped));
  const std::vector<uint8_t> indices = {1, 1, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 3, 3, 4, 5, 6, 0, 0, 0};
  EXPECT_EQ(indices, mapped.indices);
}

// ---- Variants no writer here makes ------------------------------------------

// A 7 x 3 picture in the 4-bit run-length code, rows from the bottom:
// 1 2 1 2 3 4 5 / 6 7 8 9 10 . . / . . . . . . 15 (".": undrawn, index 0).
BmpFields rle4Fields() {
  return {40, 7, 3, 4, 2, 0, greyishPalette(16), {
      4, 0x12,                    // run of 4: the nibbles 1 and 2 in turn
      0, 3, 0x34, 0x50,           // literal of 3 indices in 2 bytes: a whole word
      0, 0,                       // end of line
      0, 5, 0x67, 0x89, 0xa0, 0,  // literal of 5 indices in 3 bytes, padded to 4
      0, 2, 1, 1,                 // delta: right 1, up 1 row, to column 6 of the top row
      1, 0xf0,                    // run of 1: 15
      0, 1}};                     // end of bitmap
}

TEST(Bmp, VariantsNoWriterMakesLoadTheirPlanes) {
  struct Case {
    const char* name;
    BmpFields fields;  // header size, width, height, bits, compression, colours used, palette, pixels
    std::vector<uint8_t> indices;  // rows from the bottom; none for true colour
    uint32_t colour;               // true colour: the one pixel's
  };
  Bytes alphaMasks;  // red, green, blue and alpha masks after the 40-byte header
  for (uint32_t mask : {0x000000ffu, 0x0000ff00u, 0x00ff0000u, 0xff000000u}) put32(alphaMasks, mask);
  const Bytes indices3x1 = {0x3a, 0x50, 0, 0};  // 4-bit indices 3 10 5
  const Case cases[] = {
      {"4-bit run-length", rle4Fields(), {1, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0, 0, 0, 0, 0, 0, 15}, 0},
      {"2-bit", {40, 5, 2, 2, 0, 0, greyishPalette(4), {0x1b, 0x80, 0, 0, 0xe4, 0x40, 0, 0}}, {0, 1, 2, 3, 2, 3, 2, 1, 0, 1}, 0},
      {"16-byte OS/2 2 header", {16, 3, 1, 4, 0, 0, greyishPalette(16), indices3x1}, {3, 10, 5}, 0},
      {"64-byte OS/2 2 header", {64, 3, 1, 4, 0, 0, greyishPalette(16), indices3x1}, {3, 10, 5}, 0},
      {"alpha masks", {40, 1, 1, 32, 6, 0, alphaMasks, {0x10, 0x20, 0x30, 0x80}}, {}, 0x102030},
  };
  for (const Case& c : cases) {
    const Bytes bytes = buildBmp(c.fields);
    RgbImage loaded;
    MappedImage mapped;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded)) << c.name;
    if (c.indices.empty()) {
      EXPECT_EQ(c.colour, loaded.at(0, 0)) << c.name;
      continue;
    }
    ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &mapped)) << c.name;
    EXPECT_EQ(c.indices, mapped.indices) << c.name;
    EXPECT_EQ(picEncodeColour(1, 2, 3), mapped.map[1]) << c.name;
    EXPECT_EQ(0u, countDifferences(mappedToRgb(mapped), loaded)) << c.name;
  }
  // The outside peer reads the 4-bit code the same way.
  RgbImage seen, loaded;
  ASSERT_TRUE(peerDecode(writeTempFile("rle4.bmp", buildBmp(rle4Fields())), &seen));
  ASSERT_EQ(PIC_OK, memoryLoadRGB(buildBmp(rle4Fields()), &loaded));
  EXPECT_EQ(0u, countDifferences(seen, loaded));
}

// ---- Damaged files ---------------------------------------------------------

// Files of every kind the reader knows, small enough to cut at every length.
std::vector<std::pair<std::string, Bytes>> smallFiles() {
  std::vector<std::pair<std::string, Bytes>> files;
  const Size size = {13, 5};
  for (const WriterOption& option : writerOptions) {
    RgbImage expected;
    const std::string path = tempPath("small.bmp");
    if (saveWith(option, size, path, &expected) == PIC_OK) files.push_back({option.name, readFileBytes(path)});
  }
  for (const PeerVariant& variant : peerVariants) {
    const std::string made = tempPath("small-peer.bmp");
    if (!peerMake(makeTestImage(size.width, size.height, 9), variant, made)) continue;
    Bytes bytes = readFileBytes(made);
    files.push_back({variant.name, variant.transform ? variant.transform(bytes) : bytes});
  }
  return files;
}

TEST(Bmp, TruncatedFilesGiveAStatusOrTheWholePicture) {
  const auto files = smallFiles();
  ASSERT_EQ(std::size(writerOptions) + std::size(peerVariants), files.size()) << "the peer failed";
  for (const auto& [name, bytes] : files) {
    RgbImage whole, cut;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &whole)) << name;
    for (size_t length = 0; length < bytes.size(); ++length) {
      const Bytes part(bytes.begin(), bytes.begin() + long(length));
      if (memoryLoadRGB(part, &cut) == PIC_OK) {
        EXPECT_EQ(0u, countDifferences(whole, cut)) << name << " at " << length;
      }
      if (length > 80 && length % 13 != 0 && length + 16 < bytes.size()) continue;
      const std::string path = tempPath("cut.bmp");
      writeFileBytes(path, part);
      if (libraryLoadRGB(path, &cut) == PIC_OK) {
        EXPECT_EQ(0u, countDifferences(whole, cut)) << name << " at " << length << " (disk)";
      }
      MappedImage mapped;
      memoryLoadMap(part, &mapped);
    }
  }
}

TEST(Bmp, HostileOffsetsAndPalettesEndInReadErrors) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* reason;
  };
  BmpFields fields;
  fields.bitCount = 8;
  fields.width = 3;
  fields.height = 2;
  fields.palette = greyishPalette(256);
  fields.pixels = Bytes(8, 1);
  const Case cases[] = {
      {"data offset past the end", [](Bytes& b) { b[10] = 0xff; b[11] = 0xff; }, "data offset past the end of the file"},
      {"data offset past an int", [](Bytes& b) { b[13] = 0x90; }, "data offset past the end of the file"},
      {"data offset at the last byte", [](Bytes& b) { put32(b, 0); uint32_t at = uint32_t(b.size() - 5); b.resize(b.size() - 4); b[10] = uint8_t(at); b[11] = uint8_t(at >> 8); }, "rows past the end of the file"},
      {"palette cut", [](Bytes& b) { b.resize(200); }, "palette past the end of the file"},
      {"4-bit run-length cut inside a literal", [](Bytes& b) { b = buildBmp(rle4Fields()); b.resize(b.size() - 12); }, "run-length data ends inside a row"},
  };
  for (const Case& c : cases) {
    Bytes bytes = buildBmp(fields);
    c.damage(bytes);
    RgbImage image;
    EXPECT_EQ(PIC_ERR_READ, memoryLoadRGB(bytes, &image)) << c.name;
    const std::string path = tempPath("hostile.bmp");
    writeFileBytes(path, bytes);
    EXPECT_EQ(PIC_ERR_READ, libraryLoadRGB(path, &image)) << c.name << " (disk)";
    EXPECT_STREQ(c.reason, picLastReason()) << c.name;
  }
}

// Every input that ever troubled the reader is replayed here.
TEST(Bmp, ReplaysTheCollectedInputs) {
  const std::string dir = std::string(SOLSYS_TEST_DATA) + "/bmp";
  DIR* listing = opendir(dir.c_str());
  ASSERT_NE(nullptr, listing) << dir;
  int replayed = 0;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] == '.') continue;
    const Bytes bytes = readFileBytes(dir + "/" + entry->d_name);
    RgbImage image;
    MappedImage mapped;
    int width = 0, height = 0;
    // Only pictures of sane size are loaded; the rest must at least be described.
    picUseMemoryFiles();
    char name[64];
    Bytes buffer = bytes.empty() ? Bytes(1) : bytes;
    picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
    const int status = picImageInfo(name, &width, &height, nullptr, nullptr);
    picUseDiskFiles();
    if (status == PIC_OK && int64_t(width) * height <= (1 << 22)) {
      memoryLoadRGB(bytes, &image);
      memoryLoadMap(bytes, &mapped);
    }
    ++replayed;
  }
  closedir(listing);
  EXPECT_GT(replayed, 0);
}
}  // namespace
