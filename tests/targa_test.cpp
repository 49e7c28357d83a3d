// Targa: files of outside tools loaded (orientation judged against two peers),
// files of the library opened by outside tools, round trips on disk and in
// memory, hand-built and hostile files, and files of other formats left alone.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

const int tgaFormat = PIC_DRIVER_TARGA;

// Debian's Python, the one python3-pil serves (a python3 earlier on the PATH may lack Pillow).
std::string python() { return "/usr/bin/python3"; }

// Runs a Python script (Pillow) with `in` and `out` as sys.argv[1] and [2].
bool runPillow(const std::string& script, const std::string& in, const std::string& out) {
  const std::string path = tempPath("pillow.py");
  std::ofstream(path) << "import sys\nfrom PIL import Image\n" << script << "\n";
  return runCommand(python() + " '" + path + "' '" + in + "' '" + out + "'");
}

// Decodes with Pillow, which honours the file's line order.
bool pillowDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".pillow.ppm";
  return runPillow("Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])", path, ppm) &&
         readPpm(ppm, image);
}

RgbImage flipped(const RgbImage& image) {
  RgbImage out(image.width, image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint32_t c = image.at(x, image.height - 1 - y);
      out.set(x, y, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c));
    }
  return out;
}

RgbImage makeGreyImage(int width, int height) {
  RgbImage image = makeTestImage(width, height, 3);
  image.red = image.blue = image.green;
  return image;
}

// A picture of at most 200 colours, which a palette holds exactly.
RgbImage makeFewColours(int width, int height) { return mappedToRgb(makeTestMapped(width, height, 200)); }

// Header of a hand-built file, field by field.
struct TgaHeader {
  int idLength = 0;
  int mapType = 0;    // 0 none, 1 present
  int imageType = 2;  // 1 mapped, 2 true colour, 3 grey; +8 run-length
  int mapFirst = 0;
  int mapLength = 0;
  int mapEntryBits = 0;
  int width = 2;
  int height = 2;
  int depth = 24;
  int descriptor = 0;  // 0x20: top line first
};

std::vector<uint8_t> buildHeader(const TgaHeader& h) {
  auto le16 = [](int v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8)}; };
  std::vector<uint8_t> bytes = {uint8_t(h.idLength), uint8_t(h.mapType), uint8_t(h.imageType)};
  for (int v : {h.mapFirst, h.mapLength}) {
    const auto w = le16(v);
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
  bytes.push_back(uint8_t(h.mapEntryBits));
  for (int v : {0, 0, h.width, h.height}) {  // x and y origin, width, height
    const auto w = le16(v);
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
  bytes.push_back(uint8_t(h.depth));
  bytes.push_back(uint8_t(h.descriptor));
  return bytes;
}

void append(std::vector<uint8_t>& bytes, std::initializer_list<int> values) {
  for (int v : values) bytes.push_back(uint8_t(v));
}

std::string writeTemp(const std::vector<uint8_t>& bytes, const char* name = "handmade.tga") {
  const std::string path = tempPath(name);
  writeFileBytes(path, bytes);
  return path;
}

// The Targa driver's own answer, whatever the drivers before it say.
int driverStatus(const std::string& path) {
  int status = -2;
  picFile* file = picTargaDriver()->openRead(path.c_str(), &status);
  if (file) picTargaDriver()->close(file);
  return status;
}

// ---- Outside tools ----------------------------------------------------------

TEST(Targa, PeersAreInstalled) {
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " -version > /dev/null"))
      << peerConvert() << " is needed for the interoperability tests";
  ASSERT_TRUE(runCommand(python() + " -c 'import PIL'")) << "Pillow (python3-pil) is needed";
  ASSERT_TRUE(runCommand("command -v tgatoppm > /dev/null && command -v pamtotga > /dev/null"))
      << "netpbm is needed";
}

TEST(Targa, LoadsFilesThePeerWritesTopLineFirst) {
  struct Case {
    const char* options;
    int type;
    int depth;
    int tolerance;
  };
  const Case cases[] = {
      {"-type Palette -compress None", 1, 8, 0},
      {"-type Palette -compress RLE", 9, 8, 0},
      // 5-bit components: compared with the peer's own reading, which widens
      // them by scaling where the library multiplies by 8.
      {"-type Palette -depth 5 -compress None", 1, 8, 8},  // 16-bit map entries
      {"-type TrueColor -compress None", 2, 24, 0},
      {"-type TrueColor -compress RLE", 10, 24, 0},
      {"-alpha on -compress None", 2, 32, 0},
      {"-alpha on -compress RLE", 10, 32, 0},
      {"-depth 5 -compress None", 2, 16, 8},
      {"-depth 5 -compress RLE", 10, 16, 8},
      {"-type Grayscale -compress None", 3, 8, 0},
      {"-type Grayscale -compress RLE", 11, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const RgbImage source = c.type % 8 == 3 ? makeGreyImage(45, 21)
                            : c.type % 8 == 1 ? makeFewColours(45, 21)
                                              : makeTestImage(45, 21);
    const std::string path = tempPath("peer.tga");
    ASSERT_TRUE(peerEncode(source, std::string(c.options) + " -orient TopLeft", path));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    ASSERT_GE(bytes.size(), 18u);
    ASSERT_EQ(c.type, bytes[2]);
    ASSERT_EQ(c.depth, bytes[16]);
    int format = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(tgaFormat | (c.type >= 9 ? PIC_COMP_RLE : PIC_COMP_NONE), format);
    RgbImage expected = source;
    if (c.tolerance > 0) {
      ASSERT_TRUE(peerDecode(path, &expected));
    }
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(expected, loaded, c.tolerance));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
    EXPECT_EQ(0u, countDifferences(expected, loaded, c.tolerance));
  }
}

// ImageMagick 6 stores lines top first while its descriptor says bottom first
// unless told otherwise; the descriptor is what other decoders go by.
TEST(Targa, FollowsTheDescriptorWhereImageMagickDisagreesWithOtherDecoders) {
  const RgbImage source = makeTestImage(30, 12);
  const std::string path = tempPath("default-orient.tga");
  ASSERT_TRUE(peerEncode(source, "-type TrueColor -compress None", path));
  ASSERT_EQ(0, readFileBytes(path)[17] & 0x20);  // says bottom line first
  RgbImage byPillow, loaded;
  ASSERT_TRUE(pillowDecode(path, &byPillow));
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
  EXPECT_EQ(0u, countDifferences(byPillow, loaded));
  EXPECT_EQ(0u, countDifferences(flipped(source), loaded));
  const std::string ppm = path + ".netpbm.ppm";
  ASSERT_TRUE(runCommand("tgatoppm '" + path + "' > '" + ppm + "'"));
  RgbImage byNetpbm;
  ASSERT_TRUE(readPpm(ppm, &byNetpbm));
  EXPECT_EQ(0u, countDifferences(byNetpbm, loaded));
}

TEST(Targa, LoadsBottomLineFirstFilesOfSecondPeers) {
  const RgbImage colourful = makeTestImage(37, 19);
  const RgbImage few = makeFewColours(37, 19);
  const RgbImage grey = makeGreyImage(37, 19);
  const std::string ppm = tempPath("second.ppm");
  struct Case {
    const char* what;
    const RgbImage* source;
    std::string command;  // {in} {out}
  };
  const std::string pil = python() + " " + tempPath("save.py");
  std::ofstream(tempPath("save.py"))
      << "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
         "mode, orientation, rle = sys.argv[3], int(sys.argv[4]), sys.argv[5] == 'rle'\n"
         "im = im.convert(mode) if mode != 'P' else im.quantize(256)\n"
         "im.save(sys.argv[2], orientation=orientation, compression='tga_rle' if rle else None)\n";
  const Case cases[] = {
      {"pillow RGB bottom", &colourful, pil + " {in} {out} RGB -1 raw"},
      {"pillow RGB bottom rle", &colourful, pil + " {in} {out} RGB -1 rle"},
      {"pillow RGB top rle", &colourful, pil + " {in} {out} RGB 1 rle"},
      {"pillow RGBA bottom", &colourful, pil + " {in} {out} RGBA -1 raw"},
      {"pillow RGBA bottom rle", &colourful, pil + " {in} {out} RGBA -1 rle"},
      {"pillow L bottom", &grey, pil + " {in} {out} L -1 raw"},
      {"pillow L bottom rle", &grey, pil + " {in} {out} L -1 rle"},
      {"pillow LA bottom", &grey, pil + " {in} {out} LA -1 raw"},
      {"pillow LA bottom rle", &grey, pil + " {in} {out} LA -1 rle"},
      {"pillow LA top", &grey, pil + " {in} {out} LA 1 raw"},
      {"pillow LA top rle", &grey, pil + " {in} {out} LA 1 rle"},
      {"pillow P bottom", &few, pil + " {in} {out} P -1 raw"},
      {"pillow P bottom rle", &few, pil + " {in} {out} P -1 rle"},
      {"netpbm mapped rle", &few, "pamtotga -cmap {in} > {out}"},
      {"netpbm mapped", &few, "pamtotga -cmap -norle {in} > {out}"},
      {"netpbm rgb rle", &colourful, "pamtotga -rgb {in} > {out}"},
      {"netpbm rgb", &colourful, "pamtotga -rgb -norle {in} > {out}"},
      {"netpbm grey rle", &grey, "ppmtopgm {in} | pamtotga -mono > {out}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writePpm(ppm, *c.source));
    const std::string path = tempPath("second.tga");
    std::string command = c.command;
    command.replace(command.find("{in}"), 4, "'" + ppm + "'");
    command.replace(command.find("{out}"), 5, "'" + path + "'");
    ASSERT_TRUE(runCommand(command));
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(*c.source, loaded));
  }
}

TEST(Targa, PeersOpenTheFilesTheLibraryWrites) {
  const RgbImage source = makeTestImage(300, 7);  // lines longer than one packet
  const MappedImage mapped = makeTestMapped(300, 7, 150);
  for (int compression : {PIC_COMP_NONE, PIC_COMP_RLE, PIC_COMP_LZW}) {
    SCOPED_TRACE(compression);
    for (bool isMapped : {false, true}) {
      SCOPED_TRACE(isMapped ? "mapped" : "true colour");
      const RgbImage expected = isMapped ? mappedToRgb(mapped) : source;
      const std::string path = tempPath("ours.tga");
      std::vector<uint8_t> inMemory;
      if (isMapped) {
        ASSERT_EQ(PIC_OK, picSaveMap(mapped.width, mapped.height, tgaFormat | compression,
                                     mapped.indices.data(), int(mapped.map.size()), mapped.map.data(),
                                     path.c_str()));
        ASSERT_EQ(PIC_OK, memorySaveMap(mapped, tgaFormat | compression, &inMemory));
      } else {
        ASSERT_EQ(PIC_OK, picSaveRGB(source.width, source.height, tgaFormat | compression,
                                     source.red.data(), source.green.data(), source.blue.data(),
                                     path.c_str()));
        ASSERT_EQ(PIC_OK, memorySaveRGB(source, tgaFormat | compression, &inMemory));
      }
      EXPECT_EQ(readFileBytes(path), inMemory);
      RgbImage decoded;
      ASSERT_TRUE(peerDecode(path, &decoded));  // no orientation help needed
      EXPECT_EQ(0u, countDifferences(expected, decoded));
      ASSERT_TRUE(pillowDecode(path, &decoded));
      EXPECT_EQ(0u, countDifferences(expected, decoded));
      const std::string ppm = path + ".netpbm.ppm";
      ASSERT_TRUE(runCommand("tgatoppm '" + path + "' > '" + ppm + "'"));
      ASSERT_TRUE(readPpm(ppm, &decoded));
      EXPECT_EQ(0u, countDifferences(expected, decoded));
    }
  }
}

// ---- Round trips ----------------------------------------------------------------

TEST(Targa, RoundTripsThroughEveryWriterOptionOnDiskAndInMemory) {
  const RgbImage source = makeTestImage(131, 9);
  const MappedImage mapped = makeTestMapped(131, 9, 256);
  for (int compression : {PIC_COMP_NONE, PIC_COMP_RLE, PIC_COMP_LZW}) {
    SCOPED_TRACE(compression);
    const std::string path = tempPath("round.tga");
    ASSERT_EQ(PIC_OK, picSaveRGB(source.width, source.height, tgaFormat | compression, source.red.data(),
                                 source.green.data(), source.blue.data(), path.c_str()));
    int format = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(tgaFormat | (compression ? PIC_COMP_RLE : PIC_COMP_NONE), format);
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));

    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveRGB(source, tgaFormat | compression, &bytes));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));

    ASSERT_EQ(PIC_OK, picSaveMap(mapped.width, mapped.height, tgaFormat | compression, mapped.indices.data(),
                                 256, mapped.map.data(), path.c_str()));
    MappedImage back;
    ASSERT_EQ(PIC_OK, libraryLoadMap(path, &back));
    EXPECT_EQ(mapped.indices, back.indices);
    EXPECT_EQ(mapped.map, back.map);
    ASSERT_EQ(PIC_OK, memorySaveMap(mapped, tgaFormat | compression, &bytes));
    ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &back));
    EXPECT_EQ(mapped.indices, back.indices);
    EXPECT_EQ(mapped.map, back.map);
  }
}

TEST(Targa, WidestRunLengthLinesFitTheWriter) {
  // Lines of 65535 pixels that never repeat need a packet header every 128 pixels.
  RgbImage source(65535, 1);
  for (int x = 0; x < source.width; ++x) source.set(x, 0, uint8_t(x), uint8_t(x >> 8), uint8_t(x * 7));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(PIC_OK, memorySaveRGB(source, tgaFormat | PIC_COMP_RLE, &bytes));
  RgbImage loaded;
  ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
  EXPECT_EQ(0u, countDifferences(source, loaded));
  MappedImage mapped = makeTestMapped(65535, 1, 256);
  for (size_t i = 0; i < mapped.indices.size(); ++i) mapped.indices[i] = uint8_t(i);
  ASSERT_EQ(PIC_OK, memorySaveMap(mapped, tgaFormat | PIC_COMP_RLE, &bytes));
  MappedImage back;
  ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &back));
  EXPECT_EQ(mapped.indices, back.indices);
}

TEST(Targa, WritesRepeatPacketsOfAtMost128Pixels) {
  const std::vector<uint8_t> indices(200, 7);
  const int32_t map[8] = {};
  const std::string path = tempPath("runs.tga");
  ASSERT_EQ(PIC_OK, picSaveMap(200, 1, tgaFormat | PIC_COMP_RLE, indices.data(), 8, map, path.c_str()));
  const std::vector<uint8_t> bytes = readFileBytes(path);
  ASSERT_EQ(18u + 8 * 3 + 4, bytes.size());
  EXPECT_EQ(9, bytes[2]);      // run-length colour-mapped
  EXPECT_EQ(24, bytes[7]);     // 24-bit map entries
  EXPECT_EQ(8, bytes[16]);     // 8-bit indices
  EXPECT_EQ(0x20, bytes[17]);  // top line first
  const std::vector<uint8_t> packets(bytes.end() - 4, bytes.end());
  EXPECT_EQ((std::vector<uint8_t>{0xff, 7, 0xc7, 7}), packets);
}

TEST(Targa, WriterRefusesWhatTheFormatCannotHold) {
  const std::string path = tempPath("refused.tga");
  std::vector<uint8_t> plane(70000, 0);
  const int32_t map[1] = {0};
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(70000, 1, tgaFormat, plane.data(), plane.data(), plane.data(), path.c_str()));
  EXPECT_STREQ("sides past the header's 16-bit fields", picLastReason());
  EXPECT_EQ(PIC_ERR_DATA, picSaveMap(2, 2, tgaFormat, plane.data(), 0, map, path.c_str()));
  EXPECT_STREQ("map of no colours or over 256", picLastReason());
  EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveRGB(2, 2, tgaFormat | 0x300, plane.data(), plane.data(),
                                            plane.data(), path.c_str()));
  EXPECT_STREQ("a compression the writer does not make", picLastReason());
  EXPECT_EQ(PIC_ERR_OPEN, picSaveRGB(2, 2, tgaFormat, plane.data(), plane.data(), plane.data(),
                                     "/nonexistent-dir/x.tga"));
}

// ---- Hand-built files -------------------------------------------------------

TEST(Targa, LoadsHandBuiltFiles) {
  struct Case {
    const char* what;
    TgaHeader header;
    std::vector<uint8_t> body;         // after the header
    std::vector<uint32_t> topDown;     // expected colours, top line first, left to right
  };
  TgaHeader trueColour;  // 2 x 2, 24 bits, bottom line first
  TgaHeader topFirst = trueColour;
  topFirst.descriptor = 0x20;
  TgaHeader withId = trueColour;
  withId.idLength = 3;
  TgaHeader carriesMap = trueColour;  // true colour with a map of two 24-bit entries
  carriesMap.mapType = 1;
  carriesMap.mapLength = 2;
  carriesMap.mapEntryBits = 24;
  TgaHeader sixteen = trueColour;
  sixteen.depth = 16;
  TgaHeader fifteenRle = trueColour;
  fifteenRle.imageType = 10;
  fifteenRle.depth = 15;
  TgaHeader grey = trueColour;
  grey.imageType = 3;
  grey.depth = 8;
  TgaHeader greyWithMap = grey;  // a map of one entry: skipped, no division by it
  greyWithMap.mapType = 1;
  greyWithMap.mapLength = 1;
  greyWithMap.mapEntryBits = 24;
  TgaHeader greyFour = grey;
  greyFour.depth = 4;
  TgaHeader greyAlpha = grey;  // pixels of a grey byte, then an alpha byte
  greyAlpha.depth = 16;
  TgaHeader greyAlphaRle = greyAlpha;
  greyAlphaRle.imageType = 11;
  greyAlphaRle.descriptor = 0x30;  // top line first, right pixel first
  TgaHeader mapped = trueColour;
  mapped.imageType = 1;
  mapped.mapType = 1;
  mapped.mapLength = 2;
  mapped.mapEntryBits = 24;
  mapped.depth = 8;
  TgaHeader mappedOneBit = mapped;
  mappedOneBit.depth = 1;
  mappedOneBit.width = 9;
  mappedOneBit.height = 1;
  TgaHeader mappedFifteen = mapped;
  mappedFifteen.mapEntryBits = 15;
  TgaHeader mappedFirst = mapped;  // entries 2 and 3
  mappedFirst.mapFirst = 2;
  TgaHeader mappedRle = mapped;
  mappedRle.imageType = 9;
  TgaHeader rleAcross = trueColour;  // one packet covering both lines
  rleAcross.imageType = 10;

  const Case cases[] = {
      {"24 bits bottom first", trueColour, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {0x090807, 0x0c0b0a, 0x030201, 0x060504}},
      {"24 bits top first", topFirst, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {0x030201, 0x060504, 0x090807, 0x0c0b0a}},
      {"identification field skipped", withId, {'a', 'b', 'c', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {0x090807, 0x0c0b0a, 0x030201, 0x060504}},
      {"map of a true-colour file skipped", carriesMap,
       {99, 99, 99, 98, 98, 98, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {0x090807, 0x0c0b0a, 0x030201, 0x060504}},
      {"16 bits", sixteen, {0xff, 0x7f, 0x00, 0x7c, 0xe0, 0x03, 0x1f, 0x00},
       {0x00f800, 0x0000f8, 0xf8f8f8, 0xf80000}},  // 0x7fff, 0x7c00, 0x03e0, 0x001f
      {"15 bits run-length", fifteenRle, {0x83, 0x1f, 0x00}, {0x0000f8, 0x0000f8, 0x0000f8, 0x0000f8}},
      {"grey", grey, {0, 255, 128, 1}, {0x808080, 0x010101, 0x000000, 0xffffff}},
      {"grey with a map", greyWithMap, {7, 7, 7, 0, 255, 128, 1}, {0x808080, 0x010101, 0x000000, 0xffffff}},
      {"grey of 4 bits", greyFour, {0x0f, 0x10}, {0x111111, 0x000000, 0x000000, 0xffffff}},
      {"grey with alpha", greyAlpha, {0, 9, 255, 0, 128, 255, 1, 77}, {0x808080, 0x010101, 0x000000, 0xffffff}},
      {"grey with alpha run-length", greyAlphaRle, {0x82, 5, 0, 0x00, 6, 7},  // a repeat of 3, a raw pixel
       {0x050505, 0x050505, 0x060606, 0x050505}},
      {"mapped", mapped, {0, 0, 255, 0, 255, 0, 1, 0, 0, 1}, {0xff0000, 0x00ff00, 0x00ff00, 0xff0000}},
      {"mapped, 15-bit entries", mappedFifteen, {0x00, 0x7c, 0x1f, 0x00, 1, 0, 0, 1},
       {0xf80000, 0x0000f8, 0x0000f8, 0xf80000}},
      {"mapped from entry 2", mappedFirst, {0, 0, 255, 0, 255, 0, 3, 2, 2, 3},
       {0xff0000, 0x00ff00, 0x00ff00, 0xff0000}},
      {"mapped run-length", mappedRle, {0, 0, 255, 0, 255, 0, 0x81, 1, 0x01, 0, 0},
       {0xff0000, 0xff0000, 0x00ff00, 0x00ff00}},
      {"a packet across lines", rleAcross, {0x83, 1, 2, 3}, {0x030201, 0x030201, 0x030201, 0x030201}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = buildHeader(c.header);
    bytes.insert(bytes.end(), c.body.begin(), c.body.end());
    RgbImage image;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(writeTemp(bytes), &image));
    std::vector<uint32_t> topDown;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width && topDown.size() < c.topDown.size(); ++x) topDown.push_back(image.at(x, y));
    EXPECT_EQ(c.topDown, topDown);
  }
  // One-bit indices, most significant bit first; the map has two entries.
  std::vector<uint8_t> bytes = buildHeader(mappedOneBit);
  append(bytes, {0, 0, 0, 255, 255, 255, 0xa5, 0x80});
  MappedImage indices;
  ASSERT_EQ(PIC_OK, libraryLoadMap(writeTemp(bytes), &indices));
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 1, 0, 0, 1, 0, 1, 1}), indices.indices);
}

// A 3 x 2 picture stored in each of the four orders the descriptor names
// (0x10 right pixel first, 0x20 top line first), raw and run-length, true
// colour and through a map: every file loads as the same picture.
TEST(Targa, DescriptorOrderBitsPlaceEveryPixel) {
  const uint32_t picture[2][3] = {{0x010203, 0x040506, 0x070809},   // top line, left to right
                                  {0x0a0b0c, 0x0d0e0f, 0x101112}};
  const std::vector<uint32_t> topDown = {0x010203, 0x040506, 0x070809, 0x0a0b0c, 0x0d0e0f, 0x101112};
  for (int descriptor : {0x00, 0x10, 0x20, 0x30})
    for (bool runLength : {false, true})
      for (bool mapped : {false, true}) {
        SCOPED_TRACE(testing::Message() << "descriptor " << descriptor << (runLength ? " rle" : " raw")
                                        << (mapped ? " mapped" : " true colour"));
        TgaHeader h;
        h.width = 3;
        h.height = 2;
        h.descriptor = descriptor;
        h.imageType = (mapped ? 1 : 2) + (runLength ? 8 : 0);
        h.depth = mapped ? 8 : 24;
        if (mapped) {
          h.mapType = 1;
          h.mapLength = 6;
          h.mapEntryBits = 24;
        }
        std::vector<uint8_t> bytes = buildHeader(h);
        if (mapped)  // entry k: pixel k of topDown, blue green red
          for (uint32_t c : topDown) append(bytes, {int(c & 0xff), int(c >> 8 & 0xff), int(c >> 16)});
        for (int line = 0; line < 2; ++line) {
          const int y = descriptor & 0x20 ? line : 1 - line;
          if (runLength) bytes.push_back(2);  // a raw packet of the line's 3 pixels
          for (int k = 0; k < 3; ++k) {
            const int x = descriptor & 0x10 ? 2 - k : k;
            const uint32_t c = picture[y][x];
            if (mapped)
              bytes.push_back(uint8_t(y * 3 + x));
            else
              append(bytes, {int(c & 0xff), int(c >> 8 & 0xff), int(c >> 16)});
          }
        }
        RgbImage image;
        ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &image));
        std::vector<uint32_t> loaded;
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 3; ++x) loaded.push_back(image.at(x, y));
        EXPECT_EQ(topDown, loaded);
      }
}

// Lines of 8 or more 15-bit pixels: each pixel still takes a 16-bit word, so a
// line is not (width * 15 + 7) / 8 bytes long.
TEST(Targa, FifteenBitPixelsTakeTwoBytesEach) {
  TgaHeader h;
  h.width = 9;
  h.height = 2;
  h.depth = 15;
  std::vector<uint8_t> bytes = buildHeader(h);
  for (int i = 0; i < 18; ++i) append(bytes, {i, 0});  // blue i, bottom line first
  RgbImage image;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(writeTemp(bytes), &image));
  for (int i = 0; i < 18; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(uint32_t(i << 3), image.at(i % 9, 1 - i / 9));
  }
  // The same file must be a whole picture in memory too, and no more.
  ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &image));
  bytes.pop_back();
  EXPECT_EQ(PIC_ERR_READ, memoryLoadRGB(bytes, &image));
}

// A line call of the other colour mode is refused without touching a line:
// 24-bit pixels are no indices, and a line of indices is too short for colour.
TEST(Targa, LineCallsOfTheOtherColourModeAreRefused) {
  picDriver* driver = picTargaDriver();
  TgaHeader trueColour;  // 2 x 2, 24 bits
  std::vector<uint8_t> bytes = buildHeader(trueColour);
  bytes.resize(bytes.size() + 12, 5);
  int status = -2;
  picFile* file = driver->openRead(writeTemp(bytes).c_str(), &status);
  ASSERT_EQ(PIC_OK, status);
  uint8_t line[2] = {9, 9};
  EXPECT_EQ(PIC_ERR_READ, driver->readLine(file, line));
  EXPECT_EQ(9, line[0]);
  EXPECT_EQ(0, file->currentLine);
  driver->close(file);

  TgaHeader grey;
  grey.imageType = 3;
  grey.depth = 8;
  grey.width = 1;
  bytes = buildHeader(grey);
  append(bytes, {1, 2});
  file = driver->openRead(writeTemp(bytes).c_str(), &status);
  ASSERT_EQ(PIC_OK, status);
  uint8_t red = 9, green = 9, blue = 9;
  EXPECT_EQ(PIC_ERR_READ, driver->readRGBLine(file, &red, &green, &blue));
  EXPECT_EQ(9, red);
  driver->close(file);

  const std::string path = tempPath("wrong-mode.tga");
  file = driver->openWrite(path.c_str(), 1, 1, PIC_MAP, PIC_COMP_NONE, 2, &status);
  ASSERT_EQ(PIC_OK, status);
  EXPECT_EQ(PIC_ERR_WRITE, driver->writeRGBLine(file, &red, &green, &blue));
  driver->close(file);
  file = driver->openWrite(path.c_str(), 1, 1, PIC_RGB, PIC_COMP_NONE, 0, &status);
  ASSERT_EQ(PIC_OK, status);
  EXPECT_EQ(PIC_ERR_WRITE, driver->writeLine(file, line));
  driver->close(file);
}

TEST(Targa, GreyFilesGetAnIdentityRampOf256) {
  TgaHeader grey;
  grey.imageType = 3;
  grey.depth = 8;
  std::vector<uint8_t> bytes = buildHeader(grey);
  append(bytes, {0, 1, 2, 3});
  MappedImage image;
  ASSERT_EQ(PIC_OK, libraryLoadMap(writeTemp(bytes), &image));
  ASSERT_EQ(256u, image.map.size());
  for (int i = 0; i < 256; ++i) EXPECT_EQ(picEncodeColour(i, i, i), image.map[size_t(i)]);
}

TEST(Targa, RepeatAndRawPackets) {
  TgaHeader h;
  h.imageType = 11;  // run-length grey
  h.depth = 8;
  h.width = 131;
  h.height = 1;
  std::vector<uint8_t> bytes = buildHeader(h);
  append(bytes, {0xff, 7, 0x02, 1, 2, 3});  // 128 sevens, then 1 2 3
  MappedImage image;
  ASSERT_EQ(PIC_OK, libraryLoadMap(writeTemp(bytes), &image));
  std::vector<uint8_t> expected(128, 7);
  append(expected, {1, 2, 3});
  EXPECT_EQ(expected, image.indices);
  // The data ending inside the line is a read error, not a success.
  bytes.pop_back();
  EXPECT_EQ(PIC_ERR_READ, libraryLoadMap(writeTemp(bytes), &image));
  EXPECT_EQ(PIC_ERR_READ, memoryLoadMap(bytes, &image));
}

TEST(Targa, RefusesKindsTheLineCodeDoesNotHandleAtOpen) {
  TgaHeader mapped;
  mapped.imageType = 1;
  mapped.mapType = 1;
  mapped.mapLength = 2;
  mapped.mapEntryBits = 24;
  mapped.depth = 8;
  struct Case {
    const char* what;
    TgaHeader header;
    int infoStatus;  // the library cannot describe a map of more than 256 entries
    const char* reason;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, TgaHeader h, const char* reason) {
    cases.push_back({what, h, h.mapFirst + h.mapLength > 256 ? PIC_ERR_DATA : PIC_OK, reason});
  };
  TgaHeader h = mapped;
  h.mapLength = 257;
  add("more than 256 entries", h, "colour map past 256 entries");
  h = mapped;
  h.mapFirst = 200;
  h.mapLength = 100;
  add("entries beyond 256", h, "colour map past 256 entries");
  h = mapped;
  h.mapEntryBits = 8;
  add("8-bit map entries", h, "map entries of other than 15, 16, 24 or 32 bits");
  h = mapped;
  h.mapLength = 0;
  add("an empty map", h, "an empty colour map");
  h = mapped;
  h.depth = 16;
  add("16-bit indices", h, "indices of other than 1, 4 or 8 bits");
  h = mapped;
  h.imageType = 9;
  h.depth = 4;
  add("run-length 4-bit indices", h, "run-length indices or grey of other than 8 bits");
  h = TgaHeader{};
  h.depth = 8;
  add("8-bit true colour", h, "true colour of other than 15, 16, 24 or 32 bits");
  h = TgaHeader{};
  h.imageType = 3;
  h.depth = 15;
  add("15-bit grey", h, "grey of other than 1, 4, 8 or 16 bits");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = buildHeader(c.header);
    bytes.resize(bytes.size() + 2000, 1);
    const std::string path = writeTemp(bytes);
    EXPECT_EQ(PIC_ERR_DATA, driverStatus(path));
    int width = 0;
    EXPECT_EQ(c.infoStatus, picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr));
    if (c.infoStatus == PIC_OK) {
      EXPECT_EQ(2, width);  // still described
    }
    RgbImage image;
    EXPECT_EQ(PIC_ERR_DATA, libraryLoadRGB(path, &image));
    EXPECT_STREQ(c.reason, picLastReason());
  }
}

TEST(Targa, HeadersUnlikeTargaAreNotClaimed) {
  struct Case {
    const char* what;
    int field;
    int value;
  };
  const Case cases[] = {
      {"image type 0", 2, 0},          {"image type 4", 2, 4},   {"image type 12", 2, 12},
      {"image type 130", 2, 130},      {"map type 2", 1, 2},     {"map type 'B'", 1, 'B'},
      {"depth 0", 16, 0},              {"depth 12", 16, 12},     {"depth 33", 16, 33},
      {"width 0", 12, 0},              {"height 0", 14, 0},
  };
  TgaHeader base;
  base.width = base.height = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = buildHeader(base);
    bytes[size_t(c.field)] = uint8_t(c.value);
    bytes.resize(bytes.size() + 64, 0);
    EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp(bytes)));
  }
  TgaHeader noMap;  // colour-mapped without a map
  noMap.imageType = 1;
  noMap.depth = 8;
  std::vector<uint8_t> bytes = buildHeader(noMap);
  bytes.resize(bytes.size() + 64, 0);
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp(bytes)));
  RgbImage image;
  EXPECT_EQ(PIC_ERR_FORMAT, libraryLoadRGB(writeTemp(bytes), &image));
}

TEST(Targa, FilesOfOtherFormatsAreNeverClaimed) {
  const RgbImage source = makeTestImage(16, 8);
  const char* extensions[] = {"bmp", "pcx", "gif", "tiff", "sun", "sgi", "jpg", "png", "ppm", "pgm", "xpm"};
  for (const char* extension : extensions) {
    SCOPED_TRACE(extension);
    const std::string path = tempPath(std::string("other.") + extension);
    ASSERT_TRUE(peerEncode(source, "", path));
    EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(path));
    const std::vector<uint8_t> whole = readFileBytes(path);
    for (size_t length : {3, 18, 40, 100}) {  // cut files too
      if (length > whole.size()) continue;
      EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp({whole.begin(), whole.begin() + long(length)}, "cut")));
    }
  }
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp({}, "empty")));
  const std::string zot = "ZOTImage = IMAGE[\n0 = \"1 2 3\"]\n(1,1\n,0\n)";
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp({zot.begin(), zot.end()}, "z.zot")));
}

// ---- Hostile and truncated files -----------------------------------------------

// Sizes far beyond the file are described (a pixel limit is the caller's or the
// library's business); the driver allocates no more than a line, and the first
// line that is not there fails.
TEST(Targa, AbsurdSizesAreDescribedButAllocateNoMoreThanALine) {
  TgaHeader h;
  h.width = h.height = 30000;  // claims 2.7 GB of pixels in a few bytes
  std::vector<uint8_t> uncompressed = buildHeader(h);
  append(uncompressed, {1, 2, 3});
  h.imageType = 10;
  std::vector<uint8_t> runLength = buildHeader(h);
  append(runLength, {0xff, 1, 2, 3});
  picSetPixelLimit(0);  // past the default pixel limit, which limits_test covers
  for (const std::vector<uint8_t>* bytes : {&uncompressed, &runLength}) {
    const std::string path = writeTemp(*bytes);
    int width = 0, height = 0;
    EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(30000, width);
    EXPECT_EQ(30000, height);
    int status = -2;
    picFile* file = picTargaDriver()->openRead(path.c_str(), &status);
    ASSERT_EQ(PIC_OK, status);
    std::vector<uint8_t> red(30000), green(30000), blue(30000);
    EXPECT_EQ(PIC_ERR_READ, picTargaDriver()->readRGBLine(file, red.data(), green.data(), blue.data()));
    picTargaDriver()->close(file);
  }
  picSetPixelLimit(PIC_DEFAULT_PIXEL_LIMIT);
  h = TgaHeader{};
  h.imageType = 1;  // a map that passes the end of the file
  h.mapType = 1;
  h.mapLength = 256;
  h.mapEntryBits = 32;
  h.depth = 8;
  std::vector<uint8_t> bytes = buildHeader(h);
  append(bytes, {1, 2, 3, 4, 5});
  int colours = 0;
  EXPECT_EQ(PIC_OK, picImageInfo(writeTemp(bytes).c_str(), nullptr, nullptr, nullptr, &colours));
  EXPECT_EQ(256, colours);
  MappedImage image;
  EXPECT_EQ(PIC_ERR_READ, libraryLoadMap(writeTemp(bytes), &image));
}

TEST(Targa, FileCutShortIsDescribedAndLoadsItsCompleteRows) {
  const RgbImage source = makeTestImage(5, 4, 3);
  std::vector<uint8_t> topFirst, runLength;  // as the library writes them: top line first
  ASSERT_EQ(PIC_OK, memorySaveRGB(source, tgaFormat, &topFirst));
  ASSERT_EQ(PIC_OK, memorySaveRGB(source, tgaFormat | PIC_COMP_RLE, &runLength));
  ASSERT_EQ(18u + 4 * 15, topFirst.size());
  std::vector<uint8_t> bottomFirst = topFirst;  // the same lines, now read bottom line first
  bottomFirst[17] = 0;
  RgbImage grey = source;  // its green plane as grey, stored with alpha, top line first
  grey.red = grey.blue = grey.green;
  // Type 3, 5 x 4, 16 bits of grey and alpha, top line first.
  std::vector<uint8_t> greyAlpha = buildHeader({0, 0, 3, 0, 0, 0, 5, 4, 16, 0x20});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) append(greyAlpha, {int(grey.at(x, y) & 0xff), 200});
  struct Case {
    const char* what;
    const std::vector<uint8_t>* file;
    size_t cut;  // bytes missing at the end
    int status;
    const char* rows;  // from the bottom: + loaded, . untouched
  };
  const Case cases[] = {
      {"top first, whole", &topFirst, 0, PIC_OK, "++++"},
      {"top first, last byte missing", &topFirst, 1, PIC_ERR_READ, ".+++"},
      {"top first, one line and a half", &topFirst, 15 * 2 + 8, PIC_ERR_READ, "...+"},
      {"top first, header only", &topFirst, 4 * 15, PIC_ERR_READ, "...."},
      {"bottom first, last byte missing", &bottomFirst, 1, PIC_ERR_READ, "+++."},
      {"bottom first, one line and a half", &bottomFirst, 15 * 2 + 8, PIC_ERR_READ, "+..."},
      {"run-length, whole", &runLength, 0, PIC_OK, "++++"},
      {"run-length, last byte missing", &runLength, 1, PIC_ERR_READ, ".+++"},
      {"grey with alpha, one line and a half", &greyAlpha, 10 + 4, PIC_ERR_READ, "..++"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = writeTemp({c.file->begin(), c.file->end() - long(c.cut)}, "cut.tga");
    int format = -1, width = 0, height = 0;
    EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(tgaFormat, format & 0xff);
    EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(5, width);
    EXPECT_EQ(4, height);
    const RowsLoaded loaded =
        loadRowsOf(path, c.file == &bottomFirst ? flipped(source) : c.file == &greyAlpha ? grey : source);
    EXPECT_EQ(c.status, loaded.status);
    EXPECT_EQ(c.rows, loaded.red);
    EXPECT_EQ(c.rows, loaded.green);
    EXPECT_EQ(c.rows, loaded.blue);
  }
}

TEST(Targa, TruncatedFilesEndInAStatus) {
  const RgbImage source = makeFewColours(23, 11);
  const char* options[] = {"-type TrueColor -compress None", "-type TrueColor -compress RLE",
                           "-type Palette -compress None", "-type Palette -compress RLE",
                           "-type Grayscale -compress RLE", "-depth 5 -compress RLE"};
  for (const char* option : options) {
    SCOPED_TRACE(option);
    const std::string path = tempPath("whole.tga");
    ASSERT_TRUE(peerEncode(source, option, path));
    const std::vector<uint8_t> whole = readFileBytes(path);
    for (size_t length = 1; length < whole.size(); ++length) {
      const std::vector<uint8_t> part(whole.begin(), whole.begin() + long(length));
      RgbImage image;
      if (length < 18) {
        ASSERT_EQ(PIC_ERR_FORMAT, driverStatus(writeTemp(part))) << "length " << length;
      } else {
        ASSERT_EQ(PIC_ERR_READ, memoryLoadRGB(part, &image)) << "length " << length;
      }
    }
  }
}


}  // namespace
