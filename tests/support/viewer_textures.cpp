#include "viewer_textures.h"

#include <cstdlib>
#include <vector>

#include "picture/core/picture.h"

const int kJpegFormat = PIC_DRIVER_JPEG | PIC_COMP_RLE;

const Rgb kSunColour = {200, 40, 160};
const Rgb kEarthColour = {30, 220, 40};
const Rgb kMoonColour = {40, 70, 240};

int writeTexture(const std::string& path, int format, int width, int height, Rgb colour, const Rgb* topColour) {
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const bool top = topColour != nullptr && static_cast<int>(i / width) >= height / 2;  // row 0 = bottom
    const Rgb& c = top ? *topColour : colour;
    red[i] = c.r;
    green[i] = c.g;
    blue[i] = c.b;
  }
  return picSaveRGB(width, height, format, red.data(), green.data(), blue.data(), path.c_str());
}

bool writeUniformTextures(const std::string& directory) {
  return writeTexture(directory + "/Sun.jpg", kJpegFormat, 64, 32, kSunColour) == PIC_OK &&
         writeTexture(directory + "/Earth.jpg", kJpegFormat, 64, 32, kEarthColour) == PIC_OK &&
         writeTexture(directory + "/Moon.jpg", kJpegFormat, 64, 32, kMoonColour) == PIC_OK;
}

std::string builtProgram(const std::string& relativePath, const char* fallback) {
  const char* dir = std::getenv("SOLSYS_BINARY_DIR");
  return std::string(dir && *dir ? dir : fallback) + "/" + relativePath;
}

bool dominates(const Rgb& colour, int dominant, int margin) {
  const int channels[3] = {colour.r, colour.g, colour.b};
  for (int i = 0; i < 3; ++i) {
    if (i != dominant && channels[dominant] < channels[i] + margin) return false;
  }
  return true;
}

bool near(const Rgb& a, const Rgb& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}
