// PNM (netpbm) driver: registration of the extra drivers, files made by
// netpbm, ImageMagick and Pillow against netpbm's decode, our files read back
// by all three, hand-built headers, truncated files.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/extra_drivers.h"
#include "picture/core/picture.h"
#include "support/format_peers.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// A picture with samples 0..255 along the rows and a constant blue.
const RgbImage& source() {
  static const RgbImage image = makeTestImage(29, 7, 11);
  return image;
}

std::string sourcePpm() {
  static const std::string path = [] {
    const std::string p = tempPath("source.ppm");
    EXPECT_TRUE(writePpm(p, source()));
    return p;
  }();
  return path;
}

// Registration comes first: the table must still hold the nine built-ins alone.
TEST(Pnm, ExtraDriversRegisterOnceBehindTheBuiltIns) {
  const std::string ppm = sourcePpm();
  int format = -1;
  EXPECT_EQ(PIC_ERR_FORMAT, picFileFormat(ppm.c_str(), &format)) << "not without registration";
  // A table without room for both takes neither (49 drivers fit).
  EXPECT_EXIT(
      {
        static picDriver dummies[PIC_MAX_DRIVERS - 1 - PIC_BUILTIN_DRIVERS - 1];
        for (picDriver& dummy : dummies) picRegisterDriver(&dummy);
        std::exit(picRegisterExtraDrivers() == -1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  ASSERT_EQ(PIC_BUILTIN_DRIVERS, picRegisterExtraDrivers());
  EXPECT_EQ(PIC_BUILTIN_DRIVERS, picRegisterExtraDrivers());
  EXPECT_EQ(PIC_BUILTIN_DRIVERS, extraDriversIndex());
  EXPECT_EQ(PIC_BUILTIN_DRIVERS, picPnmDriver()->index);
  EXPECT_EQ(PIC_BUILTIN_DRIVERS + PIC_EXTRA_PNG, picPngDriver()->index);
  ASSERT_EQ(PIC_OK, picFileFormat(ppm.c_str(), &format));
  EXPECT_EQ(PIC_BUILTIN_DRIVERS, format);
}

TEST(Pnm, LoadsOutsideFilesLikeNetpbm) {
  extraDriversIndex();
  ASSERT_TRUE(toolInstalled("pamdepth") && toolInstalled(peerConvert()));
  const std::string ppm = "'" + sourcePpm() + "'";
  const std::string grey = "ppmtopgm " + ppm;
  const std::string bits = grey + " | pgmtopbm -threshold";
  const std::string magick = std::string(peerConvert()) + " " + ppm + " ";
  const std::string pillow = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                             "Image.open(sys.argv[1]).convert(sys.argv[2]).save(sys.argv[3], \"PPM\")' " + ppm;
  struct Case {
    const char* name;
    std::string command;  // writes the file OUT
    const char* magic;
    int mode, colours;
  };
  const Case cases[] = {
      {"P6", "cat " + ppm + " > OUT", "P6", PIC_RGB, 0},
      {"P3", "pnmtopnm -plain " + ppm + " > OUT", "P3", PIC_RGB, 0},
      {"P5", grey + " > OUT", "P5", PIC_MAP, 256},
      {"P2", grey + " | pnmtopnm -plain > OUT", "P2", PIC_MAP, 256},
      {"P4", bits + " > OUT", "P4", PIC_MAP, 2},
      {"P1", bits + " | pnmtopnm -plain > OUT", "P1", PIC_MAP, 2},
      {"P6 maxval 1000", "pamdepth 1000 " + ppm + " > OUT", "P6", PIC_RGB, 0},
      {"P3 maxval 65535", "pamdepth 65535 " + ppm + " | pnmtopnm -plain > OUT", "P3", PIC_RGB, 0},
      {"P5 maxval 1", grey + " | pamdepth 1 > OUT", "P5", PIC_MAP, 2},
      {"P5 maxval 1000", grey + " | pamdepth 1000 > OUT", "P5", PIC_MAP, 256},
      {"P2 maxval 7", grey + " | pamdepth 7 | pnmtopnm -plain > OUT", "P2", PIC_MAP, 8},
      {"P5 maxval 65535", grey + " | pamdepth 65535 > OUT", "P5", PIC_MAP, 256},
      {"ImageMagick P6, 16 bits", magick + "-depth 16 ppm:OUT", "P6", PIC_RGB, 0},
      {"ImageMagick P5", magick + "-colorspace Gray -depth 8 pgm:OUT", "P5", PIC_MAP, 256},
      {"ImageMagick P1", magick + "-monochrome -compress None pbm:OUT", "P1", PIC_MAP, 2},
      {"Pillow P6", pillow + " RGB OUT", "P6", PIC_RGB, 0},
      {"Pillow P5", pillow + " L OUT", "P5", PIC_MAP, 256},
      {"Pillow P4", pillow + " 1 OUT", "P4", PIC_MAP, 2},
      {"two images, the first read", "(" + grey + " | pamdepth 1000; cat " + ppm + ") > OUT", "P5", PIC_MAP, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath("outside.pnm");
    std::string command = c.command;
    command.replace(command.find("OUT"), 3, "'" + path + "'");
    ASSERT_TRUE(runCommand(command));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::string(c.magic), std::string(bytes.begin(), bytes.begin() + 2));
    int width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
    EXPECT_EQ(c.mode, mode);
    EXPECT_EQ(c.colours, colours);
    RgbImage expected, ours, fromMemory;
    ASSERT_TRUE(netpbmDecode("pnmtopnm '" + path + "'", &expected));
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &ours));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, ours));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));
  }
}

TEST(Pnm, WritesBinaryFilesThatOutsideProgramsReadBack) {
  const int pnm = extraDriversIndex();
  const MappedImage grey = [] {
    MappedImage image = makeTestMapped(23, 5, 40, 3);
    for (size_t i = 0; i < image.map.size(); ++i) image.map[i] = picEncodeColour(int(i * 6), int(i * 6), int(i * 6));
    return image;
  }();
  const MappedImage coloured = makeTestMapped(23, 5, 40, 4);
  struct Case {
    const char* name;
    const char* magic;
    RgbImage expected;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {{"true colour", "P6", source(), {}},
                             {"grey map", "P5", mappedToRgb(grey), {}},
                             {"coloured map", "P6", mappedToRgb(coloured), {}}};
  ASSERT_EQ(PIC_OK, memorySaveRGB(source(), pnm, &cases[0].bytes));
  ASSERT_EQ(PIC_OK, memorySaveMap(grey, pnm, &cases[1].bytes));
  ASSERT_EQ(PIC_OK, memorySaveMap(coloured, pnm, &cases[2].bytes));
  expectRgbRoundTrip(source(), pnm, tempPath("round.ppm"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("ours.pnm", c.bytes);
    const std::string header = std::string(c.magic) + "\n" + std::to_string(c.expected.width) + " " +
                               std::to_string(c.expected.height) + "\n255\n";
    EXPECT_EQ(header, std::string(c.bytes.begin(), c.bytes.begin() + long(header.size())));
    RgbImage byMagick, byNetpbm, byPillow, ours;
    ASSERT_TRUE(peerDecode(path, &byMagick));
    ASSERT_TRUE(netpbmDecode("pnmtopnm '" + path + "'", &byNetpbm));
    ASSERT_TRUE(pillowDecode(path, &byPillow));
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &ours));
    for (const RgbImage* decoded : {&byMagick, &byNetpbm, &byPillow, &ours})
      EXPECT_EQ(0u, countDifferences(c.expected, *decoded));
  }
  const uint8_t pixel[1] = {0};
  const int32_t map[1] = {0};
  const std::string path = tempPath("refused.ppm");
  for (const int compression : {PIC_COMP_RLE, PIC_COMP_LZW}) {
    EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveRGB(1, 1, pnm | compression, pixel, pixel, pixel, path.c_str()));
    EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveMap(1, 1, pnm | compression, pixel, 1, map, path.c_str()));
  }
}

TEST(Pnm, HandBuiltFilesDecodeAsTheFormatSays) {
  extraDriversIndex();
  struct Case {
    const char* name;
    std::string text;
    int width;
    std::vector<uint32_t> colours;  // top line first
  };
  const std::string sixteen = std::string("P5 3 1 1000\n") + '\x00' + '\x01' + '\x00' + '\x02' + '\x03' + '\xe8';
  const Case cases[] = {
      {"comments wherever blanks may stand", "P2#a\n#b\n2#c\n 1 # d\n3#e\n0 #f\n3#g", 2, {0x000000, 0xffffff}},
      {"a comment right after maxval ends the header", "P5 2 1 255#x\n\x10\x20", 2, {0x101010, 0x202020}},
      {"P1 digits need no blanks", "P1 5 2 01101\n1 0 0 0 0", 5,
       {0xffffff, 0, 0, 0xffffff, 0, 0, 0xffffff, 0xffffff, 0xffffff, 0xffffff}},
      {"P4 rows padded to bytes", "P4 3 2\n\xa0\x40", 3, {0, 0xffffff, 0, 0xffffff, 0, 0xffffff}},
      {"maxval 1000 rounds: 1 -> 0, 2 -> 1, 1000 -> 255", sixteen, 3, {0, 0x010101, 0xffffff}},
      {"P3 maxval 2", "P3 2 1 2 0 1 2 2 2 2", 2, {0x0080ff, 0xffffff}},
      {"P6 maxval 65535 big-endian", std::string("P6 1 1 65535\n\x80\x00\x00\x80\xff\xff", 19), 1, {0x800000 | 0xff}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("hand.pnm", bytesOf(c.text));
    RgbImage image;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
    ASSERT_EQ(c.width, image.width);
    for (size_t i = 0; i < c.colours.size(); ++i)
      EXPECT_EQ(c.colours[i], image.at(int(i) % c.width, int(i) / c.width)) << i;
  }
}

// Loads through the library into planes filled with 0xab; the status.
int loadOverSentinel(const std::vector<uint8_t>& bytes, int width, int height, RgbImage* image) {
  *image = RgbImage(width, height);
  for (auto* plane : {&image->red, &image->green, &image->blue}) plane->assign(plane->size(), 0xab);
  const std::string path = writeTempFile("sentinel.pnm", bytes);
  return picLoadRGB(path.c_str(), image->red.data(), image->green.data(), image->blue.data());
}

TEST(Pnm, MalformedFilesEndInAStatus) {
  extraDriversIndex();
  struct Case {
    const char* name;
    std::string text;
    int infoStatus, loadStatus;
    const char* reason;  // after the load
  };
  const char* const maxval = "maxval outside 1 to 65535";
  const char* const sample = "a sample above maxval";
  const Case cases[] = {
      {"PAM is another format", "P7\nWIDTH 1\n", PIC_ERR_FORMAT, PIC_ERR_FORMAT, nullptr},
      {"no blank after the magic", "P61 1 255\n\x01\x02\x03", PIC_ERR_FORMAT, PIC_ERR_FORMAT, nullptr},
      {"maxval 0", "P5 1 1 0\n\x00", PIC_OK, PIC_ERR_DATA, maxval},
      {"maxval 65536", "P5 1 1 65536\n\x00\x00", PIC_OK, PIC_ERR_DATA, maxval},
      {"no width", "P6 0 1 255\n", PIC_ERR_DATA, PIC_ERR_DATA, "a side of no pixels"},
      {"eleven-digit width", "P6 10000000000 1 255\n", PIC_ERR_DATA, PIC_ERR_DATA, "a number of more than ten digits"},
      {"width times height beyond 31 bits", "P5 100000 100000 255\n", PIC_ERR_DATA, PIC_ERR_DATA,
       "sides too large for the library"},
      {"a letter in the header", "P5 2 x 255\n", PIC_ERR_DATA, PIC_ERR_DATA, "not a number"},
      {"header ends before maxval", "P5 2 1", PIC_ERR_READ, PIC_ERR_READ, "data ends before a number"},
      {"sample above maxval", "P5 2 1 100\n\x01\x65", PIC_OK, PIC_ERR_READ, sample},
      {"text sample above maxval", "P2 2 1 9 1 10", PIC_OK, PIC_ERR_READ, sample},
      {"P1 with another digit", "P1 2 1 0 2", PIC_OK, PIC_ERR_READ, "a P1 pixel other than 0 or 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile("malformed.pnm", bytesOf(c.text));
    EXPECT_EQ(c.infoStatus, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
    RgbImage image;
    EXPECT_EQ(c.loadStatus, loadOverSentinel(bytesOf(c.text), 4, 4, &image));
    EXPECT_STREQ(c.reason, picLastReason());
  }
}

long peakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

TEST(Pnm, HugeImagesInATinyFileCostNoMemory) {
  // Lines of up to 2 GiB: described, but refused at the first line.
  const long before = peakResidentMegabytes();
  picSetPixelLimit(0);  // past the default pixel limit, which limits_test covers
  for (const char* text : {"P6 357913941 1 65535\n\x01\x02", "P3 1000000 2000 65535 1 2 3", "P1 1000000000 2 0 1"}) {
    SCOPED_TRACE(text);
    const std::string path = writeTempFile("huge.pnm", bytesOf(text));
    int status = -1;
    picFile* file = picPnmDriver()->openRead(path.c_str(), &status);
    ASSERT_EQ(PIC_OK, status);
    uint8_t row[4] = {};
    if (file->colourMode == PIC_RGB)
      EXPECT_EQ(PIC_ERR_READ, picPnmDriver()->readRGBLine(file, row, row + 1, row + 2));
    else
      EXPECT_EQ(PIC_ERR_READ, picPnmDriver()->readLine(file, row));
    picPnmDriver()->close(file);
  }
  picSetPixelLimit(PIC_DEFAULT_PIXEL_LIMIT);
  EXPECT_LT(peakResidentMegabytes() - before, 64);
}

TEST(Pnm, TruncatedFilesKeepTheirCompleteRows) {
  extraDriversIndex();
  const RgbImage& image = source();
  std::vector<uint8_t> p6;
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, extraDriversIndex(), &p6));
  expectTruncationsFail(p6, tempPath("truncated.ppm"), 40);
  const size_t header = p6.size() - size_t(image.width) * image.height * 3;
  const size_t row = size_t(image.width) * 3;
  // Cut lengths: in the header, at a row's end, one byte into a row, one short of the end.
  for (const size_t length : {size_t(5), header, header + row, header + 2 * row + 1, p6.size() - 1}) {
    SCOPED_TRACE(length);
    RgbImage loaded;
    const int status = loadOverSentinel(std::vector<uint8_t>(p6.begin(), p6.begin() + long(length)),
                                        image.width, image.height, &loaded);
    EXPECT_EQ(PIC_ERR_READ, status);
    const int complete = length < header ? 0 : int((length - header) / row);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        ASSERT_EQ(y < complete ? image.at(x, y) : 0xababab, loaded.at(x, y)) << x << "," << y;
  }
}

TEST(Pnm, SavedInputsEndInAStatus) {
  extraDriversIndex();
  expectSavedInputsEndInAStatus(std::string(SOLSYS_TEST_DATA) + "/pnm");
}

}  // namespace
