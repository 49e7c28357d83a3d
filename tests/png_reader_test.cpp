// PNG reader against libpng: files libpng writes for every colour type, bit
// depth, interlace and forced filter, and the saved hostile inputs, decoded
// by both; the rows inflated whole and streamed agree, cut streams included.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "picture/core/picture.h"
#include "picture/formats/png_rows.h"
#include "support/format_peers.h"
#include "support/libpng_peer.h"

namespace {

struct Cursor {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

[[noreturn]] void jumpOut(png_structp png, png_const_charp) { longjmp(png_jmpbuf(png), 1); }
void quiet(png_structp, png_const_charp) {}
void takeBytes(png_structp png, png_bytep bytes, size_t n) {
  auto* cursor = static_cast<Cursor*>(png_get_io_ptr(png));
  if (cursor->bytes->size() - cursor->at < n) png_error(png, "file ends");
  std::memcpy(bytes, cursor->bytes->data() + cursor->at, n);
  cursor->at += n;
}

// libpng's decode as the library gives it: 8-bit RGB, 16-bit samples scaled,
// alpha dropped, indices and grey expanded. Plain frame, as above.
bool libpngDecode(const std::vector<uint8_t>* bytes, RgbImage* image) {
  Cursor cursor = {bytes, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOut, quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &cursor, takeBytes);
  png_read_png(png, info,
               PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_SCALE_16 | PNG_TRANSFORM_STRIP_ALPHA | PNG_TRANSFORM_GRAY_TO_RGB,
               nullptr);
  const int width = int(png_get_image_width(png, info)), height = int(png_get_image_height(png, info));
  png_bytepp rows = png_get_rows(png, info);
  *image = RgbImage(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image->set(x, y, rows[y][3 * x], rows[y][3 * x + 1], rows[y][3 * x + 2]);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

int samplesOf(int colourType) {
  return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
}

// A file libpng writes: smooth ramps with noise, so that every filter has
// work, and a palette of 2^depth entries (one fewer at 8 bits).
std::vector<uint8_t> libpngFile(const PngLayout& layout) {
  const size_t rowBytes = (size_t(layout.width) * layout.depth * samplesOf(layout.colourType) + 7) / 8;
  std::vector<uint8_t> samples(rowBytes * size_t(layout.height));
  std::mt19937 random(unsigned(layout.depth * 100 + layout.colourType));
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i % rowBytes * 3 + i / rowBytes * 5 + random() % 9);
  std::vector<png_bytep> rows;
  for (int y = 0; y < layout.height; ++y) rows.push_back(samples.data() + size_t(y) * rowBytes);
  std::vector<png_color> palette;
  if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < (layout.depth == 8 ? 255 : 1 << layout.depth); ++i)
      palette.push_back({uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13)});
    for (uint8_t& sample : samples)
      if (layout.depth == 8 && sample == 255) sample = 254;  // indices within the palette
  }
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(libpngWrite(layout, rows.data(), palette.data(), int(palette.size()), &bytes));
  return bytes;
}

TEST(PngReader, EveryColourTypeDepthInterlaceAndFilterDecodesAsLibpngDoes) {
  extraDriversIndex();
  const std::pair<int, std::vector<int>> depths[] = {
      {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_RGB, {8, 16}},    {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
      {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},    {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
  const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
  for (const auto& type : depths)
    for (const int depth : type.second)
      for (const int interlace : {0, 1})
        for (const int filter : filters) {
          const PngLayout layout = {37, 21, depth, type.first, interlace, filter};
          SCOPED_TRACE("colour type " + std::to_string(type.first) + ", depth " + std::to_string(depth) +
                       ", interlace " + std::to_string(interlace) + ", filter mask " + std::to_string(filter));
          const std::vector<uint8_t> bytes = libpngFile(layout);
          RgbImage byLibpng, ours;
          ASSERT_TRUE(libpngDecode(&bytes, &byLibpng));
          ASSERT_EQ(PIC_OK, memoryLoadRGB(bytes, &ours));
          EXPECT_EQ(0u, countDifferences(byLibpng, ours));
        }
}

TEST(PngReader, SavedInputsGiveLibpngsStatusAndPixels) {
  extraDriversIndex();
  for (const auto& entry : std::filesystem::directory_iterator(std::string(SOLSYS_TEST_DATA) + "/png")) {
    SCOPED_TRACE(entry.path().string());
    const std::vector<uint8_t> bytes = readFileBytes(entry.path().string());
    RgbImage byLibpng, ours;
    const bool libpngDecodes = libpngDecode(&bytes, &byLibpng) && int64_t(byLibpng.width) * byLibpng.height < (1 << 24);
    const int status = libpngDecodes ? memoryLoadRGB(bytes, &ours) : PIC_ERR_READ;
    EXPECT_EQ(libpngDecodes, status == PIC_OK);
    if (libpngDecodes && status == PIC_OK) {
      EXPECT_EQ(0u, countDifferences(byLibpng, ours));
    }
  }
}

// Rows of random filter types and bytes, deflated.
std::vector<uint8_t> deflatedRows(const PngHeader& header, std::vector<uint8_t>* filtered) {
  std::mt19937 random(7);
  filtered->resize(size_t(pngFilteredBytes(header)));
  for (uint8_t& byte : *filtered) byte = uint8_t(random());
  PngPass passes[7];
  size_t at = 0;
  for (int p = 0, count = pngPasses(header, passes); p < count; ++p)
    for (uint32_t y = 0; passes[p].width > 0 && y < passes[p].rows; ++y, at += passes[p].rowBytes + 1)
      (*filtered)[at] = uint8_t(random() % 5);
  uLongf size = compressBound(uLong(filtered->size()));
  std::vector<uint8_t> deflated(size);
  compress(deflated.data(), &size, filtered->data(), uLong(filtered->size()));
  deflated.resize(size);
  return deflated;
}

// The rows PngRows gives, concatenated, and the status after them.
std::vector<uint8_t> rowsOf(const PngHeader& header, const std::vector<uint8_t>& data, uint64_t wholeCap,
                            int* status) {
  PngRows rows;
  EXPECT_TRUE(rows.start(header, data.data(), data.size(), nullptr, wholeCap));
  PngPass passes[7];
  std::vector<uint8_t> given;
  for (int p = 0, count = pngPasses(header, passes); p < count; ++p)
    for (uint32_t y = 0; passes[p].width > 0 && y < passes[p].rows; ++y) {
      int pass = 0;
      uint32_t rowInPass = 0;
      const uint8_t* row = rows.next(&pass, &rowInPass);
      *status = PIC_ERR_READ;
      if (!row) return given;
      EXPECT_EQ(p, pass);
      EXPECT_EQ(y, rowInPass);
      given.insert(given.end(), row, row + passes[p].rowBytes);
    }
  *status = rows.finish();
  return given;
}

TEST(PngReader, RowsInflatedWholeAndStreamedAgreeCutOrNot) {
  for (const int interlace : {0, 1}) {
    SCOPED_TRACE(interlace);
    const PngHeader header = {45, 31, 8, 2, 0, 0, interlace};
    std::vector<uint8_t> filtered;
    const std::vector<uint8_t> data = deflatedRows(header, &filtered);
    std::vector<uint8_t> badAdler = data;
    badAdler.back() ^= 1;
    struct Case {
      const char* name;
      std::vector<uint8_t> data;
      int status;
      const char* reason;
    };
    const Case cases[] = {
        {"whole", data, PIC_OK, nullptr},
        {"cut in half", std::vector<uint8_t>(data.begin(), data.begin() + long(data.size() / 2)), PIC_ERR_READ,
         "image data cut or damaged"},
        {"Adler-32 wrong", badAdler, PIC_ERR_READ, "bad Adler-32"},
        {"zlib header wrong", std::vector<uint8_t>{0x79, 0x9c, 0, 0}, PIC_ERR_READ, "bad zlib header"},
    };
    std::vector<uint8_t> reference;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      int wholeStatus = -1, streamedStatus = -1;
      picClearReason();
      const std::vector<uint8_t> whole = rowsOf(header, c.data, pngWholeImageCap, &wholeStatus);
      EXPECT_STREQ(c.reason, picLastReason());
      picClearReason();
      const std::vector<uint8_t> streamed = rowsOf(header, c.data, 0, &streamedStatus);
      EXPECT_STREQ(c.reason, picLastReason());
      EXPECT_EQ(c.status, wholeStatus);
      EXPECT_EQ(c.status, streamedStatus);
      EXPECT_EQ(whole, streamed);
      if (reference.empty()) reference = whole;
      // Every row given is the complete one; a cut stream gives some.
      EXPECT_TRUE(std::equal(whole.begin(), whole.end(), reference.begin()));
      if (c.data.size() > 4) {
        EXPECT_GT(whole.size(), reference.size() / 3);
      }
    }
  }
}

}  // namespace
