// Texture sizes are computed in 64 bits and refused when a count would not fit
// an int, so no multiplication can wrap and no buffer can come out short.
#include "viewer/texturePlan.h"

#include <climits>
#include <cstddef>
#include <vector>

namespace {

constexpr int64_t kLimit = INT_MAX;

// Smallest power of two p with p + 2 * border >= side, plus 2 * border; -1 if too big.
int64_t textureSide(int64_t side, int64_t border) {
  int64_t texture = 1;
  while (texture + 2 * border < side) {
    texture *= 2;
    if (texture > kLimit) return -1;
  }
  return texture + 2 * border;
}

// Where destination sample i of `count` takes its two source samples and the
// weight (0..256) of the second, so that both edges line up.
struct Tap {
  int first;
  int second;
  int weight;
};

std::vector<Tap> taps(int sourceCount, int count) {
  std::vector<Tap> result(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    double position = (i + 0.5) * sourceCount / count - 0.5;
    if (position < 0.0) position = 0.0;
    int first = static_cast<int>(position);
    if (first > sourceCount - 1) first = sourceCount - 1;
    const int second = first + 1 < sourceCount ? first + 1 : first;
    const int weight = static_cast<int>((position - first) * 256.0 + 0.5);
    result[static_cast<size_t>(i)] = {first, second, weight > 256 ? 256 : weight};
  }
  return result;
}

uint8_t blend(int a, int b, int weight) { return static_cast<uint8_t>((a * (256 - weight) + b * weight + 128) >> 8); }

void interleave(const TexturePlan* plan, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                uint8_t* texels) {
  const size_t pixels = static_cast<size_t>(plan->planeCount);
  for (size_t i = 0; i < pixels; ++i) {
    *texels++ = red[i];
    *texels++ = green[i];
    *texels++ = blue[i];
  }
}

void rescale(const TexturePlan* plan, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
             uint8_t* texels) {
  const int width = plan->imageWidth;
  const std::vector<Tap> columns = taps(width, plan->width);
  const std::vector<Tap> rows = taps(plan->imageHeight, plan->height);
  const uint8_t* planes[3] = {red, green, blue};
  uint8_t* out = texels;
  for (const Tap& row : rows) {
    const size_t lower = static_cast<size_t>(row.first) * static_cast<size_t>(width);
    const size_t upper = static_cast<size_t>(row.second) * static_cast<size_t>(width);
    for (size_t x = 0; x < columns.size(); ++x) {
      const Tap& column = columns[x];
      for (int c = 0; c < 3; ++c) {
        const uint8_t* plane = planes[c];
        const uint8_t bottom = blend(plane[lower + column.first], plane[lower + column.second], column.weight);
        const uint8_t top = blend(plane[upper + column.first], plane[upper + column.second], column.weight);
        *out++ = blend(bottom, top, row.weight);
      }
    }
  }
}

}  // namespace

extern "C" int planTexture(int imageWidth, int imageHeight, int border, TexturePlan* plan) {
  *plan = TexturePlan{};
  if (imageWidth < 0 || imageHeight < 0 || border < 0) return 0;
  const int64_t plane = static_cast<int64_t>(imageWidth) * imageHeight;
  if (plane * 3 > kLimit) return 0;
  const int64_t width = textureSide(imageWidth, border);
  const int64_t height = textureSide(imageHeight, border);
  if (width < 0 || height < 0 || width > kLimit / 3 || height > kLimit / 3) return 0;
  const int64_t texels = height * 3 * width;
  if (texels > kLimit) return 0;
  plan->imageWidth = imageWidth;
  plan->imageHeight = imageHeight;
  plan->width = static_cast<int32_t>(width);
  plan->height = static_cast<int32_t>(height);
  plan->planeCount = static_cast<int32_t>(plane);
  plan->texelCount = static_cast<int32_t>(texels);
  return 1;
}

extern "C" void fillTexels(const TexturePlan* plan, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                           uint8_t* texels) {
  if (plan->planeCount == 0) return;
  if (plan->width == plan->imageWidth && plan->height == plan->imageHeight) {
    interleave(plan, red, green, blue, texels);
  } else {
    rescale(plan, red, green, blue, texels);
  }
}
