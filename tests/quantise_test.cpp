// picQuantise and picMapIsGrey: exact maps for few colours, bounded error for
// a photograph-like picture, refusals of bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "picture/core/picture.h"
#include "picture/core/quantise.h"
#include "support/image_peer.h"
#include "support/synthetic_photo.h"

namespace {

struct Quantised {
  int status = -99;
  int colours = 0;
  RgbImage image;  // the indices expanded through the map
};

Quantised quantise(const RgbImage& source, int maxColours, int dither) {
  Quantised result;
  std::vector<uint8_t> indices(source.red.size());
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  result.status = picQuantise(source.width, source.height, source.red.data(), source.green.data(),
                              source.blue.data(), maxColours, dither, indices.data(), map.data(), &result.colours);
  result.image = RgbImage(source.width, source.height);
  picMapToRGB(source.width, source.height, indices.data(), result.colours, map.data(), result.image.red.data(),
              result.image.green.data(), result.image.blue.data());
  return result;
}

size_t distinctColours(const RgbImage& image) {
  std::set<uint32_t> colours;
  for (size_t p = 0; p < image.red.size(); ++p)
    colours.insert(uint32_t(image.red[p]) << 16 | image.green[p] << 8 | image.blue[p]);
  return colours.size();
}

TEST(Quantise, ImagesOfFewColoursAreMappedExactly) {
  for (int colours : {1, 2, 17, 200, 256}) {
    const RgbImage source = mappedToRgb(makeTestMapped(61, 37, colours, unsigned(colours)));
    for (int dither : {0, 1}) {
      const Quantised result = quantise(source, PIC_MAX_COLOURS, dither);
      ASSERT_EQ(result.status, PIC_OK);
      EXPECT_EQ(size_t(result.colours), distinctColours(source)) << colours;
      EXPECT_EQ(countDifferences(result.image, source), 0u) << colours << " colours, dither " << dither;
    }
  }
}

TEST(Quantise, PhotographLikeImageStaysClose) {
  const RgbImage photo = makePhotoLikeImage(160, 120);
  ASSERT_GT(distinctColours(photo), 3000u);
  // Mean absolute error per sample (0..255): plain, dithered, and down to 16 colours.
  const struct {
    int maxColours, dither;
    double bound;
  } cases[] = {{256, 0, 4.0}, {256, 1, 6.0}, {16, 0, 12.0}};
  for (const auto& c : cases) {
    const Quantised result = quantise(photo, c.maxColours, c.dither);
    ASSERT_EQ(result.status, PIC_OK);
    EXPECT_LE(result.colours, c.maxColours);
    EXPECT_EQ(distinctColours(result.image), size_t(result.colours));  // each entry used, once
    const double error = meanAbsoluteError(result.image, photo);
    EXPECT_LT(error, c.bound) << c.maxColours << " colours, dither " << c.dither;
    RecordProperty("error" + std::to_string(c.maxColours) + "_" + std::to_string(c.dither), std::to_string(error));
  }
}

TEST(Quantise, BadArgumentsAreRefused) {
  uint8_t plane[4] = {}, indices[4];
  int32_t map[PIC_MAX_COLOURS];
  int colours = -1;
  const struct {
    int width, height, maxColours;
  } cases[] = {{0, 2, 256}, {2, -1, 256}, {2, 2, 0}, {2, 2, 257}, {65536, 65536, 256}};
  for (const auto& c : cases) {
    EXPECT_EQ(picQuantise(c.width, c.height, plane, plane, plane, c.maxColours, 0, indices, map, &colours),
              PIC_ERR_DATA);
    EXPECT_EQ(colours, -1);
  }
}

TEST(Quantise, GreyMapsAreTold) {
  const int32_t grey[] = {0x000000, 0x7f7f7f, 0xffffff};
  const int32_t colour[] = {0x000000, 0x7f7f80};
  EXPECT_EQ(picMapIsGrey(3, grey), 1);
  EXPECT_EQ(picMapIsGrey(0, colour), 1);
  EXPECT_EQ(picMapIsGrey(1, colour), 1);
  EXPECT_EQ(picMapIsGrey(2, colour), 0);
}

}  // namespace

namespace {

// Records the percentages reported; stops once `stopAt` is reached (-1: never).
struct ProgressLog {
  std::vector<int> percents;
  int stopAt = -1;
  static int record(void* context, int percent) {
    auto* log = static_cast<ProgressLog*>(context);
    log->percents.push_back(percent);
    return log->stopAt >= 0 && percent >= log->stopAt;
  }
};

}  // namespace

TEST(Quantise, ProgressRisesToTheEndAndCanStopTheWork) {
  const RgbImage photo = makePhotoLikeImage(300, 200);
  std::vector<uint8_t> indices(photo.red.size());
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  for (int dither : {0, 1}) {
    for (int stopAt : {-1, 0, 50}) {
      ProgressLog log;
      log.stopAt = stopAt;
      int colours = 0;
      const int status = picQuantiseWithProgress(photo.width, photo.height, photo.red.data(), photo.green.data(),
                                                 photo.blue.data(), 256, dither, indices.data(), map.data(), &colours,
                                                 ProgressLog::record, &log);
      ASSERT_FALSE(log.percents.empty());
      EXPECT_TRUE(std::is_sorted(log.percents.begin(), log.percents.end()));
      EXPECT_EQ(status, stopAt < 0 ? PIC_OK : PIC_INTERRUPTED) << "dither " << dither << ", stop at " << stopAt;
      EXPECT_EQ(log.percents.back() == 100, stopAt < 0);
    }
  }
}
