// SGI images: files of outside tools loaded, files of the library opened by
// outside tools, round trips on disk and in memory, hand-built and hostile files.
#include <gtest/gtest.h>


#include <algorithm>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

const int sgiFormat = PIC_DRIVER_SGI;

// A grey picture: every channel carries the same samples.
RgbImage makeGreyImage(int width, int height) {
  RgbImage image = makeTestImage(width, height, 7);
  image.red = image.blue = image.green;
  return image;
}

// Header fields of a hand-built file; the rest of the 512 bytes stays zero.
struct SgiHeader {
  int storage = 0;
  int bytesPerSample = 1;
  int dimension = 3;
  int xSize = 2;
  int ySize = 2;
  int zSize = 3;
  uint32_t minimum = 0;
  uint32_t maximum = 255;
  uint32_t colourMapKind = 0;
};

void putBE16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes[at] = uint8_t(value >> 8);
  bytes[at + 1] = uint8_t(value);
}
void putBE32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  putBE16(bytes, at, value >> 16);
  putBE16(bytes, at + 2, value & 0xffff);
}

std::vector<uint8_t> buildHeader(const SgiHeader& h) {
  std::vector<uint8_t> bytes(512, 0);
  putBE16(bytes, 0, 474);                 // magic
  bytes[2] = uint8_t(h.storage);          // 0 verbatim, 1 run-length
  bytes[3] = uint8_t(h.bytesPerSample);   // 1 or 2
  putBE16(bytes, 4, uint32_t(h.dimension));
  putBE16(bytes, 6, uint32_t(h.xSize));
  putBE16(bytes, 8, uint32_t(h.ySize));
  putBE16(bytes, 10, uint32_t(h.zSize));  // channels
  putBE32(bytes, 12, h.minimum);
  putBE32(bytes, 16, h.maximum);
  putBE32(bytes, 104, h.colourMapKind);   // 0 normal, 1 dithered, 2 screen, 3 map only
  return bytes;
}

void append(std::vector<uint8_t>& bytes, std::initializer_list<int> values) {
  for (int v : values) bytes.push_back(uint8_t(v));
}

// A run-length file: the header, both tables, then the given packed rows (row
// r of channel k is rows[r + k * ySize]) in that order, or with `byRows` row
// by row (every channel of row 0, then of row 1...), as ImageMagick lays them.
std::vector<uint8_t> buildRunLength(SgiHeader h, const std::vector<std::vector<uint8_t>>& rows,
                                    bool byRows = false) {
  h.storage = 1;
  std::vector<uint8_t> bytes = buildHeader(h);
  const size_t tables = bytes.size();
  bytes.resize(tables + rows.size() * 8);
  const size_t height = size_t(h.ySize), channels = rows.size() / height;
  for (size_t n = 0; n < rows.size(); ++n) {
    const size_t i = byRows ? n / channels + (n % channels) * height : n;  // the n-th row in the file
    putBE32(bytes, tables + 4 * i, uint32_t(bytes.size()));
    putBE32(bytes, tables + 4 * (rows.size() + i), uint32_t(rows[i].size()));
    bytes.insert(bytes.end(), rows[i].begin(), rows[i].end());
  }
  return bytes;
}

int loadBytes(const std::vector<uint8_t>& bytes, RgbImage* image) {
  const std::string path = tempPath("handmade.sgi");
  writeFileBytes(path, bytes);
  return libraryLoadRGB(path, image);
}

int infoOf(const std::vector<uint8_t>& bytes, int* width, int* height, int* mode, int* colours) {
  const std::string path = tempPath("info.sgi");
  writeFileBytes(path, bytes);
  return picImageInfo(path.c_str(), width, height, mode, colours);
}

// ---- Outside tools ----------------------------------------------------------

TEST(Sgi, PeerIsInstalled) {
  ASSERT_TRUE(runCommand(std::string(peerConvert()) + " -version > /dev/null"))
      << peerConvert() << " is needed for the interoperability tests";
}

TEST(Sgi, LoadsFilesThePeerWrites) {
  struct Case {
    const char* options;
    bool grey;
    int compression;
  };
  const Case cases[] = {
      {"-depth 8 -compress None", false, PIC_COMP_NONE},
      {"-depth 8 -compress RLE", false, PIC_COMP_RLE},
      {"-depth 16 -compress None", false, PIC_COMP_NONE},
      {"-depth 8 -alpha on -compress None", false, PIC_COMP_NONE},  // four channels
      {"-depth 8 -alpha on -compress RLE", false, PIC_COMP_RLE},
      {"-depth 8 -colorspace Gray -compress None", true, PIC_COMP_NONE},
      {"-depth 8 -colorspace Gray -compress RLE", true, PIC_COMP_RLE},
      {"-depth 16 -colorspace Gray", true, PIC_COMP_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const RgbImage source = c.grey ? makeGreyImage(37, 23) : makeTestImage(37, 23);
    const std::string path = tempPath("peer.sgi");
    ASSERT_TRUE(peerEncode(source, c.options, path));
    int format = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(sgiFormat | c.compression, format);
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));
    RgbImage fromMemory;
    ASSERT_EQ(PIC_OK, memoryLoadRGB(readFileBytes(path), &fromMemory));
    EXPECT_EQ(0u, countDifferences(source, fromMemory));
  }
}

TEST(Sgi, LoadsFilesOfASecondPeerWithTwoByteRunLengthRows) {
  const RgbImage source = makeTestImage(40, 9);
  const std::string ppm = tempPath("second.ppm");
  ASSERT_TRUE(writePpm(ppm, source));
  const char* commands[] = {
      "pnmtosgi -rle", "pnmtosgi -verbatim",
      "pnmdepth 65535 | pnmtosgi -rle",  // two bytes per sample
      "pnmdepth 65535 | pnmtosgi -verbatim"};
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    const std::string path = tempPath("second.sgi");
    ASSERT_TRUE(runCommand("cat '" + ppm + "' | " + command + " > '" + path + "'"));
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));
  }
}

TEST(Sgi, PeersOpenTheFilesTheLibraryWrites) {
  const RgbImage source = makeTestImage(41, 17);
  for (int compression : {PIC_COMP_NONE, PIC_COMP_RLE}) {
    SCOPED_TRACE(compression);
    const std::string path = tempPath("ours.sgi");
    ASSERT_EQ(PIC_OK, picSaveRGB(source.width, source.height, sgiFormat | compression,
                                 source.red.data(), source.green.data(), source.blue.data(),
                                 path.c_str()));
    RgbImage decoded;
    ASSERT_TRUE(peerDecode(path, &decoded));
    EXPECT_EQ(0u, countDifferences(source, decoded));
    const std::string ppm = path + ".second.ppm";
    ASSERT_TRUE(runCommand("sgitopnm '" + path + "' > '" + ppm + "'"));
    ASSERT_TRUE(readPpm(ppm, &decoded));
    EXPECT_EQ(0u, countDifferences(source, decoded));

    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveRGB(source, sgiFormat | compression, &bytes));
    EXPECT_EQ(readFileBytes(path), bytes);
  }
  // A colour-mapped image is stored as its indices in one grey channel.
  const MappedImage mapped = makeTestMapped(19, 11, 200);
  const std::string path = tempPath("mapped.sgi");
  ASSERT_EQ(PIC_OK, picSaveMap(mapped.width, mapped.height, sgiFormat, mapped.indices.data(),
                               int(mapped.map.size()), mapped.map.data(), path.c_str()));
  RgbImage decoded;
  ASSERT_TRUE(peerDecode(path, &decoded));
  RgbImage expected(mapped.width, mapped.height);
  expected.red = expected.green = expected.blue = mapped.indices;
  EXPECT_EQ(0u, countDifferences(expected, decoded));
}

// ---- Round trips ----------------------------------------------------------------

TEST(Sgi, RoundTripsThroughEveryWriterOptionOnDiskAndInMemory) {
  const RgbImage source = makeTestImage(33, 21);
  const MappedImage mapped = makeTestMapped(33, 21, 256);
  for (int compression : {PIC_COMP_NONE, PIC_COMP_RLE}) {
    SCOPED_TRACE(compression);
    const std::string path = tempPath("round.sgi");
    ASSERT_EQ(PIC_OK, picSaveRGB(source.width, source.height, sgiFormat | compression,
                                 source.red.data(), source.green.data(), source.blue.data(),
                                 path.c_str()));
    int format = -1;
    ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(sgiFormat, format);  // run-length requests are written verbatim
    RgbImage loaded;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));

    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveRGB(source, sgiFormat | compression, &bytes));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &loaded));
    EXPECT_EQ(0u, countDifferences(source, loaded));

    // Indices come back as grey levels with the grey ramp.
    ASSERT_EQ(PIC_OK, memorySaveMap(mapped, sgiFormat | compression, &bytes));
    MappedImage back;
    ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &back));
    EXPECT_EQ(mapped.indices, back.indices);
    ASSERT_EQ(256u, back.map.size());
    for (int i = 0; i < 256; ++i) EXPECT_EQ(picEncodeColour(i, i, i), back.map[size_t(i)]);
  }
}

TEST(Sgi, WriterRefusesWhatTheFormatCannotHold) {
  const std::string path = tempPath("refused.sgi");
  std::vector<uint8_t> plane(70000, 0);
  EXPECT_EQ(PIC_ERR_COMPRESSION, picSaveRGB(2, 2, sgiFormat | PIC_COMP_LZW, plane.data(),
                                            plane.data(), plane.data(), path.c_str()));
  // Sizes above 65535 do not fit the header's 16-bit fields.
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(70000, 1, sgiFormat, plane.data(), plane.data(), plane.data(),
                                     path.c_str()));
  EXPECT_EQ(PIC_ERR_OPEN, picSaveRGB(2, 2, sgiFormat, plane.data(), plane.data(), plane.data(),
                                     "/nonexistent-dir/x.sgi"));
}

// ---- Hand-built files -------------------------------------------------------

TEST(Sgi, VerbatimChannelsFillRedGreenBlueFromTheBottomRow) {
  std::vector<uint8_t> bytes = buildHeader(SgiHeader{});
  append(bytes, {1, 2, 3, 4,      // red: bottom row 1 2, top row 3 4
                 10, 20, 30, 40,  // green
                 50, 60, 70, 80});
  RgbImage image;
  ASSERT_EQ(PIC_OK, loadBytes(bytes, &image));
  EXPECT_EQ(0x010a32u, image.at(0, 1));
  EXPECT_EQ(0x02143cu, image.at(1, 1));
  EXPECT_EQ(0x031e46u, image.at(0, 0));
  EXPECT_EQ(0x042850u, image.at(1, 0));
}

TEST(Sgi, RunLengthGreenPlaneComesFromTheSecondTableThird) {
  SgiHeader h;
  // Rows: a repeat packet (count 2, value), or a literal packet (0x82, two values).
  const std::vector<uint8_t> bytes = buildRunLength(
      h, {{2, 1, 0}, {0x82, 3, 4, 0}, {2, 10, 0}, {0x82, 30, 40, 0}, {2, 50, 0}, {0x82, 70, 80, 0}});
  RgbImage image;
  ASSERT_EQ(PIC_OK, loadBytes(bytes, &image));
  EXPECT_EQ(0x010a32u, image.at(0, 1));
  EXPECT_EQ(0x010a32u, image.at(1, 1));
  EXPECT_EQ(0x031e46u, image.at(0, 0));
  EXPECT_EQ(0x042850u, image.at(1, 0));
  int format = -1;
  const std::string path = tempPath("rle.sgi");
  writeFileBytes(path, bytes);
  ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(sgiFormat | PIC_COMP_RLE, format);
}

// Rows of random packets, literal and repeat, of 1 to 127 samples: long rows
// take the steps far from a row's ends as well as those near them; laid out
// plane by plane and row by row, on disk and in memory.
TEST(Sgi, RandomPacketsDecodePacketByPacket) {
  SgiHeader h;
  h.xSize = 700;
  h.ySize = 3;
  RgbImage expected(h.xSize, h.ySize);
  std::vector<std::vector<uint8_t>> rows;  // row r of plane k at r + k * ySize, row 0 the bottom
  uint32_t seed = 7;
  auto next = [&seed](int below) { return int((seed = seed * 1103515245u + 12345u) >> 16) % below; };
  for (std::vector<uint8_t>* plane : {&expected.red, &expected.green, &expected.blue})
    for (int r = 0; r < h.ySize; ++r) {
      std::vector<uint8_t> row;
      for (int x = 0; x < h.xSize;) {
        const int count = std::min(1 + next(127), h.xSize - x);
        const bool literal = next(2) == 0;
        row.push_back(uint8_t((literal ? 0x80 : 0) | count));
        const int value = next(256);
        if (!literal) row.push_back(uint8_t(value));
        for (int i = 0; i < count; ++i, ++x) {
          const uint8_t sample = uint8_t(literal ? next(256) : value);
          if (literal) row.push_back(sample);
          (*plane)[size_t(r) * size_t(h.xSize) + size_t(x)] = sample;
        }
      }
      row.push_back(0);  // end of row
      rows.push_back(row);
    }
  for (bool byRows : {false, true}) {
    SCOPED_TRACE(byRows ? "row by row" : "plane by plane");
    const std::vector<uint8_t> bytes = buildRunLength(h, rows, byRows);
    RgbImage image, fromMemory;
    ASSERT_EQ(PIC_OK, loadBytes(bytes, &image));
    EXPECT_EQ(0u, countDifferences(expected, image));
    ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &fromMemory));
    EXPECT_EQ(0u, countDifferences(expected, fromMemory));
  }
}

TEST(Sgi, TwoByteSamplesAreScaledBetweenMinimumAndMaximum) {
  struct Case {
    uint32_t minimum, maximum;
    int sample;
    int expected;
  };
  const Case cases[] = {
      {0, 1023, 1023, 255}, {0, 1023, 512, 127}, {0, 1023, 0, 0},
      {0, 1023, 4000, 255},       // above the maximum: clamped, not wrapped
      {100, 1123, 50, 0},         // below the minimum: clamped
      {500, 500, 0xffff, 255},    // no range: the full 16-bit range is used
      {500, 500, 0x8000, 127},
      {900, 100, 0xffff, 255},    // maximum below minimum: likewise
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum << " " << c.sample);
    SgiHeader h;
    h.bytesPerSample = 2;
    h.dimension = 2;
    h.xSize = 1;
    h.ySize = 1;
    h.zSize = 1;
    h.minimum = c.minimum;
    h.maximum = c.maximum;
    std::vector<uint8_t> bytes = buildHeader(h);
    bytes.push_back(uint8_t(c.sample >> 8));
    bytes.push_back(uint8_t(c.sample));
    RgbImage image;
    ASSERT_EQ(PIC_OK, loadBytes(bytes, &image));
    EXPECT_EQ(c.expected, image.red[0]);
    // The same sample, run-length encoded with 16-bit counts.
    bytes = buildRunLength(h, {{0, 1, uint8_t(c.sample >> 8), uint8_t(c.sample), 0, 0}});
    ASSERT_EQ(PIC_OK, loadBytes(bytes, &image));
    EXPECT_EQ(c.expected, image.red[0]);
  }
}

TEST(Sgi, DescribesEachKindOfImage) {
  struct Case {
    uint32_t kind;
    int dimension, ySize, zSize, bytesPerSample, storage;
    int status, height, mode, colours;
    const char* reason;  // after the load
  };
  const Case cases[] = {
      {0, 1, 5, 1, 1, 0, PIC_OK, 1, PIC_MAP, 256, nullptr},  // one line whatever y size says
      {0, 2, 2, 1, 1, 0, PIC_OK, 2, PIC_MAP, 256, nullptr},
      {0, 3, 2, 1, 1, 0, PIC_OK, 2, PIC_MAP, 256, nullptr},
      {0, 3, 2, 3, 1, 0, PIC_OK, 2, PIC_RGB, 0, nullptr},
      {0, 3, 2, 4, 1, 0, PIC_OK, 2, PIC_RGB, 0, nullptr},
      {1, 3, 2, 3, 1, 0, PIC_OK, 2, PIC_MAP, 256, nullptr},
      {2, 2, 2, 1, 1, 0, PIC_OK, 2, PIC_MAP, 256, nullptr},
      // Refused, yet described:
      {3, 2, 2, 1, 1, 0, PIC_ERR_DATA, 2, PIC_MAP, 256, "colour map kind other than normal, dithered or screen"},
      {0, 3, 2, 2, 1, 0, PIC_ERR_DATA, 2, PIC_MAP, 256, "channel count other than 1, 3 or 4"},
      {0, 4, 2, 3, 1, 0, PIC_ERR_DATA, 2, PIC_RGB, 0, "dimension outside 1 to 3"},
      {0, 3, 2, 3, 3, 0, PIC_ERR_DATA, 2, PIC_RGB, 0, "samples of other than 1 or 2 bytes"},
      {0, 3, 2, 3, 1, 2, PIC_ERR_COMPRESSION, 2, PIC_RGB, 0, "storage other than verbatim or run-length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " dim " << c.dimension << " z "
                                    << c.zSize << " bpc " << c.bytesPerSample);
    SgiHeader h;
    h.colourMapKind = c.kind;
    h.dimension = c.dimension;
    h.ySize = c.ySize;
    h.zSize = c.zSize;
    h.bytesPerSample = c.bytesPerSample;
    h.storage = c.storage;
    std::vector<uint8_t> bytes = buildHeader(h);
    bytes.resize(bytes.size() + 2 * 5 * 4 * 2, 9);
    int width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, infoOf(bytes, &width, &height, &mode, &colours));
    EXPECT_EQ(2, width);
    EXPECT_EQ(c.height, height);
    EXPECT_EQ(c.mode, mode);
    EXPECT_EQ(c.colours, colours);
    RgbImage image;
    EXPECT_EQ(c.status, loadBytes(bytes, &image));
    EXPECT_STREQ(c.reason, picLastReason());
  }
}

TEST(Sgi, DitheredFilesUseTheColourCube) {
  SgiHeader h;
  h.colourMapKind = 1;
  h.dimension = 2;
  h.zSize = 1;
  std::vector<uint8_t> bytes = buildHeader(h);
  append(bytes, {0, 255, 0x07 | 0x38, 0x40 | 0x01});  // r=7 g=7 b=0; r=1 g=0 b=1
  const std::string path = tempPath("dithered.sgi");
  writeFileBytes(path, bytes);
  MappedImage mapped;
  ASSERT_EQ(PIC_OK, libraryLoadMap(path, &mapped));
  ASSERT_EQ(256u, mapped.map.size());
  EXPECT_EQ(0x000000, mapped.map[0]);
  EXPECT_EQ(0xffffff, mapped.map[255]);
  EXPECT_EQ(0xffff00, mapped.map[0x3f]);
  EXPECT_EQ(0x240055, mapped.map[0x41]);
  const std::vector<uint8_t> expected = {0, 255, 0x3f, 0x41};
  EXPECT_EQ(expected, mapped.indices);
}

// ---- Malformed, hostile and truncated files ------------------------------------

TEST(Sgi, MalformedRunLengthRowsFailWithReadError) {
  SgiHeader h;
  h.dimension = 2;
  h.zSize = 1;
  h.ySize = 1;
  h.xSize = 4;
  struct Case {
    const char* what;
    std::vector<uint8_t> row;
    const char* reason;
  };
  const char* const endsEarly = "packed row ends before the row is full";
  const char* const passes = "run passes the row";
  const char* const endsInRun = "packed row ends inside a run";
  const Case cases[] = {
      {"ends before the row is full", {2, 7, 0}, endsEarly},
      {"a packet passes the row", {5, 7, 0}, passes},
      {"a literal packet passes the row", {0x85, 1, 2, 3, 4, 5, 0}, passes},
      {"the data ends inside a literal packet", {0x84, 1, 2}, endsInRun},
      {"the data ends before the repeated sample", {4}, endsInRun},
      {"an empty row", {}, endsEarly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RgbImage image;
    EXPECT_EQ(PIC_ERR_READ, loadBytes(buildRunLength(h, {c.row}), &image));
    EXPECT_STREQ(c.reason, picLastReason());
  }
  // A correct row for comparison.
  RgbImage image;
  EXPECT_EQ(PIC_OK, loadBytes(buildRunLength(h, {{0x82, 1, 2, 2, 3, 0}}), &image));
}

TEST(Sgi, HostileTablesAreRefusedWithoutHugeAllocations) {
  SgiHeader h;
  h.dimension = 2;
  h.zSize = 1;
  h.ySize = 1;
  h.xSize = 4;
  const std::vector<uint8_t> good = buildRunLength(h, {{4, 9, 0}});
  struct Case {
    const char* what;
    uint32_t offset, length;
    const char* reason;
  };
  const char* const pastTheEnd = "packed row past the end of the file";
  const char* const tooLong = "packed row longer than any writer makes";
  const Case cases[] = {
      {"offset past the end", 100000, 3, pastTheEnd},
      {"length past the end", 520, 1000, tooLong},
      {"huge length", 520, 0xffffffffu, tooLong},
      {"offset and length wrap", 0xfffffff0u, 0x20, tooLong},
      {"offset beyond any int", 0x90000000u, 3, pastTheEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = good;
    putBE32(bytes, 512, c.offset);
    putBE32(bytes, 516, c.length);
    RgbImage image;
    EXPECT_EQ(PIC_ERR_READ, loadBytes(bytes, &image));
    EXPECT_STREQ(c.reason, picLastReason());
    EXPECT_EQ(PIC_ERR_READ, memoryLoadRGB(bytes, &image));
    EXPECT_STREQ(c.reason, picLastReason());
  }
  // Tables of 3 * 65535 entries claimed by a file of a few hundred bytes, and a
  // verbatim file far shorter than its size claims: described, never loaded.
  h.xSize = 4;
  h.ySize = 65535;
  h.zSize = 3;
  h.dimension = 3;
  for (const std::vector<uint8_t>& bytes : {buildRunLength(h, {{4, 9, 0}}), buildHeader(h)}) {
    int width = 0, height = 0;
    EXPECT_EQ(PIC_OK, infoOf(bytes, &width, &height, nullptr, nullptr));
    EXPECT_EQ(4, width);
    EXPECT_EQ(65535, height);
    RgbImage image;
    EXPECT_EQ(PIC_ERR_READ, loadBytes(bytes, &image));
  }
}

// The packed rows of a run-length file holding `image`: one literal packet per
// row, file order (row r of plane k at r + k * height, row 0 = the bottom).
std::vector<std::vector<uint8_t>> literalRows(const RgbImage& image) {
  std::vector<std::vector<uint8_t>> rows;
  for (const std::vector<uint8_t>* plane : {&image.red, &image.green, &image.blue})
    for (int r = 0; r < image.height; ++r) {
      const auto start = plane->begin() + long(r) * image.width;
      std::vector<uint8_t> row = {uint8_t(0x80 | image.width)};
      row.insert(row.end(), start, start + image.width);
      row.push_back(0);  // end of row
      rows.push_back(row);
    }
  return rows;
}

TEST(Sgi, FileCutShortIsDescribedAndLoadsItsCompleteRows) {
  const RgbImage source = makeTestImage(5, 4, 3);
  std::vector<uint8_t> verbatim;  // 512 + 3 planes of 4 rows of 5 bytes
  ASSERT_EQ(PIC_OK, memorySaveRGB(source, sgiFormat, &verbatim));
  ASSERT_EQ(572u, verbatim.size());
  SgiHeader h;
  h.xSize = 5;
  h.ySize = 4;
  // 512 + tables of 12 offsets and 12 lengths (to 608) + 12 rows of 7 bytes.
  const std::vector<uint8_t> runLength = buildRunLength(h, literalRows(source));
  ASSERT_EQ(692u, runLength.size());
  const std::vector<uint8_t> byRows = buildRunLength(h, literalRows(source), true);
  struct Case {
    const char* what;
    const std::vector<uint8_t>* file;
    size_t length;
    int status;
    const char *red, *green, *blue;  // rows from the bottom: + loaded, . untouched
    const char* reason;
  };
  const char* const cutRow = "data ends inside a row";
  const char* const pastTheEnd = "packed row past the end of the file";
  const Case cases[] = {
      {"verbatim, whole", &verbatim, 572, PIC_OK, "++++", "++++", "++++", nullptr},
      {"verbatim, last byte missing", &verbatim, 571, PIC_ERR_READ, "++++", "++++", "+++.", cutRow},
      {"verbatim, cut in red row 2", &verbatim, 512 + 2 * 5 + 3, PIC_ERR_READ, "++..", "....", "....", cutRow},
      {"verbatim, header only", &verbatim, 512, PIC_ERR_READ, "....", "....", "....", cutRow},
      {"run-length, whole", &runLength, 692, PIC_OK, "++++", "++++", "++++", nullptr},
      {"run-length, last byte missing", &runLength, 691, PIC_ERR_READ, "++++", "++++", "+++.", pastTheEnd},
      {"run-length, cut in green row 1", &runLength, 608 + 5 * 7 + 3, PIC_ERR_READ, "++++", "+...", "....",
       pastTheEnd},
      {"run-length, cut in the lengths", &runLength, 560 + 4 * 2 + 1, PIC_ERR_READ, "....", "....", "....",
       pastTheEnd},
      {"run-length, header only", &runLength, 512, PIC_ERR_READ, "....", "....", "....",
       "the run-length tables end before this row"},
      // Read row by row, in file order: the rows before the cut in every channel.
      {"run-length by rows, whole", &byRows, 692, PIC_OK, "++++", "++++", "++++", nullptr},
      {"run-length by rows, cut in green row 1", &byRows, 608 + 4 * 7 + 3, PIC_ERR_READ, "++..", "+...", "+...",
       pastTheEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = writeTempFile("cut.sgi", {c.file->begin(), c.file->begin() + long(c.length)});
    int format = -1, width = 0, height = 0;
    EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
    EXPECT_EQ(PIC_DRIVER_SGI, format & 0xff);
    EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(5, width);
    EXPECT_EQ(4, height);
    const RowsLoaded loaded = loadRowsOf(path, source);
    EXPECT_EQ(c.status, loaded.status);
    EXPECT_STREQ(c.reason, picLastReason());
    EXPECT_EQ(c.red, loaded.red);
    EXPECT_EQ(c.green, loaded.green);
    EXPECT_EQ(c.blue, loaded.blue);
  }
}

// The driver's own answer, whatever the drivers tried before it say.
int driverStatus(const std::vector<uint8_t>& bytes) {
  const std::string path = tempPath("direct.sgi");
  writeFileBytes(path, bytes);
  int status = -2;
  picFile* file = picSgiDriver()->openRead(path.c_str(), &status);
  if (file) picSgiDriver()->close(file);
  return status;
}

TEST(Sgi, RefusesOtherFilesAndZeroSizes) {
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus({}));
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus({0x01}));
  EXPECT_EQ(PIC_ERR_FORMAT, driverStatus({0xda, 0x01, 0, 1}));
  EXPECT_EQ(PIC_ERR_READ, driverStatus({0x01, 0xda, 0, 1}));  // magic, then a cut header
  SgiHeader h;
  h.xSize = 0;
  std::vector<uint8_t> bytes = buildHeader(h);
  RgbImage image;
  EXPECT_EQ(PIC_ERR_DATA, loadBytes(bytes, &image));
}

TEST(Sgi, TruncatedFilesEndInAStatus) {
  const RgbImage source = makeTestImage(23, 13);
  const char* options[] = {"-depth 8 -compress None", "-depth 8 -compress RLE", "-depth 16"};
  for (const char* option : options) {
    SCOPED_TRACE(option);
    const std::string path = tempPath("whole.sgi");
    ASSERT_TRUE(peerEncode(source, option, path));
    const std::vector<uint8_t> whole = readFileBytes(path);
    for (size_t length = 0; length < whole.size(); length += (length < 600 ? 1 : 7)) {
      const std::vector<uint8_t> part(whole.begin(), whole.begin() + long(length));
      RgbImage image;
      if (length < 2) {  // not even the magic number: some driver refuses it
        EXPECT_NE(PIC_OK, loadBytes(part, &image));
        continue;
      }
      ASSERT_EQ(PIC_ERR_READ, memoryLoadRGB(part, &image)) << "length " << length;
      ASSERT_EQ(PIC_ERR_READ, loadBytes(part, &image)) << "length " << length;
    }
  }
}


}  // namespace
