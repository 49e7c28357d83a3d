// The ZOT text format: hand-written files, round trips on disk and in memory.
#include <gtest/gtest.h>

#include <string>

#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

TEST(Zot, WritesTheDocumentedTextForATwoByTwoImage) {
  // Bottom row (row 0) holds 1 0, top row holds 0 1.
  const uint8_t indices[] = {1, 0, 0, 1};
  const int32_t map[] = {0x0000ff, 0xff8000};
  const std::string path = tempPath("two.zot");
  ASSERT_EQ(PIC_OK, picSaveMap(2, 2, PIC_DRIVER_ZOT, indices, 2, map, path.c_str()));
  const std::vector<uint8_t> bytes = readFileBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "ZOTImage = IMAGE[\n"
            "0 = \"0 0 255\",\n"
            "1 = \"255 128 0\"]\n"
            "(2,2\n"
            ",0,1\n"
            ",1,0\n"
            ")");
}

}  // namespace

namespace {

std::string writeText(const std::string& name, const std::string& text) {
  const std::string path = tempPath(name);
  writeFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

TEST(Zot, RoundTripsOnDiskAndInMemory) {
  struct Case {
    int width, height, colours;
  };
  for (const Case& c : {Case{1, 1, 1}, Case{7, 3, 5}, Case{64, 33, 256}, Case{5, 1, 2}}) {
    const MappedImage image = makeTestMapped(c.width, c.height, c.colours, unsigned(c.width));
    const std::string path = tempPath("round.zot");
    ASSERT_EQ(PIC_OK, picSaveMap(image.width, image.height, PIC_DRIVER_ZOT, image.indices.data(),
                                 c.colours, image.map.data(), path.c_str()));
    MappedImage fromDisk;
    ASSERT_EQ(PIC_OK, libraryLoadMap(path, &fromDisk));
    EXPECT_EQ(fromDisk.indices, image.indices);
    std::vector<int32_t> described = image.map;
    described.resize(PIC_MAX_COLOURS, 0);  // indices are bytes: the colours not listed are black
    EXPECT_EQ(fromDisk.map, described);
    RgbImage rgb;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &rgb));
    EXPECT_EQ(countDifferences(rgb, mappedToRgb(image)), 0u);

    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveMap(image, PIC_DRIVER_ZOT, &bytes));
    EXPECT_EQ(bytes, readFileBytes(path));
    MappedImage fromMemory;
    ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &fromMemory));
    EXPECT_EQ(fromMemory.indices, image.indices);
    RgbImage rgbFromMemory;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &rgbFromMemory));
    EXPECT_EQ(countDifferences(rgbFromMemory, rgb), 0u);
  }
}

TEST(Zot, ReadsAHandWrittenFileByItsDigitsAlone) {
  // Entries out of order, one index outside the map (ignored), loose spacing,
  // and a "-" that is skipped like any other non-digit.
  const std::string path = writeText("hand.zot",
                                     "ZOT whatever = IMAGE [\n"
                                     "  1 = \"0 255 0\" ,\n"
                                     "  0 = \"255 0 0\",\n"
                                     "  9 = \"1 2 3\" ]\n"
                                     "( 3 , 2\n"
                                     ", 0, 1, -1\n"
                                     ",1,1,0\n"
                                     ")");
  int width, height, mode, colours, format;
  ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
  EXPECT_EQ(width, 3);
  EXPECT_EQ(height, 2);
  EXPECT_EQ(mode, PIC_MAP);
  EXPECT_EQ(colours, 256);  // three listed, the rest black
  ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(format, PIC_DRIVER_ZOT);
  MappedImage image;
  ASSERT_EQ(PIC_OK, libraryLoadMap(path, &image));
  // Top line first in the file: row 1 is "0 1 1", row 0 is "1 1 0".
  EXPECT_EQ(image.indices, (std::vector<uint8_t>{1, 1, 0, 0, 1, 1}));
  std::vector<int32_t> map = {0xff0000, 0x00ff00};
  map.resize(PIC_MAX_COLOURS, 0);
  EXPECT_EQ(image.map, map);
}

TEST(Zot, RefusesWhatItCannotReadOrWrite) {
  struct Case {
    const char* text;
    int status;
    const char* reason;
  };
  const Case cases[] = {
      {"ZAT = IMAGE[\n0 = \"1 2 3\"]\n(1,1\n,0\n)", PIC_ERR_FORMAT, nullptr},
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n", PIC_ERR_READ, "data ends before the picture"},
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n(1", PIC_ERR_READ, "data ends inside a number"},  // no height
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n(0,1\n,0\n)", PIC_ERR_DATA, "a side of no pixels"},
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n(99999,99999\n)", PIC_ERR_DATA, "sides too large for the library"},
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n(9999999999,1\n)", PIC_ERR_DATA, "sides too large for the library"},
      {"ZOT = IMAGE[\n0 = \"1 2 3\"]\n(12345678901,1\n)", PIC_ERR_READ, "a number of more than ten digits"},
      {"ZOT (1,1\n,0\n)", PIC_ERR_DATA, "no colour list"},  // no "=": -1 colours
  };
  for (const Case& c : cases) {
    const std::string path = writeText("bad.zot", c.text);
    int width;
    EXPECT_EQ(c.status, picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr)) << c.text;
    EXPECT_STREQ(c.reason, picLastReason()) << c.text;
    // A file that is plainly ZOT is still named, even when it cannot be loaded.
    int format = -1;
    if (c.status == PIC_ERR_DATA) {
      EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format)) << c.text;
      EXPECT_EQ(format, PIC_DRIVER_ZOT) << c.text;
    }
  }
  std::string manyColours = "ZOT = IMAGE[";
  for (int i = 0; i < 300; ++i) manyColours += std::to_string(i) + " = \"1 1 1\",";
  const std::string path = writeText("many.zot", manyColours + "](1,1\n,0\n)");
  EXPECT_EQ(PIC_ERR_DATA, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("more than 256 colours", picLastReason());
  int format = -1;
  EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(format, PIC_DRIVER_ZOT);
  RgbImage rgb;
  EXPECT_EQ(PIC_ERR_DATA, libraryLoadRGB(path, &rgb));

  // A picture line with an 11-digit index, and one cut short.
  const std::string header = "ZOTImage = IMAGE[\n0 = \"1 2 3\"]\n(2,2\n";
  const std::pair<const char*, const char*> badLines[] = {
      {",0,12345678901\n,0,0\n)", "a number of more than ten digits"},
      {",0,0\n,0", "data ends inside a number"},
      {",0,0\n,0,", "data ends before a number"}};
  for (const auto& [lines, reason] : badLines) {
    const std::string bad = writeText("lines.zot", header + lines);
    RgbImage rgb;
    EXPECT_EQ(PIC_ERR_READ, libraryLoadRGB(bad, &rgb)) << lines;
    EXPECT_STREQ(reason, picLastReason()) << lines;
  }
}

TEST(Zot, WritesColourMappedImagesOnly) {
  const std::string path = tempPath("never.zot");
  const uint8_t plane[4] = {};
  const int32_t map[1] = {};
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(2, 2, PIC_DRIVER_ZOT, plane, plane, plane, path.c_str()));
  EXPECT_TRUE(readFileBytes(path).empty());
  for (int compression : {int(PIC_COMP_LZW), 0x300, 0xff00})
    EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveMap(2, 2, PIC_DRIVER_ZOT | compression, plane, 1, map, path.c_str()));
  EXPECT_EQ(PIC_OK, picSaveMap(2, 2, PIC_DRIVER_ZOT | PIC_COMP_RLE, plane, 1, map, path.c_str()));
  EXPECT_EQ(PIC_ERR_OPEN, picSaveMap(2, 2, PIC_DRIVER_ZOT, plane, 1, map, "/no/such/dir/x.zot"));
}

TEST(Zot, ASaveThatRunsOutOfRoomIsAWriteError) {
  const MappedImage image = makeTestMapped(40, 40, 16);
  std::vector<uint8_t> small(200);
  char name[64];
  picMemoryFileName(name, sizeof name, small.data(), int(small.size()));
  picUseMemoryFiles();
  const int status = picSaveMap(40, 40, PIC_DRIVER_ZOT, image.indices.data(), 16, image.map.data(), name);
  picUseDiskFiles();
  EXPECT_EQ(status, PIC_ERR_WRITE);
}

}  // namespace
