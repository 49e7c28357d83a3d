// The GIF driver: round trips through every writer option, files made by
// ImageMagick read pixel for pixel, files written here read by ImageMagick and
// PIL, hand-built hostile files, truncations, and the LZW codec on its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "picture/formats/gif_lzw.h"
#include "support/image_peer.h"

namespace {

const int gifFormat = PIC_DRIVER_GIF;
const int gifFormatLzw = PIC_DRIVER_GIF | PIC_COMP_LZW;
const int gifFormatRle = PIC_DRIVER_GIF | PIC_COMP_RLE;
const char pilPython[] = "/usr/bin/python3";

// Packs codes least significant bit first, widening them the way a GIF decoder
// does, so that hand-built data streams can be written as lists of codes.
class CodeStream {
 public:
  explicit CodeStream(int codeSize) : codeSize_(codeSize) { clear(); }
  int clearCode() const { return 1 << codeSize_; }
  int endCode() const { return clearCode() + 1; }
  int nextCode() const { return next_; }  // the entry the next code defines
  CodeStream& put(int code) {
    bits_ |= uint64_t(code) << count_;
    count_ += width_;
    while (count_ >= 8) {
      bytes_.push_back(uint8_t(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
    if (code == clearCode()) {
      clear();
    } else if (code != endCode()) {
      if (!first_ && next_ < 4096) ++next_;
      if (next_ >= 1 << width_ && width_ < 12) ++width_;
      first_ = false;
    }
    return *this;
  }
  // The bytes with the last one padded.
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out = bytes_;
    if (count_ > 0) out.push_back(uint8_t(bits_));
    return out;
  }

 private:
  void clear() {
    width_ = codeSize_ + 1;
    next_ = clearCode() + 2;
    first_ = true;
  }
  int codeSize_, width_ = 0, next_ = 0, count_ = 0;
  bool first_ = true;
  uint64_t bits_ = 0;
  std::vector<uint8_t> bytes_;
};

// Data bytes in sub-blocks of at most 255, without the terminator.
std::vector<uint8_t> subBlocks(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    out.push_back(uint8_t(n));
    out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
  }
  return out;
}

void append(std::vector<uint8_t>& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(uint8_t(b));
}

// A GIF89a file byte by byte: screen with a global table of `tableColours`
// entries (0 = none), the given blocks before the image, an image descriptor,
// the code size byte and the data; the terminator and trailer when asked.
struct HandBuilt {
  int width = 4, height = 2;
  int tableColours = 4;
  int localColours = 0;
  bool interlaced = false;
  std::vector<uint8_t> beforeImage;
  int codeSize = 2;
  std::vector<uint8_t> data;  // already in sub-blocks
  bool terminator = true;
  bool trailer = true;
  bool endAfterBlocks = false;  // the file ends behind beforeImage

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out;
    append(out, {'G', 'I', 'F', '8', '9', 'a'});                          // signature, version
    append(out, {width & 0xff, width >> 8, height & 0xff, height >> 8});  // screen size
    append(out,
           {tableColours ? 0x80 | tableBits(tableColours) : 0, 0, 0});  // flags, background, aspect
    for (int i = 0; i < tableColours; ++i) append(out, {i * 10, 100 + i, 255 - i});  // r, g, b
    out.insert(out.end(), beforeImage.begin(), beforeImage.end());
    if (endAfterBlocks) return out;
    append(out, {0x2C, 0, 0, 0, 0});                                      // introducer, left, top
    append(out, {width & 0xff, width >> 8, height & 0xff, height >> 8});  // image size
    append(out, {(localColours ? 0x80 | tableBits(localColours) : 0) | (interlaced ? 0x40 : 0)});
    for (int i = 0; i < localColours; ++i) append(out, {255 - i, i, 7});
    append(out, {codeSize});
    out.insert(out.end(), data.begin(), data.end());
    if (terminator) out.push_back(0);
    if (trailer) out.push_back(0x3B);
    return out;
  }
  static int tableBits(int colours) {
    int bits = 0;
    while ((2 << bits) < colours) ++bits;
    return bits;
  }
};

HandBuilt withCodes(const CodeStream& codes) {
  HandBuilt file;
  file.data = subBlocks(codes.bytes());
  return file;
}

// Loads from memory: the info status, and the load status with its indices
// and the reason the load from disk gave.
struct Loaded {
  int info = -99;
  int load = -99;
  MappedImage image;
  const char* reason = nullptr;
};

Loaded loadBytes(const std::vector<uint8_t>& bytes) {
  Loaded result;
  const std::string path = tempPath("loaded.gif");
  writeFileBytes(path, bytes);
  int width = 0, height = 0, mode = 0, colours = 0;
  result.info = picImageInfo(path.c_str(), &width, &height, &mode, &colours);
  result.load = memoryLoadMap(bytes, &result.image);
  MappedImage fromDisk;
  const int diskLoad = libraryLoadMap(path, &fromDisk);
  result.reason = picLastReason();
  EXPECT_EQ(result.load, diskLoad) << "disk and memory disagree";
  if (result.load == PIC_OK) {
    EXPECT_EQ(result.image.indices, fromDisk.indices);
  }
  return result;
}

// Indices of row `yFromTop`, as the picture is viewed.
std::vector<uint8_t> rowOf(const MappedImage& image, int yFromTop) {
  const auto start = image.indices.begin() + long(image.height - 1 - yFromTop) * image.width;
  return std::vector<uint8_t>(start, start + image.width);
}

// Makes a file with the peer; `prefix` picks a variant of the output format.
bool peerMake(const RgbImage& image, const std::string& options, const std::string& prefix,
              const std::string& path) {
  const std::string ppm = path + ".source.ppm";
  return writePpm(ppm, image) && runCommand(std::string(peerConvert()) + " '" + ppm + "' " +
                                            options + " '" + prefix + path + "'");
}

// The peer's decode of the first image. The file's comment is dropped: the
// peer would carry it into the PPM, which readPpm does not parse.
bool peerDecodeFirst(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".first.ppm";
  return runCommand(std::string(peerConvert()) + " '" + path +
                    "[0]' +set comment -depth 8 -type TrueColor 'ppm:" + ppm + "'") &&
         readPpm(ppm, image);
}

bool peerPresent() {
  return toolInstalled(peerConvert());
}

bool pilDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".pil.ppm";
  const std::string script =
      "import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')";
  return runCommand(std::string(pilPython) + " -c \"" + script + "\" '" + path + "' '" + ppm +
                    "'") &&
         readPpm(ppm, image);
}

// The same file with its global colour table moved into the image descriptor.
std::vector<uint8_t> withLocalTableOnly(const std::vector<uint8_t>& gif) {
  const int flags = gif.at(10);
  if (!(flags & 0x80)) return {};
  const size_t tableBytes = size_t(3) * (2 << (flags & 7));
  std::vector<uint8_t> out(gif.begin(), gif.begin() + 13);
  out[10] = uint8_t(flags & 0x70);
  size_t at = 13 + tableBytes;
  while (at < gif.size() && gif[at] == 0x21) {  // copy extensions: introducer, label, sub-blocks
    size_t end = at + 2;
    while (end < gif.size() && gif[end] != 0) end += gif[end] + 1;
    out.insert(out.end(), gif.begin() + long(at), gif.begin() + long(end + 1));
    at = end + 1;
  }
  if (at + 10 > gif.size() || gif[at] != 0x2C || (gif[at + 9] & 0x80)) return {};
  out.insert(out.end(), gif.begin() + long(at), gif.begin() + long(at + 10));
  out.back() = uint8_t((gif[at + 9] & 0x40) | 0x80 | (flags & 7));
  out.insert(out.end(), gif.begin() + 13, gif.begin() + long(13 + tableBytes));
  out.insert(out.end(), gif.begin() + long(at + 10), gif.end());
  return out;
}

TEST(Gif, RoundTripsEveryWriterOptionOnDiskAndInMemory) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{1, 1}, {1, 9}, {9, 1}, {13, 7}, {255, 3}, {257, 5}, {301, 211}};
  const int colourCounts[] = {2, 3, 5, 16, 17, 100, 255, 256};
  const int formats[] = {gifFormat, gifFormatRle, gifFormatLzw};
  unsigned seed = 1;
  for (int format : formats)
    for (const Size& size : sizes)
      for (int colours : colourCounts) {
        SCOPED_TRACE("format " + std::to_string(format) + ", " + std::to_string(size.width) + "x" +
                     std::to_string(size.height) + ", " + std::to_string(colours) + " colours");
        const MappedImage image = makeTestMapped(size.width, size.height, colours, ++seed);
        std::vector<int32_t> expectedMap = image.map;
        expectedMap.resize(PIC_MAX_COLOURS, 0);  // the written table always has 256 entries

        std::vector<uint8_t> bytes;
        ASSERT_EQ(PIC_OK, memorySaveMap(image, format, &bytes));
        MappedImage fromMemory;
        ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &fromMemory));
        EXPECT_EQ(image.indices, fromMemory.indices);
        EXPECT_EQ(expectedMap, fromMemory.map);

        const std::string path = tempPath("round.gif");
        ASSERT_EQ(PIC_OK, picSaveMap(size.width, size.height, format, image.indices.data(), colours,
                                     image.map.data(), path.c_str()));
        EXPECT_EQ(bytes, readFileBytes(path)) << "disk and memory files differ";
        MappedImage fromDisk;
        ASSERT_EQ(PIC_OK, libraryLoadMap(path, &fromDisk));
        EXPECT_EQ(image.indices, fromDisk.indices);
      }
}

TEST(Gif, NoiseFillsTheLzwTableAndStillRoundTrips) {
  // Random pixels fill the 4096-entry table many times over: clear codes and
  // the widest codes are exercised.
  MappedImage image = makeTestMapped(640, 480, 256, 7);
  unsigned state = 99;
  for (uint8_t& index : image.indices) {
    state = state * 1103515245u + 12345u;
    index = uint8_t(state >> 16);
  }
  for (int format : {gifFormat, gifFormatLzw}) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveMap(image, format, &bytes));
    MappedImage loaded;
    ASSERT_EQ(PIC_OK, memoryLoadMap(bytes, &loaded));
    EXPECT_EQ(image.indices, loaded.indices) << format;
  }
}

TEST(Gif, WrittenFilesShowTheSamePixelsInImageMagickAndPil) {
  ASSERT_TRUE(peerPresent()) << peerConvert() << " is needed for this test";
  struct Case {
    int width, height, colours, format;
  };
  const Case cases[] = {{1, 1, 2, gifFormatLzw},     {1, 40, 3, gifFormat},
                        {40, 1, 5, gifFormatLzw},    {17, 9, 16, gifFormatRle},
                        {63, 33, 100, gifFormatLzw}, {200, 150, 256, gifFormatLzw},
                        {200, 150, 256, gifFormat},  {31, 7, 255, gifFormatLzw}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                 std::to_string(c.colours) + " colours, format " + std::to_string(c.format));
    const MappedImage image =
        makeTestMapped(c.width, c.height, c.colours, unsigned(c.width * 31 + c.colours));
    const RgbImage expected = mappedToRgb(image);

    const std::string diskPath = tempPath("written.gif");
    ASSERT_EQ(PIC_OK, picSaveMap(c.width, c.height, c.format, image.indices.data(), c.colours,
                                 image.map.data(), diskPath.c_str()));
    std::vector<uint8_t> bytes;
    ASSERT_EQ(PIC_OK, memorySaveMap(image, c.format, &bytes));
    const std::string memoryPath = tempPath("written-in-memory.gif");
    ASSERT_TRUE(writeFileBytes(memoryPath, bytes));

    for (const std::string& path : {diskPath, memoryPath}) {
      RgbImage byImageMagick, byPil;
      ASSERT_TRUE(peerDecode(path, &byImageMagick)) << path;
      EXPECT_EQ(0u, countDifferences(expected, byImageMagick)) << path;
      ASSERT_TRUE(pilDecode(path, &byPil)) << path;
      EXPECT_EQ(0u, countDifferences(expected, byPil)) << path;
    }
  }
}

TEST(Gif, SavingTrueColourIsRefused) {
  // The driver takes colour-mapped images only.
  const RgbImage image = makeTestImage(5, 4);
  const std::string path = tempPath("rgb.gif");
  EXPECT_EQ(PIC_ERR_DATA, picSaveRGB(5, 4, gifFormatLzw, image.red.data(), image.green.data(),
                                     image.blue.data(), path.c_str()));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Gif, ReadsImageMagickFilesLikeImageMagick) {
  ASSERT_TRUE(peerPresent()) << peerConvert() << " is needed for this test";
  struct Variant {
    const char* name;
    const char* options;  // between the source picture and the output name
    const char* prefix;   // of the output name
    bool localTableOnly;
  };
  const Variant variants[] = {
      {"two colours, code size 2", "-colors 2", "", false},
      {"four colours, code size 2", "-colors 4", "", false},
      {"eight colours, code size 3", "-colors 8", "", false},
      {"sixteen colours, code size 4", "-colors 16", "", false},
      {"thirty colours, code size 5", "-colors 30", "", false},
      {"monochrome", "-monochrome", "", false},
      {"256 colours", "-colors 256", "", false},
      {"GIF87a", "-colors 64", "gif87:", false},
      {"interlaced", "-colors 64 -interlace GIF", "", false},
      {"interlaced four colours", "-colors 4 -interlace GIF", "", false},
      {"comment, graphic control, application extensions",
       "-colors 32 -set comment 'made by the gif test' -delay 20 -loop 0 \\( +clone -negate \\)",
       "", false},
      {"local colour table only", "-colors 64", "", true},
      {"local table only, interlaced, extensions",
       "-colors 7 -interlace GIF -set comment hi -delay 5 -loop 2 \\( +clone -flip \\)", "", true},
  };
  const std::pair<int, int> sizes[] = {{37, 23}, {150, 101}, {1, 5}, {6, 1}};
  for (const Variant& variant : variants)
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(variant.name) + ", " + std::to_string(size.first) + "x" +
                   std::to_string(size.second));
      const std::string path = tempPath("peer.gif");
      ASSERT_TRUE(peerMake(makeTestImage(size.first, size.second, unsigned(size.first)),
                           variant.options, variant.prefix, path));
      if (variant.localTableOnly) {
        const std::vector<uint8_t> moved = withLocalTableOnly(readFileBytes(path));
        ASSERT_FALSE(moved.empty()) << "unexpected layout from the peer";
        ASSERT_TRUE(writeFileBytes(path, moved));
      }
      RgbImage expected;
      ASSERT_TRUE(peerDecodeFirst(path, &expected));

      int format = 0;
      ASSERT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
      EXPECT_EQ(0x102, format);
      RgbImage fromDisk, fromMemory;
      ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk));
      EXPECT_EQ(0u, countDifferences(expected, fromDisk));
      ASSERT_EQ(PIC_OK, memoryLoadRGB(readFileBytes(path), &fromMemory));
      EXPECT_EQ(0u, countDifferences(expected, fromMemory));
    }
}

TEST(Gif, InterlacedRowsLandInTheirOwnRows) {
  // Each stored line holds its own number; the file stores them in pass order.
  struct Case {
    int height;
    std::vector<int> storedOrder;
  };
  const Case cases[] = {
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}}, {3, {0, 2, 1}}, {1, {0}}, {5, {0, 4, 2, 1, 3}}};
  for (const Case& c : cases) {
    CodeStream codes(4);
    codes.put(codes.clearCode());
    for (int row : c.storedOrder)
      for (int x = 0; x < 3; ++x) codes.put(row);
    codes.put(codes.endCode());
    HandBuilt file = withCodes(codes);
    file.codeSize = 4;
    file.tableColours = 16;
    file.width = 3;
    file.height = c.height;
    file.interlaced = true;
    const Loaded loaded = loadBytes(file.bytes());
    ASSERT_EQ(PIC_OK, loaded.load) << c.height;
    for (int y = 0; y < c.height; ++y)
      EXPECT_EQ(std::vector<uint8_t>(3, uint8_t(y)), rowOf(loaded.image, y));
  }
}

TEST(Gif, HandBuiltFilesGiveTheirStatus) {
  struct Case {
    const char* name;
    HandBuilt file;
    int info;            // picImageInfo
    int load;            // picLoadMap
    const char* reason;  // picLastReason after the load
  };
  // A valid 4x2 picture with code size 2: literals 0 1 2 3 / 3 2 1 0.
  CodeStream good(2);
  good.put(4);
  for (int code : {0, 1, 2, 3, 3, 2, 1, 0}) good.put(code);
  good.put(5);
  const HandBuilt base = withCodes(good);
  const std::vector<uint8_t> goodData = good.bytes();

  std::vector<Case> cases;
  auto add = [&](const char* name, int info, int load, const char* reason, auto change) {
    HandBuilt file = base;
    change(file);
    cases.push_back({name, file, info, load, reason});
  };
  auto same = [](HandBuilt&) {};
  add("valid", PIC_OK, PIC_OK, nullptr, same);
  add("extensions before the image", PIC_OK, PIC_OK, nullptr, [](HandBuilt& f) {
    append(f.beforeImage, {0x21, 0xFE, 3, 'a', 'b', 'c', 0});  // comment
    append(f.beforeImage, {0x21, 0xF9, 4, 0, 0, 0, 0, 0});     // graphic control
    append(f.beforeImage, {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
    append(f.beforeImage, {3, 1, 0, 0, 0});  // loop count, end
  });
  add("extensions longer than a read from disk", PIC_OK, PIC_OK, nullptr, [](HandBuilt& f) {
    append(f.beforeImage, {0x21, 0xFE});  // a comment of 100 sub-blocks of 255 zeros
    for (int i = 0; i < 100; ++i) {
      f.beforeImage.push_back(255);
      f.beforeImage.insert(f.beforeImage.end(), 255, 0);
    }
    f.beforeImage.push_back(0);
  });
  add("local table only", PIC_OK, PIC_OK, nullptr, [](HandBuilt& f) {
    f.tableColours = 0;
    f.localColours = 4;
  });
  add("no colour table", PIC_ERR_READ, PIC_ERR_READ, "no colour table", [](HandBuilt& f) { f.tableColours = 0; });
  add("trailer before any image", PIC_ERR_FORMAT, PIC_ERR_FORMAT, "unknown block before the image",
      [](HandBuilt& f) { append(f.beforeImage, {0x3B}); });
  add("unknown block", PIC_ERR_FORMAT, PIC_ERR_FORMAT, "unknown block before the image",
      [](HandBuilt& f) { append(f.beforeImage, {0x00}); });
  add("code size 0", PIC_OK, PIC_ERR_DATA, "LZW code size outside 1 to 8", [](HandBuilt& f) { f.codeSize = 0; });
  add("code size 9", PIC_OK, PIC_ERR_DATA, "LZW code size outside 1 to 8", [](HandBuilt& f) { f.codeSize = 9; });
  add("code size 12", PIC_OK, PIC_ERR_DATA, "LZW code size outside 1 to 8", [](HandBuilt& f) { f.codeSize = 12; });
  add("zero width", PIC_ERR_DATA, PIC_ERR_DATA, "a side of no pixels", [](HandBuilt& f) { f.width = 0; });
  add("zero height", PIC_ERR_DATA, PIC_ERR_DATA, "a side of no pixels", [](HandBuilt& f) { f.height = 0; });
  add("block terminator inside the last line", PIC_OK, PIC_ERR_READ, "data ends inside a row", [&](HandBuilt& f) {
    f.data = subBlocks({goodData.begin(), goodData.begin() + 3});
  });
  add("end of file inside the data", PIC_OK, PIC_ERR_READ, "data ends inside a row", [&](HandBuilt& f) {
    f.data = {10, goodData[0], goodData[1]};  // a sub-block announcing more bytes than remain
    f.terminator = f.trailer = false;
  });
  add("no image data at all", PIC_OK, PIC_ERR_READ, "data ends inside a row", [](HandBuilt& f) { f.data.clear(); });
  add("end code two pixels early", PIC_OK, PIC_ERR_READ, "end code inside a row", [](HandBuilt& f) {
    CodeStream codes(2);
    for (int code : {4, 0, 1, 2, 3, 3, 2, 5}) codes.put(code);
    f.data = subBlocks(codes.bytes());
  });
  add("a string code right after the clear", PIC_OK, PIC_ERR_READ, "LZW code that names no string", [](HandBuilt& f) {
    CodeStream codes(2);
    for (int code : {4, 6, 0, 0, 0, 0, 0, 0, 0, 5}) codes.put(code);
    f.data = subBlocks(codes.bytes());
  });
  add("a code beyond the next entry", PIC_OK, PIC_ERR_READ, "LZW code that names no string", [](HandBuilt& f) {
    CodeStream codes(2);
    for (int code : {4, 0, 7, 0, 0, 0, 0, 0, 5}) codes.put(code);
    f.data = subBlocks(codes.bytes());
  });
  add("image data ending with the image is enough; later blocks are not read", PIC_OK, PIC_OK, nullptr,
      [](HandBuilt& f) {
        f.terminator = false;
        f.trailer = false;
        f.data.push_back(0);
        append(f.data, {0x99, 0x99, 0x99});  // junk after the terminator
      });
  add("end of file in an extension", PIC_ERR_FORMAT, PIC_ERR_FORMAT, "data ends inside an extension", [](HandBuilt& f) {
    f.beforeImage = {0x21, 0xFE, 200, 'x'};  // a comment announcing 200 bytes
    f.endAfterBlocks = true;
  });
  add("end of file before any image", PIC_ERR_READ, PIC_ERR_READ, "data ends before any image",
      [](HandBuilt& f) { f.endAfterBlocks = true; });
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded loaded = loadBytes(c.file.bytes());
    EXPECT_EQ(c.info, loaded.info);
    EXPECT_EQ(c.load, loaded.load);
    EXPECT_STREQ(c.reason, loaded.reason);
    if (c.load == PIC_OK) {
      EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 3}), rowOf(loaded.image, 0));
      EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 0}), rowOf(loaded.image, 1));
    }
  }
}

TEST(Gif, UnsupportedCodeSizeIsStillDescribed) {
  HandBuilt file;
  file.width = 300;
  file.height = 2;
  file.codeSize = 11;
  const std::string path = tempPath("codesize.gif");
  writeFileBytes(path, file.bytes());
  int format = 0, width = 0, height = 0, mode = -1, colours = 0;
  EXPECT_EQ(PIC_OK, picFileFormat(path.c_str(), &format));
  EXPECT_EQ(0x102, format);
  EXPECT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
  EXPECT_EQ(300, width);
  EXPECT_EQ(2, height);
  EXPECT_EQ(PIC_MAP, mode);
  EXPECT_EQ(4, colours);
}

TEST(Gif, EveryCodeSizeFromOneToEightDecodes) {
  for (int codeSize = 1; codeSize <= 8; ++codeSize) {
    SCOPED_TRACE(codeSize);
    const int literals = 1 << codeSize;
    // Literals, then strings built from them: 0 1 0 1 ... with codes for "0 1".
    CodeStream codes(codeSize);
    codes.put(codes.clearCode());
    std::vector<uint8_t> expected;
    for (int i = 0; i < 8; ++i) {
      codes.put(i % literals);
      expected.push_back(uint8_t(i % literals));
    }
    const int firstEntry =
        codes.clearCode() + 2;  // = string of literal 0 then literal 1 % literals
    codes.put(firstEntry);
    expected.push_back(0);
    expected.push_back(uint8_t(1 % literals));
    codes.put(codes.endCode());
    HandBuilt file = withCodes(codes);
    file.codeSize = codeSize;
    file.tableColours = literals < 2 ? 2 : literals;
    file.width = int(expected.size());
    file.height = 1;
    const Loaded loaded = loadBytes(file.bytes());
    ASSERT_EQ(PIC_OK, loaded.load);
    EXPECT_EQ(expected, loaded.image.indices);
  }
}

TEST(Gif, EndCodeWithOnePixelLeftEndsTheLineWithIndexZero) {
  CodeStream codes(2);
  for (int code : {4, 3, 3, 3, 3, 3, 3, 3, 5}) codes.put(code);  // 7 of 8 pixels
  HandBuilt file = withCodes(codes);
  const Loaded loaded = loadBytes(file.bytes());
  ASSERT_EQ(PIC_OK, loaded.load);
  EXPECT_EQ((std::vector<uint8_t>{3, 3, 3, 3}), rowOf(loaded.image, 0));
  EXPECT_EQ((std::vector<uint8_t>{3, 3, 3, 0}), rowOf(loaded.image, 1));
}

TEST(Gif, AnEndCodeStandsForOneMissingPixelNotForLinesAfterIt) {
  // One-pixel lines: the end code may stand for the last pixel of its own line
  // only; lines after it have no data.
  struct Case {
    int height;
    std::vector<int> codes;  // code size 2: clear 4, end 5
    int load;
    const char* reason;
  };
  const Case cases[] = {{1, {4, 5}, PIC_OK, nullptr},
                        {2, {4, 1, 5}, PIC_OK, nullptr},
                        {2, {4, 5}, PIC_ERR_READ, "end code before the last row"},
                        {3, {4, 1, 5}, PIC_ERR_READ, "end code before the last row"},
                        {3, {4, 1, 2, 5}, PIC_OK, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    CodeStream codes(2);
    for (int code : c.codes) codes.put(code);
    HandBuilt file = withCodes(codes);
    file.width = 1;
    file.height = c.height;
    const Loaded loaded = loadBytes(file.bytes());
    EXPECT_EQ(c.load, loaded.load);
    EXPECT_STREQ(c.reason, loaded.reason);
  }
}

TEST(Gif, TruncatedFilesNeverLoadWithWrongPixels) {
  ASSERT_TRUE(peerPresent()) << peerConvert() << " is needed for this test";
  std::vector<std::vector<uint8_t>> sources;
  const std::string peerPath = tempPath("truncate-peer.gif");
  ASSERT_TRUE(
      peerEncode(makeTestImage(29, 17), "-colors 20 -interlace GIF -set comment cut", peerPath));
  sources.push_back(readFileBytes(peerPath));
  std::vector<uint8_t> written;
  ASSERT_EQ(PIC_OK, memorySaveMap(makeTestMapped(23, 11, 40), gifFormatLzw, &written));
  sources.push_back(written);

  for (const std::vector<uint8_t>& full : sources) {
    MappedImage whole;
    ASSERT_EQ(PIC_OK, memoryLoadMap(full, &whole));
    for (size_t length = 1; length < full.size(); ++length) {
      SCOPED_TRACE(length);
      const std::vector<uint8_t> cut(full.begin(), full.begin() + long(length));
      const Loaded loaded = loadBytes(cut);
      if (length < 16) {
        EXPECT_NE(PIC_OK, loaded.info);
      }
      if (loaded.load == PIC_OK) {
        EXPECT_EQ(whole.indices, loaded.image.indices);
      } else {
        EXPECT_TRUE(loaded.load == PIC_ERR_READ || loaded.load == PIC_ERR_FORMAT) << loaded.load;
      }
    }
  }
}

TEST(Gif, WrittenFileLayout) {
  const MappedImage image = makeTestMapped(3, 2, 3, 5);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(PIC_OK, memorySaveMap(image, gifFormat, &bytes));
  ASSERT_GT(bytes.size(), 800u);
  EXPECT_EQ("GIF87a", std::string(bytes.begin(), bytes.begin() + 6));
  EXPECT_EQ((std::vector<uint8_t>{3, 0, 2, 0, 0xF7, 0, 0}),
            std::vector<uint8_t>(bytes.begin() + 6, bytes.begin() + 13));
  for (int i = 0; i < 3; ++i) {
    uint8_t r, g, b;
    picDecodeColour(&r, &g, &b, image.map[size_t(i)]);
    EXPECT_EQ((std::vector<uint8_t>{r, g, b}),
              std::vector<uint8_t>(bytes.begin() + 13 + 3 * i, bytes.begin() + 16 + 3 * i));
  }
  for (int i = 9; i < 768; ++i) EXPECT_EQ(0, bytes[size_t(13 + i)]) << "table byte " << i;  // black
  const std::vector<uint8_t> descriptor = {0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x07, 8};
  EXPECT_EQ(descriptor, std::vector<uint8_t>(bytes.begin() + 781, bytes.begin() + 792));
  EXPECT_EQ((std::vector<uint8_t>{0, 0x3B}), std::vector<uint8_t>(bytes.end() - 2, bytes.end()));
}

TEST(Gif, PlainCodesAreNineBitsWithAClearEvery254) {
  // One line of 600 pixels: every code must be 9 bits wide, literals only.
  MappedImage image = makeTestMapped(600, 1, 256, 3);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(PIC_OK, memorySaveMap(image, gifFormat, &bytes));
  std::vector<uint8_t> data;
  for (size_t at = 792; bytes[at] != 0; at += bytes[at] + 1u)
    data.insert(data.end(), bytes.begin() + long(at + 1), bytes.begin() + long(at + 1 + bytes[at]));
  std::vector<int> codes;
  for (size_t bit = 0; bit + 9 <= data.size() * 8; bit += 9) {
    int code = 0;
    for (int i = 0; i < 9; ++i) code |= ((data[(bit + i) / 8] >> ((bit + i) % 8)) & 1) << i;
    codes.push_back(code);
    if (code == 257) break;
  }
  std::vector<uint8_t> pixels;
  int sinceClear = -1;
  for (int code : codes) {
    if (code == 256) {
      EXPECT_TRUE(sinceClear == -1 || sinceClear == 254) << sinceClear;
      sinceClear = 0;
    } else if (code != 257) {
      pixels.push_back(uint8_t(code));
      ++sinceClear;
    }
  }
  EXPECT_EQ(257, codes.back());
  EXPECT_EQ(image.indices, pixels);
}

TEST(Gif, WriterRefusesWhatAGifCannotHold) {
  const std::vector<uint8_t> wide(70000, 1);
  const int32_t map[2] = {0, 0xffffff};
  const std::string path = tempPath("wide.gif");
  EXPECT_EQ(PIC_ERR_DATA, picSaveMap(70000, 1, gifFormatLzw, wide.data(), 2, map, path.c_str()));
  EXPECT_EQ(PIC_OK, picSaveMap(65535, 1, gifFormatLzw, wide.data(), 2, map, path.c_str()));
  MappedImage loaded;
  ASSERT_EQ(PIC_OK, libraryLoadMap(path, &loaded));
  EXPECT_EQ(std::vector<uint8_t>(65535, 1), loaded.indices);
}

TEST(Gif, MapOfMoreThan256EntriesStaysInsideTheTable) {
  // Straight through the driver: the library itself refuses such maps.
  picDriver* driver = picGifDriver();
  std::vector<int32_t> map(300, 0x123456);
  const std::string path = tempPath("bigmap.gif");
  int status = -1;
  picFile* file = driver->openWrite(path.c_str(), 2, 1, PIC_MAP, PIC_COMP_LZW, 300, &status);
  ASSERT_EQ(PIC_OK, status);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(PIC_OK, driver->writeMap(file, map.data()));
  const uint8_t line[2] = {0, 1};
  EXPECT_EQ(PIC_OK, driver->writeLine(file, line));
  driver->close(file);
  const std::vector<uint8_t> bytes = readFileBytes(path);
  ASSERT_GT(bytes.size(), 792u);
  EXPECT_EQ(0x2C, bytes[781]) << "the image descriptor was overwritten";
  RgbImage loaded;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &loaded));
  EXPECT_EQ(0x123456u, loaded.at(1, 0));
}

TEST(Gif, OtherFormatsAreNotClaimed) {
  const std::vector<std::vector<uint8_t>> others = {{},
                                                    {'G'},
                                                    {'G', 'I'},
                                                    {'B', 'M', 0, 0, 0, 0},
                                                    {'G', 'I', 'X', '8', '9', 'a'},
                                                    {'g', 'i', 'f', '8', '7', 'a'}};
  for (const auto& bytes : others) {
    std::vector<uint8_t> data = bytes;
    const std::string path = tempPath("other.bin");
    writeFileBytes(path, data);
    int status = -1;
    picFile* file = picGifDriver()->openRead(path.c_str(), &status);
    EXPECT_EQ(nullptr, file);
    EXPECT_TRUE(status == PIC_ERR_FORMAT || (bytes.size() < 3 && status == PIC_ERR_READ)) << status;
  }
}

// The codec alone: strings as long as the table allows, delivered through a
// small window, never overflow; undefined codes are refused.
TEST(GifLzw, LongestStringsDecodeThroughASmallWindow) {
  CodeStream codes(2);
  codes.put(4).put(0);
  size_t expectedPixels = 1;
  for (int code = 6; code < 4096; ++code) {  // each code is the entry being defined
    codes.put(code);
    expectedPixels += size_t(code - 4);
  }
  for (int i = 0; i < 3; ++i) {  // the full table is kept: the longest string again
    codes.put(4095);
    expectedPixels += 4091;
  }
  codes.put(5);
  const std::vector<uint8_t> data = codes.bytes();

  auto* decoder = new GifLzwDecoder;
  ASSERT_TRUE(gifLzwStartDecoder(decoder, 2));
  std::vector<uint8_t> window(1000);
  size_t taken = 0, delivered = 0;
  GifLzwResult result = GifLzwResult::full;
  while (result == GifLzwResult::full) {
    size_t used = 0, produced = 0;
    result = gifLzwDecode(decoder, data.data() + taken, data.size() - taken, &used, window.data(),
                          window.size(), &produced);
    taken += used;
    delivered += produced;
    for (size_t i = 0; i < produced; ++i) ASSERT_EQ(0, window[i]);
  }
  EXPECT_EQ(GifLzwResult::end, result);
  EXPECT_EQ(expectedPixels, delivered);
  delete decoder;
}

TEST(GifLzw, CodesThatNameNoStringAreRefused) {
  // Code size 3: literals 0-7, clear 8, end 9, entries from 10.
  const std::vector<std::vector<int>> streams = {
      {8, 10},            // a string code before any literal
      {8, 0, 12},         // beyond the entry being defined
      {8, 0, 10, 13},     // beyond again, after a valid string
      {8, 1, 2, 8, 10}};  // the clear forgets the entries
  for (const auto& stream : streams) {
    CodeStream codes(3);
    for (int code : stream) codes.put(code);
    const std::vector<uint8_t> data = codes.bytes();
    auto* decoder = new GifLzwDecoder;
    ASSERT_TRUE(gifLzwStartDecoder(decoder, 3));
    uint8_t out[64];
    size_t used = 0, produced = 0;
    EXPECT_EQ(GifLzwResult::badCode,
              gifLzwDecode(decoder, data.data(), data.size(), &used, out, sizeof out, &produced));
    delete decoder;
  }
}

struct Decoded {
  std::vector<uint8_t> pixels;
  GifLzwResult result;
};

// Decodes until the end, a bad code or the last byte, taking the source in
// pieces that end where sourceEnd(taken) says and giving the pixels windows
// that end where pixelEnd(done) says.
template <typename SourceEnd, typename PixelEnd>
Decoded decodeInPieces(int codeSize, const std::vector<uint8_t>& data, SourceEnd sourceEnd,
                       PixelEnd pixelEnd) {
  auto decoder = std::make_unique<GifLzwDecoder>();
  EXPECT_TRUE(gifLzwStartDecoder(decoder.get(), codeSize));
  std::vector<uint8_t> pixels(20000);
  size_t taken = 0, done = 0;
  GifLzwResult result = GifLzwResult::needInput;
  while (result != GifLzwResult::end && result != GifLzwResult::badCode &&
         !(result == GifLzwResult::needInput && taken == data.size())) {
    const size_t sourceLimit = std::min(sourceEnd(taken), data.size());
    const size_t pixelLimit = std::min(pixelEnd(done), pixels.size());
    size_t used = 0, produced = 0;
    result = gifLzwDecode(decoder.get(), data.data() + taken, sourceLimit - taken, &used,
                          pixels.data() + done, pixelLimit - done, &produced);
    taken += used;
    done += produced;
  }
  pixels.resize(done);
  return {pixels, result};
}

// Literal runs take eight source bytes at once; a stream given one byte and
// asked one pixel at a time never can. Both must agree wherever the source
// and the pixels are cut. Streams as words: C clear, E end, L<n> n literals,
// S the entry last defined, K the entry being defined, B the one after it.
TEST(GifLzw, LiteralRunsAgreeWithCodeByCodeDecoding) {
  const struct {
    int codeSize;
    const char* stream;
  } cases[] = {{8, "C L40 E"},
               {8, "C L20 S L10 K L12 E"},
               {8, "C L10 C L10 C C L30 E L10"},
               {8, "C L300 E"},        // widens to 10 bits inside the run
               {8, "C L30 B L20 E"},   // a bad code inside a run
               {8, "C L50"},           // no end code
               {8, "L9 S L40 E"},      // no clear code first
               {2, "C L4100 S L20 E"}, // runs on with the table full at 12 bits
               {1, "C L90 K S L30 E"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stream);
    CodeStream codes(c.codeSize);
    std::istringstream words(c.stream);
    int literal = 0;
    for (std::string word; words >> word;) {
      if (word == "C") codes.put(codes.clearCode());
      if (word == "E") codes.put(codes.endCode());
      if (word == "S") codes.put(codes.nextCode() - 1);
      if (word == "K") codes.put(codes.nextCode());
      if (word == "B") codes.put(codes.nextCode() + 1);
      for (int n = word[0] == 'L' ? std::stoi(word.substr(1)) : 0; n > 0; --n)
        codes.put(literal++ * 37 % codes.clearCode());
    }
    const std::vector<uint8_t> data = codes.bytes();
    const auto next = [](size_t at) { return at + 1; };
    const Decoded reference = decodeInPieces(c.codeSize, data, next, next);
    for (size_t cut = 0; cut <= data.size(); ++cut) {
      const size_t pixelCut = cut % (reference.pixels.size() + 1);
      const Decoded whole = decodeInPieces(
          c.codeSize, data, [&](size_t at) { return at < cut ? cut : data.size(); },
          [&](size_t at) { return at < pixelCut ? pixelCut : SIZE_MAX; });
      ASSERT_EQ(reference.result, whole.result) << "cut at " << cut;
      ASSERT_EQ(reference.pixels, whole.pixels) << "cut at " << cut;
    }
  }
}

TEST(Gif, SavedHostileInputsEndInAStatus) {
  namespace fs = std::filesystem;
  const fs::path directory = fs::path(SOLSYS_TEST_DATA) / "gif";
  ASSERT_TRUE(fs::is_directory(directory));
  for (const auto& entry : fs::directory_iterator(directory)) {
    SCOPED_TRACE(entry.path().string());
    const Loaded loaded = loadBytes(readFileBytes(entry.path().string()));
    EXPECT_TRUE(loaded.load == PIC_OK || loaded.load == PIC_ERR_READ ||
                loaded.load == PIC_ERR_FORMAT || loaded.load == PIC_ERR_DATA)
        << loaded.load;
  }
}

}  // namespace
