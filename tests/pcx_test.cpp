// PCX: round trips through every writer option, files made by ImageMagick and
// netpbm against ImageMagick's own decode, our files decoded by ImageMagick,
// hand-built headers and truncated files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "picture/formats/pcx_runs.h"
#include "support/image_peer.h"

namespace {

const int pcxFormat = PIC_DRIVER_PCX;
const int pcxRle = PIC_DRIVER_PCX | PIC_COMP_RLE;

// A 128-byte header with the fields the reader uses; the palette is left zero.
std::vector<uint8_t> pcxHeader(int version, int encoding, int bitsPerPixel, int width, int height,
                               int planes, int bytesPerLine) {
  std::vector<uint8_t> header(128, 0);
  header[0] = 10;                        // manufacturer
  header[1] = uint8_t(version);          // version
  header[2] = uint8_t(encoding);         // 1 = run-length
  header[3] = uint8_t(bitsPerPixel);     // bits per pixel per plane
  header[8] = uint8_t(width - 1);        // xmax (xmin, ymin stay 0)
  header[9] = uint8_t((width - 1) >> 8);
  header[10] = uint8_t(height - 1);      // ymax
  header[11] = uint8_t((height - 1) >> 8);
  header[65] = uint8_t(planes);          // number of planes
  header[66] = uint8_t(bytesPerLine);    // bytes per line per plane
  header[67] = uint8_t(bytesPerLine >> 8);
  return header;
}

void append(std::vector<uint8_t>& bytes, std::initializer_list<int> more) {
  for (int b : more) bytes.push_back(uint8_t(b));
}

std::vector<uint8_t> plus(std::vector<uint8_t> bytes, std::initializer_list<int> more) {
  append(bytes, more);
  return bytes;
}

// 12 then 768 palette bytes where entry i is (i, 255 - i, i / 2).
void appendEndPalette(std::vector<uint8_t>& bytes) {
  bytes.push_back(12);
  for (int i = 0; i < 256; ++i) append(bytes, {i, 255 - i, i / 2});
}

void requirePeer() {
  ASSERT_TRUE(toolInstalled(peerConvert()))
      << peerConvert() << " is needed for the interoperability tests";
}

TEST(Pcx, RoundTripsEveryWriterOptionOnDiskAndInMemory) {
  struct Case {
    int width, height, colourMode, format;
  };
  const Case cases[] = {
      {1, 1, PIC_MAP, pcxFormat},  {1, 1, PIC_RGB, pcxRle},     {1, 9, PIC_MAP, pcxRle},
      {9, 1, PIC_RGB, pcxFormat},  {7, 5, PIC_MAP, pcxFormat},  {7, 5, PIC_MAP, pcxRle},
      {7, 5, PIC_RGB, pcxFormat},  {7, 5, PIC_RGB, pcxRle},     {200, 3, PIC_MAP, pcxRle},
      {200, 3, PIC_RGB, pcxRle},   {64, 33, PIC_RGB, pcxRle},   {63, 17, PIC_MAP, pcxFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " mode " +
                 std::to_string(c.colourMode) + " format " + std::to_string(c.format));
    const std::string path = tempPath("round.pcx");
    std::vector<uint8_t> memoryBytes;
    if (c.colourMode == PIC_MAP) {
      MappedImage image = makeTestMapped(c.width, c.height, 200, unsigned(c.width));
      // A long run of one index, so that runs longer than 63 are split.
      for (int x = 0; x < c.width && x < 150; ++x) image.indices[x] = 7;
      ASSERT_EQ(PIC_OK, picSaveMap(c.width, c.height, c.format, image.indices.data(), 200,
                                   image.map.data(), path.c_str()));
      ASSERT_EQ(PIC_OK, memorySaveMap(image, c.format, &memoryBytes));
      EXPECT_EQ(readFileBytes(path), memoryBytes);
      MappedImage fromDisk, fromMemory;
      ASSERT_EQ(PIC_OK, libraryLoadMap(path, &fromDisk));
      ASSERT_EQ(PIC_OK, memoryLoadMap(memoryBytes, &fromMemory));
      EXPECT_EQ(image.indices, fromDisk.indices);
      EXPECT_EQ(image.indices, fromMemory.indices);
      ASSERT_EQ(256u, fromDisk.map.size());
      for (int i = 0; i < 256; ++i) EXPECT_EQ(i < 200 ? image.map[i] : 0, fromDisk.map[i]) << i;
    } else {
      expectRgbRoundTrip(makeTestImage(c.width, c.height, unsigned(c.height)), c.format, path);
    }
    int format = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(c.format, format);
  }
}

TEST(Pcx, WritesTheDocumentedHeaderRowsAndPalette) {
  // Three pixels, bottom row only: 0x41 alone, then two zeros; odd width pads to 4.
  const uint8_t indices[] = {0x41, 0, 0};
  const int32_t map[] = {0x102030, 0x405060};
  const std::string path = tempPath("written.pcx");
  ASSERT_EQ(PIC_OK, picSaveMap(3, 1, pcxRle, indices, 2, map, path.c_str()));
  const std::vector<uint8_t> bytes = readFileBytes(path);
  ASSERT_EQ(128u + 4 + 769, bytes.size());
  EXPECT_EQ(10, bytes[0]);   // manufacturer
  EXPECT_EQ(5, bytes[1]);    // version
  EXPECT_EQ(1, bytes[2]);    // run-length
  EXPECT_EQ(8, bytes[3]);    // bits per pixel
  EXPECT_EQ(2, bytes[8]);    // xmax
  EXPECT_EQ(0, bytes[10]);   // ymax
  EXPECT_EQ(1, bytes[65]);   // planes
  EXPECT_EQ(4, bytes[66]);   // bytes per line: width rounded up to even
  const std::vector<uint8_t> defaultStart = {0, 0, 0, 0, 0, 255, 0, 255, 0};
  EXPECT_EQ(defaultStart, std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 25));
  EXPECT_EQ(255, bytes[16 + 45]);  // entry 15 is white
  // 0x41 escaped as a run of one; three zeros (two pixels and the pad) as one run.
  const std::vector<uint8_t> row = {0xc1, 0x41, 0xc3, 0x00};
  EXPECT_EQ(row, std::vector<uint8_t>(bytes.begin() + 128, bytes.begin() + 132));
  EXPECT_EQ(12, bytes[132]);
  const std::vector<uint8_t> palette = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0, 0};
  EXPECT_EQ(palette, std::vector<uint8_t>(bytes.begin() + 133, bytes.begin() + 142));

  // True colour, not encoded: three planes of width rounded up, pad 0 each.
  const uint8_t red[] = {1, 2, 3}, green[] = {4, 5, 6}, blue[] = {7, 8, 9};
  ASSERT_EQ(PIC_OK, picSaveRGB(3, 1, pcxFormat, red, green, blue, path.c_str()));
  const std::vector<uint8_t> rgb = readFileBytes(path);
  ASSERT_EQ(128u + 12, rgb.size());
  EXPECT_EQ(0, rgb[2]);
  EXPECT_EQ(3, rgb[65]);
  const std::vector<uint8_t> planes = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  EXPECT_EQ(planes, std::vector<uint8_t>(rgb.begin() + 128, rgb.end()));
}

TEST(Pcx, RefusesWhatTheWriterCannotMake) {
  const int32_t map[1] = {0};
  const std::string path = tempPath("refused.pcx");
  std::vector<uint8_t> wide(65535, 0);
  EXPECT_EQ(PIC_ERR_DATA, picSaveMap(65535, 1, pcxFormat, wide.data(), 1, map, path.c_str()));
  EXPECT_STREQ("sides past the header's 16-bit fields", picLastReason());
}

// PCX has one compression: every compression code asks for run-length rows.
TEST(Pcx, AnyCompressionCodeWritesRunLengthRows) {
  const MappedImage mapped = makeTestMapped(5, 3, 256, 2);
  const RgbImage rgb = makeTestImage(5, 3, 2);
  for (int code : {int(PIC_COMP_RLE), int(PIC_COMP_LZW), 0x300}) {
    SCOPED_TRACE(code);
    std::vector<uint8_t> expected, written;
    ASSERT_EQ(PIC_OK, memorySaveMap(mapped, pcxRle, &expected));
    ASSERT_EQ(PIC_OK, memorySaveMap(mapped, PIC_DRIVER_PCX | code, &written));
    EXPECT_EQ(expected, written);
    ASSERT_EQ(PIC_OK, memorySaveRGB(rgb, pcxRle, &expected));
    ASSERT_EQ(PIC_OK, memorySaveRGB(rgb, PIC_DRIVER_PCX | code, &written));
    EXPECT_EQ(expected, written);
  }
}

int xResolutionSeen, yResolutionSeen, unitSeen;
int giveCentimetres(const char*, double* x, double* y, int* unit) {
  if (*unit == PIC_RES_NONE && *x == 0.0) {
    *x = 100.0;
    *y = 50.0;
    *unit = PIC_RES_CM;
  } else {
    xResolutionSeen = int(*x);
    yResolutionSeen = int(*y);
    unitSeen = *unit;
  }
  return 0;
}

TEST(Pcx, WritesCentimetreResolutionInInchesAndReportsInches) {
  const uint8_t pixel[1] = {0};
  const int32_t map[1] = {0};
  const std::string path = tempPath("resolution.pcx");
  ASSERT_EQ(1, picDriverControl(reinterpret_cast<void*>(giveCentimetres), PIC_CONTROL_RESOLUTION, -1));
  const int saved = picSaveMap(1, 1, pcxFormat, pixel, 1, map, path.c_str());
  int width = 0;
  const int described = picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr);
  picDriverControl(nullptr, PIC_CONTROL_RESOLUTION, -1);
  ASSERT_EQ(PIC_OK, saved);
  ASSERT_EQ(PIC_OK, described);
  const std::vector<uint8_t> bytes = readFileBytes(path);
  EXPECT_EQ(254, bytes[12] | bytes[13] << 8);
  EXPECT_EQ(127, bytes[14] | bytes[15] << 8);
  EXPECT_EQ(254, xResolutionSeen);
  EXPECT_EQ(127, yResolutionSeen);
  EXPECT_EQ(PIC_RES_INCH, unitSeen);
}

TEST(Pcx, PeerDecodesOurFilesWithTheSamePixels) {
  requirePeer();
  const int sizes[][2] = {{1, 1}, {7, 5}, {130, 9}};
  for (const auto& size : sizes)
    for (int format : {pcxFormat, pcxRle}) {
      SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " format " +
                   std::to_string(format));
      const RgbImage image = makeTestImage(size[0], size[1], 3);
      const std::string rgbPath = tempPath("ours-rgb.pcx");
      ASSERT_EQ(PIC_OK, picSaveRGB(size[0], size[1], format, image.red.data(), image.green.data(),
                                   image.blue.data(), rgbPath.c_str()));
      RgbImage decoded;
      ASSERT_TRUE(peerDecode(rgbPath, &decoded));
      EXPECT_EQ(0u, countDifferences(image, decoded));

      const MappedImage mapped = makeTestMapped(size[0], size[1], 256, 5);
      const std::string mapPath = tempPath("ours-map.pcx");
      ASSERT_EQ(PIC_OK, picSaveMap(size[0], size[1], format, mapped.indices.data(), 256,
                                   mapped.map.data(), mapPath.c_str()));
      ASSERT_TRUE(peerDecode(mapPath, &decoded));
      EXPECT_EQ(0u, countDifferences(mappedToRgb(mapped), decoded));
    }
}

// Bits per pixel and planes of a PCX file, to be sure a peer wrote the variant asked for.
std::pair<int, int> layoutOf(const std::string& path) {
  const std::vector<uint8_t> bytes = readFileBytes(path);
  if (bytes.size() < 128) return {0, 0};
  return {bytes[3], bytes[65]};
}

// The second peer's decode (netpbm reads run-length files only).
bool netpbmDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".netpbm.ppm";
  return runCommand("pcxtoppm '" + path + "' > '" + ppm + "' 2>/dev/null") && readPpm(ppm, image);
}

TEST(Pcx, LoadsPeerFilesLikeThePeer) {
  requirePeer();
  const RgbImage source = makeTestImage(37, 11, 9);
  const std::string sourcePpm = tempPath("peer-source.ppm");
  ASSERT_TRUE(writePpm(sourcePpm, source));
  const std::string bilevel = tempPath("bilevel.pbm");
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " -size 2x1 xc:black xc:white +append " + bilevel));
  struct Case {
    const char* name;
    bool netpbm;          // made by ppmtopcx from netpbmColours colours, else by ImageMagick
    std::string options;
    int bitsPerPixel, planes;
    bool peerInverts;  // ImageMagick shows its own 1-bit files against their palette
    int netpbmColours = 16;
  };
  const std::string remap = "-dither None -remap " + bilevel + " ";
  const Case cases[] = {
      {"1-bit", false, remap, 1, 1, true},
      {"1-bit raw", false, remap + "-compress None", 1, 1, true},
      {"16 colours in 8 bits", false, "-dither None -colors 16", 8, 1, false},
      {"8-bit", false, "-colors 200", 8, 1, false},
      {"8-bit raw", false, "-colors 200 -compress None", 8, 1, false},
      {"24-bit", false, "-type TrueColor", 8, 3, false},
      {"24-bit raw", false, "-type TrueColor -compress None", 8, 3, false},
      {"16 colours in 4 planes", true, "", 1, 4, false},
      {"16 colours packed", true, "-packed", 4, 1, false},
      {"4 colours packed", true, "-packed", 2, 1, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath(std::string("peer-") + c.name + ".pcx");
    const std::string convert = std::string(peerConvert()) + " " + sourcePpm + " ";
    ASSERT_TRUE(runCommand(c.netpbm ? convert + "-dither None -colors " + std::to_string(c.netpbmColours) +
                                          " ppm:- | ppmtopcx " + c.options +
                                          " > '" + path + "' 2>/dev/null"
                                    : convert + c.options + " 'pcx:" + path + "'"));
    EXPECT_EQ(std::make_pair(c.bitsPerPixel, c.planes), layoutOf(path));
    RgbImage expected, ours, oursFromMemory;
    ASSERT_TRUE(peerDecode(path, &expected));
    if (c.peerInverts) {
      // Its 1-bit files set the bits of black pixels under a palette whose entry 1
      // is white; netpbm, like this library, follows the palette.
      for (auto* plane : {&expected.red, &expected.green, &expected.blue})
        for (uint8_t& sample : *plane) sample = uint8_t(255 - sample);
      RgbImage second;
      const bool encoded = readFileBytes(path)[2] != 0;
      if (encoded) {
        ASSERT_TRUE(netpbmDecode(path, &second));
        EXPECT_EQ(0u, countDifferences(expected, second));
      }
    }
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &ours));
    EXPECT_EQ(0u, countDifferences(expected, ours));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(readFileBytes(path), &oursFromMemory));
    EXPECT_EQ(0u, countDifferences(expected, oursFromMemory));
  }
}

TEST(Pcx, HandBuiltFilesDecodeAsTheFormatSays) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int width, height;
    std::vector<uint32_t> topRowColours;  // expected colours of the top row
  };
  std::vector<Case> cases;
  {  // 16 colours in four planes, version 3: the default palette.
    std::vector<uint8_t> bytes = pcxHeader(3, 0, 1, 3, 1, 4, 2);
    // Pixel 0 index 1 (plane 0), pixel 1 index 8 (plane 3), pixel 2 index 15.
    append(bytes, {0xa0, 0, 0x20, 0, 0x20, 0, 0x60, 0});
    cases.push_back({"four planes, version 3", bytes, 3, 1, {0x0000ff, 0x5555ff, 0xffffff}});
  }
  {  // The same file as version 5 takes its header palette.
    std::vector<uint8_t> bytes = pcxHeader(5, 0, 1, 3, 1, 4, 2);
    bytes[16 + 3] = 0x11;  // entry 1 red
    bytes[16 + 24] = 0x22; // entry 8 red
    bytes[16 + 46] = 0x33; // entry 15 green
    append(bytes, {0xa0, 0, 0x20, 0, 0x20, 0, 0x60, 0});
    cases.push_back({"four planes, version 5", bytes, 3, 1, {0x110000, 0x220000, 0x003300}});
  }
  {  // Packed 4-bit pixels in one plane, high nibble first.
    std::vector<uint8_t> bytes = pcxHeader(2, 0, 4, 3, 1, 1, 2);
    bytes[16 + 3 * 0xa] = 0x44;
    bytes[16 + 3 * 0x5 + 2] = 0x55;
    append(bytes, {0xa5, 0x0f});
    cases.push_back({"packed 4-bit", bytes, 3, 1, {0x440000, 0x000055, 0}});
  }
  {  // Packed 2-bit pixels (CGA): the header palette's first four entries, as
     // written, whatever background and palette selection they might spell.
    std::vector<uint8_t> bytes = pcxHeader(5, 1, 2, 5, 1, 1, 2);
    const uint8_t colours[12] = {0x13, 0x13, 0x13, 0xa4, 0xff, 0x67, 0, 0, 0, 0x10, 0x20, 0x30};
    std::copy(colours, colours + 12, bytes.begin() + 16);
    append(bytes, {0x1b, 0xc1, 0x80});  // 0 1 2 3, then a run of one: 2 and padding
    cases.push_back({"packed 2-bit", bytes, 5, 1, {0x131313, 0xa4ff67, 0, 0x102030, 0}});
  }
  {  // 8-bit version 2: header palette, entries 16 and up black.
    std::vector<uint8_t> bytes = pcxHeader(2, 0, 8, 2, 1, 1, 2);
    bytes[16 + 3 * 15] = 0x77;
    append(bytes, {15, 200});
    appendEndPalette(bytes);  // ignored: only version 5 files carry one
    cases.push_back({"8-bit version 2", bytes, 2, 1, {0x770000, 0}});
  }
  {  // 8-bit version 5: the end palette; runs of count 0 give nothing, a run
     // crossing the row's end is cut there and the next row starts afresh.
    std::vector<uint8_t> bytes = pcxHeader(5, 1, 8, 2, 2, 1, 2);
    append(bytes, {0xc0, 9, 0xc5, 3, 0x01, 0x02});
    appendEndPalette(bytes);
    cases.push_back({"8-bit runs", bytes, 2, 2, {0x03fc01, 0x03fc01}});
  }
  {  // 24-bit: a run passing a plane's end goes on in the next plane (here
     // over all of green), one passing the row's end is cut there.
    std::vector<uint8_t> bytes = pcxHeader(5, 1, 8, 2, 2, 3, 2);
    append(bytes, {0x10, 0xc4, 0x20, 0xc3, 0x30});  // red 10 20, green 20 20, blue 20 30 (two 30s cut)
    append(bytes, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    cases.push_back({"24-bit runs across planes", bytes, 2, 2, {0x102020, 0x202030}});
  }
  {  // A one-bit file with an empty palette is black and white.
    std::vector<uint8_t> bytes = pcxHeader(5, 0, 1, 9, 1, 1, 2);
    append(bytes, {0x80, 0x80});
    cases.push_back({"1-bit, empty palette", bytes, 9, 1, {0xffffff, 0, 0, 0, 0, 0, 0, 0, 0xffffff}});
  }
  {  // A one-bit version 3 file has no palette: black and white, as other
     // readers show it, not the first two colours of the 16-colour default.
    std::vector<uint8_t> bytes = pcxHeader(3, 1, 1, 9, 1, 1, 2);
    append(bytes, {0xc1, 0x80, 0xc1, 0x80});
    cases.push_back({"1-bit, version 3", bytes, 9, 1, {0xffffff, 0, 0, 0, 0, 0, 0, 0, 0xffffff}});
  }
  {  // A one-bit file with its own two colours.
    std::vector<uint8_t> bytes = pcxHeader(5, 1, 1, 2, 1, 1, 2);
    append(bytes, {0xc1, 0x40, 0xc1, 0x00});  // second byte of the row is padding
    bytes[16 + 0] = 0x12;
    bytes[16 + 5] = 0x34;
    cases.push_back({"1-bit, own palette", bytes, 2, 1, {0x120000, 0x000034}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("hand.pcx", c.bytes);
    RgbImage image;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
    ASSERT_EQ(c.width, image.width);
    ASSERT_EQ(c.height, image.height);
    for (int x = 0; x < c.width; ++x) EXPECT_EQ(c.topRowColours[size_t(x)], image.at(x, 0)) << x;
    RgbImage fromMemory;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(c.bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(image, fromMemory));
  }
}

// Rows of random codes in stretches of one kind (literals, runs of one,
// runs up to 63, runs of none, runs of 1 to 4 and of 1 to 7), as the decoder's bulk steps meet
// them, decode to what each code says, a run passing the row's end cut there.
TEST(Pcx, RandomRunLengthRowsDecodeCodeByCode) {
  const int width = 300, height = 6, rowBytes = 3 * width;
  std::vector<uint8_t> bytes = pcxHeader(5, 1, 8, width, height, 3, width);
  std::vector<uint8_t> expected;  // the decoded rows, planes one after the other
  uint32_t seed = 12345;
  auto next = [&seed](int below) { return int((seed = seed * 1103515245u + 12345u) >> 16) % below; };
  for (int y = 0; y < height; ++y) {
    size_t filled = 0;
    while (filled < size_t(rowBytes)) {
      const int kind = next(6), stretch = 1 + next(20);
      for (int i = 0; i < stretch && filled < size_t(rowBytes); ++i) {
        const int value = next(256);
        const int count = kind <= 1 ? 1 : kind == 2 ? next(64) : kind == 3 ? 0 : 1 + next(kind == 4 ? 4 : 7);
        if (kind == 0)
          append(bytes, {value % 0xc0});  // a literal
        else
          append(bytes, {0xc0 | count, value});
        const size_t kept = std::min(size_t(count), size_t(rowBytes) - filled);
        expected.insert(expected.end(), kept, uint8_t(kind == 0 ? value % 0xc0 : value));
        filled += kept;
      }
    }
  }
  RgbImage image;
  ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &image));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* row = &expected[size_t(y) * rowBytes];
      ASSERT_EQ(uint32_t(row[x] << 16 | row[width + x] << 8 | row[2 * width + x]), image.at(x, y))
          << "row " << y << " pixel " << x;
    }
}

// The plain run decoder and every fast path this processor has (the word-wise
// steps always, the SSSE3 shuffles where picHasSsse3 says so) agree on rows of
// each kind of stretch and length, the source cut anywhere and decoding going
// on from there, with room to spare, the row ending with the data or inside it.
TEST(Pcx, FastRunDecodersAgreeWithThePlainOne) {
  ASSERT_EQ(picHasSsse3(), picPcxRunDecoderAvailable(picPcxRunDecoder::shuffled));
  std::vector<picPcxRunDecoder> fast = {picPcxRunDecoder::wordwise};
  if (picHasSsse3()) fast.push_back(picPcxRunDecoder::shuffled);
  struct Kind {
    const char* name;
    int fewest, most;  // run counts; -1 stands for a literal
  };
  const Kind kinds[] = {{"literals", -1, -1},     {"runs of one", 1, 1}, {"runs of 1 to 4", 1, 4},
                        {"runs of 1 to 7", 1, 7}, {"long runs", 8, 63},  {"runs of none", 0, 0},
                        {"mixed", -1, 63},        {"literals among runs of 0 to 2", -1, 2}};
  uint32_t seed = 99;
  auto next = [&seed](int below) { return int((seed = seed * 1103515245u + 12345u) >> 16) % below; };
  for (const Kind& kind : kinds)
    // Past 200 codes the rows are long enough for sixteen-byte chunks (other writers' mix).
    for (int codes = 1; codes <= 1200; codes += codes < 64 ? 1 : codes < 200 ? 50 : 500) {
      std::vector<uint8_t> source;
      size_t total = 0;
      for (int i = 0; i < codes; ++i) {
        const int count = kind.fewest + next(kind.most - kind.fewest + 1);
        if (count < 0)
          source.push_back(uint8_t(next(0xc0)));
        else
          append(source, {0xc0 | count, next(256)});
        total += size_t(count < 0 ? 1 : count);
      }
      for (size_t rowLength : {total + 100, total, total - total / 3}) {
        // Both halves of the cut source into one row; the first half's counts beside the whole's.
        auto decode = [&](picPcxRunDecoder decoder, size_t cut, std::vector<size_t>* counts) {
          std::vector<uint8_t> row(rowLength, 0xee);
          size_t produced = 0;
          const size_t first = picPcxUnpackRunsWith(decoder, source.data(), cut, row.data(), rowLength, &produced);
          *counts = {first, produced};
          counts->push_back(first + picPcxUnpackRunsWith(decoder, source.data() + first, source.size() - first,
                                                         row.data(), rowLength, &produced));
          counts->push_back(produced);
          row.resize(produced);
          return row;
        };
        for (size_t cut = 0; cut <= source.size(); cut += 1 + source.size() / 256) {
          std::vector<size_t> expectedCounts, counts;
          const std::vector<uint8_t> expected = decode(picPcxRunDecoder::plain, cut, &expectedCounts);
          for (picPcxRunDecoder decoder : fast) {
            ASSERT_EQ(expected, decode(decoder, cut, &counts))
                << kind.name << ", " << codes << " codes, row " << rowLength << ", cut " << cut
                << ", decoder " << int(decoder);
            ASSERT_EQ(expectedCounts, counts) << kind.name << ", " << codes << " codes, cut " << cut;
          }
        }
      }
    }
}

TEST(Pcx, MalformedHeadersEndInAStatus) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int infoStatus;  // picImageInfo
    int loadStatus;  // picLoadRGB
    const char* reason;  // picLastReason after the load; none for a file of another format
  };
  auto withBody = [](std::vector<uint8_t> bytes, size_t body) {
    bytes.resize(bytes.size() + body, 0);
    return bytes;
  };
  std::vector<uint8_t> badMarker = withBody(pcxHeader(5, 0, 8, 2, 1, 1, 2), 2);
  appendEndPalette(badMarker);
  badMarker[130] = 13;
  std::vector<uint8_t> notManufacturer = withBody(pcxHeader(5, 0, 8, 2, 1, 1, 2), 2);
  notManufacturer[0] = 11;
  std::vector<uint8_t> otherFormat = withBody(pcxHeader(5, 0, 8, 2, 1, 1, 2), 2);
  otherFormat[3] = 0;  // a file of another kind whose first byte is 10
  std::vector<uint8_t> flipped = withBody(pcxHeader(5, 0, 8, 2, 1, 1, 2), 2);
  flipped[4] = 5;  // xmin beyond xmax
  std::vector<uint8_t> shortHeader = pcxHeader(5, 0, 8, 2, 1, 1, 2);
  shortHeader.resize(60);
  const char* const layout = "plane layout the reader does not unpack";
  const char* const shortRows = "bytes per line below the width";
  const Case cases[] = {
      {"first byte not 10", notManufacturer, PIC_ERR_FORMAT, PIC_ERR_FORMAT, nullptr},
      {"implausible header", otherFormat, PIC_ERR_FORMAT, PIC_ERR_FORMAT, nullptr},
      {"2 bits in 4 planes", withBody(pcxHeader(5, 0, 2, 4, 1, 4, 2), 8), PIC_OK, PIC_ERR_DATA, layout},
      {"8 bits in 2 planes", withBody(pcxHeader(5, 0, 8, 4, 1, 2, 4), 8), PIC_OK, PIC_ERR_DATA, layout},
      {"no planes", withBody(pcxHeader(5, 0, 8, 4, 1, 0, 4), 8), PIC_OK, PIC_ERR_DATA, layout},
      {"bytes per line below the width", withBody(pcxHeader(5, 0, 8, 40, 2, 3, 2), 12), PIC_OK,
       PIC_ERR_DATA, shortRows},
      {"1-bit row too short", withBody(pcxHeader(5, 0, 1, 17, 1, 1, 2), 2), PIC_OK, PIC_ERR_DATA, shortRows},
      {"packed 4-bit row too short", withBody(pcxHeader(5, 0, 4, 5, 1, 1, 2), 2), PIC_OK,
       PIC_ERR_DATA, shortRows},
      {"packed 2-bit row too short", withBody(pcxHeader(5, 0, 2, 9, 1, 1, 2), 2), PIC_OK,
       PIC_ERR_DATA, shortRows},
      {"xmin beyond xmax", flipped, PIC_ERR_DATA, PIC_ERR_DATA, "a side of no pixels"},
      {"end palette marker wrong", badMarker, PIC_OK, PIC_ERR_READ, "no marker before the palette at the end"},
      {"8-bit without end palette", withBody(pcxHeader(5, 0, 8, 2, 1, 1, 2), 2), PIC_OK, PIC_ERR_READ,
       "no room for the palette at the end"},
      {"header cut short", shortHeader, PIC_ERR_READ, PIC_ERR_READ, "file ends inside the header"},
      {"rows missing", withBody(pcxHeader(5, 0, 8, 2, 9, 3, 2), 5), PIC_OK, PIC_ERR_READ,
       "data ends inside a row"},
      {"run-length rows missing", plus(pcxHeader(5, 1, 8, 200, 9, 3, 200), {0xff}),
       PIC_OK, PIC_ERR_READ, "run-length data ends inside a row"},
      {"packed 2-bit rows missing", plus(pcxHeader(5, 1, 2, 8, 3, 1, 2), {0x1b, 0xc3, 0xff}),
       PIC_OK, PIC_ERR_READ, "run-length data ends inside a row"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("malformed.pcx", c.bytes);
    int width = 0;
    EXPECT_EQ(c.infoStatus, picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr));
    std::vector<uint8_t> planes(3 * 64 * 64);
    EXPECT_EQ(c.loadStatus, picLoadRGB(path.c_str(), planes.data(), planes.data() + 4096, planes.data() + 8192));
    EXPECT_STREQ(c.reason, picLastReason());
    RgbImage fromMemory;
    const int memoryStatus = memoryLoadRGB(c.bytes, &fromMemory);
    EXPECT_EQ(c.infoStatus == PIC_OK ? c.loadStatus : c.infoStatus, memoryStatus);
  }
}

// A Targa file begins with its identification field's length: 10 makes its
// first byte PCX's, and the rest of its header is what leaves it to Targa.
TEST(Pcx, ATargaWithATenByteIdentificationFieldLoadsAsTarga) {
  const RgbImage rgb = makeTestImage(5, 3);
  const MappedImage mapped = makeTestMapped(5, 3, 7);
  for (const int compression : {int(PIC_COMP_NONE), int(PIC_COMP_RLE)}) {
    for (const bool isMapped : {false, true}) {
      SCOPED_TRACE((compression ? "run-length " : "") + std::string(isMapped ? "mapped" : "true colour"));
      std::vector<uint8_t> bytes;
      const int format = PIC_DRIVER_TARGA | compression;
      ASSERT_EQ(PIC_OK, isMapped ? memorySaveMap(mapped, format, &bytes) : memorySaveRGB(rgb, format, &bytes));
      ASSERT_EQ(0, bytes[0]);
      bytes[0] = 10;  // identification field length
      const uint8_t identification[10] = {'i', 'd', 'e', 'n', 't', 'i', 't', 'y', '1', '0'};
      bytes.insert(bytes.begin() + 18, identification, identification + 10);
      const std::string path = writeTempFile("identified.tga", bytes);
      int found = -1;
      EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &found));
      EXPECT_EQ(PIC_DRIVER_TARGA, found & 0xff);
      RgbImage loaded;
      ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
      EXPECT_EQ(0u, countDifferences(loaded, isMapped ? mappedToRgb(mapped) : rgb));
    }
  }
}

TEST(Pcx, TruncatedFilesFailWithAStatus) {
  const RgbImage image = makeTestImage(21, 6, 4);
  const MappedImage mapped = makeTestMapped(21, 6, 256, 4);
  for (int format : {pcxFormat, pcxRle})
    for (int mode : {PIC_RGB, PIC_MAP}) {
      std::vector<uint8_t> bytes;
      ASSERT_EQ(PIC_OK, mode == PIC_RGB ? memorySaveRGB(image, format, &bytes)
                                        : memorySaveMap(mapped, format, &bytes));
      SCOPED_TRACE("format " + std::to_string(format) + " mode " + std::to_string(mode));
      expectTruncationsFail(bytes, tempPath("truncated.pcx"), 140);
    }
}

}  // namespace
