// The benchmark's picture (diamond-square plasma), the library's saves of it
// and whole-file helpers.
#include "bench_images.h"

#include <algorithm>
#include <cstdio>

#include "picture/core/picture.h"

namespace {

uint32_t nextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

// Diamond-square on a (side + 1)-square grid, values around 0; the roughness
// (amplitude kept per halving) decides how photographic it looks.
std::vector<float> plasma(int side, uint32_t seed, float roughness) {
  const int n = side + 1;
  std::vector<float> h(size_t(n) * n, 0.0f);
  auto at = [&](int x, int y) -> float& { return h[size_t(y) * n + x]; };
  uint32_t state = seed * 2654435761u + 1;
  auto jitter = [&](float amplitude) { return amplitude * (float(nextRandom(&state) >> 8) / 8388608.0f - 1.0f); };
  float amplitude = 1.0f;
  for (int step = side; step > 1; step /= 2, amplitude *= roughness) {
    const int half = step / 2;
    for (int y = half; y < n; y += step)
      for (int x = half; x < n; x += step)
        at(x, y) = (at(x - half, y - half) + at(x + half, y - half) + at(x - half, y + half) +
                    at(x + half, y + half)) / 4 + jitter(amplitude);
    for (int y = 0; y < n; y += half)
      for (int x = (y / half) % 2 ? 0 : half; x < n; x += step) {
        float sum = 0;
        int count = 0;
        if (x >= half) sum += at(x - half, y), ++count;
        if (x + half < n) sum += at(x + half, y), ++count;
        if (y >= half) sum += at(x, y - half), ++count;
        if (y + half < n) sum += at(x, y + half), ++count;
        at(x, y) = sum / float(count) + jitter(amplitude);
      }
  }
  return h;
}

uint8_t clampByte(float value) { return uint8_t(std::clamp(value, 0.0f, 255.0f)); }

}  // namespace

SourcePicture makePlasmaPicture(int side, unsigned seed) {
  SourcePicture p;
  p.side = side;
  const size_t count = p.pixelCount();
  p.red.resize(count), p.green.resize(count), p.blue.resize(count), p.pixels.resize(count * 3);
  p.indices.resize(count), p.topDownIndices.resize(count);
  // Brightness carries most of the detail, two weaker fields the colour; a
  // grain of +-2 levels, as a sensor leaves, keeps runs short.
  const std::vector<float> light = plasma(side, seed, 0.6f), warm = plasma(side, seed + 1, 0.5f),
                           cool = plasma(side, seed + 2, 0.5f);
  uint32_t grain = seed | 1;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const size_t grid = size_t(y) * (side + 1) + x, top = size_t(y) * side + x;
      const size_t bottom = size_t(side - 1 - y) * side + x;
      const float l = 128 + 90 * light[grid], noise = float(nextRandom(&grain) % 5) - 2;
      const uint8_t r = clampByte(l + 60 * warm[grid] + noise), g = clampByte(l + noise),
                    b = clampByte(l + 60 * cool[grid] + noise);
      p.red[bottom] = r, p.green[bottom] = g, p.blue[bottom] = b;
      p.pixels[3 * top] = r, p.pixels[3 * top + 1] = g, p.pixels[3 * top + 2] = b;
      p.indices[bottom] = p.topDownIndices[top] = uint8_t((r & 0xe0) | (g & 0xe0) >> 3 | b >> 6);
    }
  for (int i = 0; i < 256; ++i)
    p.map.push_back(picEncodeColour((i >> 5) * 255 / 7, (i >> 2 & 7) * 255 / 7, (i & 3) * 255 / 3));
  return p;
}

std::string memoryName(Bytes& bytes) {
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  return name;
}

Bytes librarySave(const SourcePicture& p, int format, bool mapped) {
  Bytes buffer(p.pixelCount() * 8 + 65536);  // roomy for PCX's doubled bytes
  picUseMemoryFiles();
  const std::string name = memoryName(buffer);
  const int status = mapped ? picSaveMap(p.side, p.side, format, p.indices.data(), 256, p.map.data(), name.c_str())
                            : picSaveRGB(p.side, p.side, format, p.red.data(), p.green.data(), p.blue.data(),
                                         name.c_str());
  if (status != PIC_OK) return {};
  buffer.resize(size_t(picMemoryFileLength()));
  buffer.shrink_to_fit();
  return buffer;
}

Bytes expectedPixels(const SourcePicture& p, bool mapped) {
  if (!mapped) return p.pixels;
  Bytes pixels(p.pixelCount() * 3);
  for (size_t i = 0; i < p.pixelCount(); ++i) {
    const int32_t colour = p.map[p.topDownIndices[i]];
    pixels[3 * i] = uint8_t(colour >> 16), pixels[3 * i + 1] = uint8_t(colour >> 8), pixels[3 * i + 2] = uint8_t(colour);
  }
  return pixels;
}

bool writeWholeFile(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

Bytes readWholeFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  Bytes bytes;
  uint8_t block[65536];
  for (size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + got);
  std::fclose(file);
  return bytes;
}
