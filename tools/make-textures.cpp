// solsys-make-textures DIRECTORY
//
// Writes the viewer's default textures, Sun.jpg, Earth.jpg and Moon.jpg, into
// DIRECTORY through the picture library's JPEG writer. Each is an
// equirectangular map (longitude across, latitude up, bottom row = south pole)
// with power-of-two sides, painted from seeded noise on the unit sphere, so the
// maps have no seam and come out the same on every run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec3 {
  double x, y, z;
};

Vec3 scaled(const Vec3& v, double s) { return {v.x * s, v.y * s, v.z * s}; }
Vec3 shifted(const Vec3& v, double d) { return {v.x + d, v.y + 0.7 * d, v.z - 1.3 * d}; }

struct Colour {
  double r, g, b;
};

Colour mix(const Colour& a, const Colour& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

double smoothstep(double edge0, double edge1, double v) {
  const double t = clamp01((v - edge0) / (edge1 - edge0));
  return t * t * (3.0 - 2.0 * t);
}

uint32_t hash(int32_t x, int32_t y, int32_t z, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B9u;
  h ^= static_cast<uint32_t>(x) * 0x8DA6B343u;
  h ^= static_cast<uint32_t>(y) * 0xD8163841u;
  h ^= static_cast<uint32_t>(z) * 0xCB1AB31Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

double unitHash(int32_t x, int32_t y, int32_t z, uint32_t seed) { return hash(x, y, z, seed) / 4294967296.0; }

double fade(double t) { return t * t * (3.0 - 2.0 * t); }

// Value noise in [0, 1): random values on the integer lattice, smoothly blended.
double valueNoise(const Vec3& p, uint32_t seed) {
  const double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
  const int32_t x = static_cast<int32_t>(fx), y = static_cast<int32_t>(fy), z = static_cast<int32_t>(fz);
  const double u = fade(p.x - fx), v = fade(p.y - fy), w = fade(p.z - fz);
  double corners[2][2][2];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k) corners[i][j][k] = unitHash(x + i, y + j, z + k, seed);
  auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
  const double x00 = lerp(corners[0][0][0], corners[1][0][0], u), x10 = lerp(corners[0][1][0], corners[1][1][0], u);
  const double x01 = lerp(corners[0][0][1], corners[1][0][1], u), x11 = lerp(corners[0][1][1], corners[1][1][1], u);
  return lerp(lerp(x00, x10, v), lerp(x01, x11, v), w);
}

// Fractal sum of `octaves` noise layers, normalised to [0, 1).
double fbm(const Vec3& p, int octaves, uint32_t seed) {
  double sum = 0.0, amplitude = 1.0, total = 0.0, frequency = 1.0;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * valueNoise(scaled(p, frequency), seed + static_cast<uint32_t>(i));
    total += amplitude;
    amplitude *= 0.5;
    frequency *= 2.03;
  }
  return sum / total;
}

struct Map {
  int width;
  int height;
  std::vector<uint8_t> red, green, blue;  // bottom row first

  Map(int w, int h)
      : width(w), height(h), red(static_cast<size_t>(w) * h), green(red.size()), blue(red.size()) {}

  void set(int column, int row, const Colour& c) {
    const size_t i = static_cast<size_t>(row) * width + column;
    red[i] = static_cast<uint8_t>(std::lround(clamp01(c.r / 255.0) * 255.0));
    green[i] = static_cast<uint8_t>(std::lround(clamp01(c.g / 255.0) * 255.0));
    blue[i] = static_cast<uint8_t>(std::lround(clamp01(c.b / 255.0) * 255.0));
  }
};

// Paints every texel from its point on the unit sphere and its latitude (radians).
template <typename Painter>
Map paint(int width, int height, Painter painter) {
  Map map(width, height);
  for (int row = 0; row < height; ++row) {
    const double latitude = ((row + 0.5) / height - 0.5) * kPi;
    for (int column = 0; column < width; ++column) {
      const double longitude = (column + 0.5) / width * 2.0 * kPi;
      const Vec3 p{std::cos(latitude) * std::cos(longitude), std::cos(latitude) * std::sin(longitude),
                   std::sin(latitude)};
      map.set(column, row, painter(p, latitude));
    }
  }
  return map;
}

Colour sunColour(const Vec3& p, double) {
  const double granules = fbm(scaled(p, 22.0), 3, 11);
  const double cells = std::fabs(valueNoise(scaled(p, 48.0), 12) - 0.5) * 2.0;  // bright cores, dark lanes
  const double largeScale = fbm(scaled(p, 3.0), 4, 13);
  double heat = 0.2 + 0.6 * granules + 0.3 * (1.0 - cells) + 0.4 * (largeScale - 0.5);
  const double spots = smoothstep(0.70, 0.76, fbm(shifted(scaled(p, 2.5), 3.1), 4, 14));
  heat *= 1.0 - 0.55 * spots;
  static const Colour palette[] = {{150, 40, 5}, {225, 95, 15}, {250, 160, 30}, {255, 215, 80}, {255, 245, 170}};
  const double t = clamp01(heat) * 4.0;
  const int i = t >= 4.0 ? 3 : static_cast<int>(t);
  return mix(palette[i], palette[i + 1], t - i);
}

Colour earthColour(const Vec3& p, double latitude) {
  const double absLatitude = std::fabs(latitude) * 180.0 / kPi;
  const double continent = fbm(shifted(scaled(p, 1.7), 5.0), 7, 21);
  const double seaLevel = 0.555;
  Colour ground;
  if (continent < seaLevel) {
    const double depth = smoothstep(seaLevel - 0.12, seaLevel, continent);
    ground = mix(Colour{8, 24, 80}, Colour{30, 95, 150}, depth);
  } else {
    const double height = smoothstep(seaLevel, seaLevel + 0.18, continent);
    const double moisture = fbm(scaled(p, 3.0), 5, 22);
    const double dryness = smoothstep(0.45, 0.6, 1.0 - moisture) * (1.0 - smoothstep(15.0, 40.0, absLatitude));
    Colour land = mix(Colour{45, 105, 40}, Colour{100, 130, 60}, smoothstep(0.3, 0.7, moisture));
    land = mix(land, Colour{205, 175, 115}, dryness);
    land = mix(land, Colour{125, 115, 95}, 0.7 * smoothstep(0.6, 1.0, height));
    land = mix(land, Colour{110, 120, 95}, 0.6 * smoothstep(52.0, 66.0, absLatitude));
    ground = land;
  }
  const double capEdge = 74.0 + 8.0 * (fbm(scaled(p, 4.0), 4, 23) - 0.5);
  ground = mix(ground, Colour{235, 240, 248}, smoothstep(capEdge - 2.0, capEdge + 2.0, absLatitude));
  const double cloud = fbm(shifted(scaled(p, 4.5), 9.0), 6, 24);
  return mix(ground, Colour{250, 250, 252}, 0.85 * smoothstep(0.56, 0.74, cloud));
}

struct Crater {
  Vec3 centre;
  double cosOuter;  // cosine of the angular radius of influence
  double radius;    // angular radius of the rim
};

std::vector<Crater> makeCraters(int count, uint32_t seed) {
  std::vector<Crater> craters;
  for (int i = 0; i < count; ++i) {
    const double z = 2.0 * unitHash(i, 0, 0, seed) - 1.0;
    const double angle = 2.0 * kPi * unitHash(i, 1, 0, seed);
    const double size = unitHash(i, 2, 0, seed);
    const double radius = 0.008 + 0.1 * size * size * size;
    const double ring = std::sqrt(1.0 - z * z);
    craters.push_back({{ring * std::cos(angle), ring * std::sin(angle), z}, std::cos(1.4 * radius), radius});
  }
  return craters;
}

Colour moonColour(const Vec3& p, double, const std::vector<Crater>& craters) {
  double grey = 150.0 + 45.0 * (fbm(scaled(p, 6.0), 5, 31) - 0.5);
  grey -= 45.0 * smoothstep(0.56, 0.64, fbm(shifted(scaled(p, 1.4), 2.0), 5, 32));  // maria
  for (const Crater& crater : craters) {
    const double cosine = p.x * crater.centre.x + p.y * crater.centre.y + p.z * crater.centre.z;
    if (cosine < crater.cosOuter) continue;
    const double d = std::acos(cosine < 1.0 ? cosine : 1.0) / crater.radius;
    if (d < 1.0) grey -= 24.0 * (1.0 - d * d);
    const double rim = (d - 1.0) / 0.12;
    grey += 16.0 * std::exp(-rim * rim);
    if (d > 1.0) grey += 6.0 * (1.4 - d) / 0.4;  // a faint blanket of ejecta
  }
  return {grey, grey, grey * 0.98};
}

int save(const Map& map, const std::string& path) {
  const int status = picSaveRGB(map.width, map.height, PIC_DRIVER_JPEG | PIC_COMP_RLE, map.red.data(),
                                map.green.data(), map.blue.data(), path.c_str());
  if (status != PIC_OK) std::fprintf(stderr, "solsys-make-textures: cannot write %s (status %d)\n", path.c_str(), status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: solsys-make-textures DIRECTORY\n");
    return 2;
  }
  const std::string directory = std::string(argv[1]) + "/";
  const std::vector<Crater> craters = makeCraters(260, 33);
  int failures = 0;
  failures += save(paint(512, 256, sunColour), directory + "Sun.jpg") != PIC_OK;
  failures += save(paint(1024, 512, earthColour), directory + "Earth.jpg") != PIC_OK;
  failures += save(paint(512, 256, [&](const Vec3& p, double lat) { return moonColour(p, lat, craters); }),
                   directory + "Moon.jpg") != PIC_OK;
  return failures == 0 ? 0 : 1;
}
