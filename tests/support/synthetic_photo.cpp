#include "synthetic_photo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

RgbImage makePhotoLikeImage(int width, int height, unsigned seed) {
  RgbImage image(width, height);
  unsigned state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const double u = double(x) / width, v = double(y) / height, noise = double(state >> 28) - 7.5;
      const double sky = 1 / (1 + std::exp((v - 0.45 - 0.1 * std::sin(6 * u)) * 40));  // soft horizon
      const double r = sky * (90 + 60 * u) + (1 - sky) * (120 + 80 * std::sin(9 * u + 3 * v));
      const double g = sky * (140 + 50 * v) + (1 - sky) * (110 + 60 * std::cos(7 * u * v + 1));
      const double b = sky * (200 + 40 * u) + (1 - sky) * (60 + 40 * std::sin(13 * v));
      const auto sample = [&](double value) { return uint8_t(std::clamp(value + noise, 0.0, 255.0)); };
      image.set(x, y, sample(r), sample(g), sample(b));
    }
  return image;
}

double meanAbsoluteError(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  double sum = 0;
  for (size_t p = 0; p < a.red.size(); ++p)
    sum += std::abs(a.red[p] - b.red[p]) + std::abs(a.green[p] - b.green[p]) + std::abs(a.blue[p] - b.blue[p]);
  return a.red.empty() ? 0 : sum / (3.0 * double(a.red.size()));
}
