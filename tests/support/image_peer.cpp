#include "image_peer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "picture/core/picture.h"

RgbImage::RgbImage(int w, int h)
    : width(w), height(h), red(size_t(w) * h), green(size_t(w) * h), blue(size_t(w) * h) {}

void RgbImage::set(int x, int yFromTop, uint8_t r, uint8_t g, uint8_t b) {
  const size_t i = index(x, yFromTop);
  red[i] = r;
  green[i] = g;
  blue[i] = b;
}

uint32_t RgbImage::at(int x, int yFromTop) const {
  const size_t i = index(x, yFromTop);
  return uint32_t(red[i]) << 16 | uint32_t(green[i]) << 8 | blue[i];
}

namespace {
unsigned nextRandom(unsigned& state) {
  state = state * 1103515245u + 12345u;
  return state >> 16;
}
}  // namespace

RgbImage makeTestImage(int width, int height, unsigned seed) {
  RgbImage image(width, height);
  unsigned state = seed;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned noise = nextRandom(state);
      image.set(x, y, uint8_t(x * 255 / (width > 1 ? width - 1 : 1)),
                uint8_t(y * 255 / (height > 1 ? height - 1 : 1)),
                uint8_t(((x / 4 + y / 4) % 2) ? 200 + noise % 56 : noise % 60));
    }
  return image;
}

MappedImage makeTestMapped(int width, int height, int colours, unsigned seed) {
  MappedImage image;
  image.width = width;
  image.height = height;
  unsigned state = seed;
  for (int i = 0; i < colours; ++i)
    image.map.push_back(int32_t(nextRandom(state) << 8 ^ nextRandom(state)) & 0xffffff);
  image.indices.resize(size_t(width) * height);
  for (size_t p = 0; p < image.indices.size(); ++p)
    image.indices[p] = uint8_t(colours > 0 ? (p + nextRandom(state) % 3) % unsigned(colours) : 0);
  return image;
}

RgbImage mappedToRgb(const MappedImage& image) {
  RgbImage rgb(image.width, image.height);
  picMapToRGB(image.width, image.height, image.indices.data(), int(image.map.size()),
              image.map.data(), rgb.red.data(), rgb.green.data(), rgb.blue.data());
  return rgb;
}

namespace {

// The test program's temporary directory, removed when the program that made
// it ends (never by a forked child).
struct TemporaryDirectory {
  std::string path;
  pid_t owner = 0;
  TemporaryDirectory() {
    char pattern[] = "/tmp/solsys-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made) {
      path = made;
      owner = getpid();
    }
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path.empty() && getpid() == owner) std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

std::string tempPath(const std::string& name) {
  static TemporaryDirectory dir;
  return (dir.path.empty() ? std::string("/tmp") : dir.path) + "/" + name;
}

bool runCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

bool toolInstalled(const std::string& program) {
  return runCommand("command -v '" + program + "' >/dev/null");
}

std::string writeTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = tempPath(name);
  EXPECT_TRUE(writeFileBytes(path, bytes));
  return path;
}

const char* peerConvert() { return "convert-im6.q16"; }

bool writePpm(const std::string& path, const RgbImage& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << image.width << " " << image.height << "\n255\n";
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const size_t i = image.index(x, y);
      const char rgb[3] = {char(image.red[i]), char(image.green[i]), char(image.blue[i])};
      out.write(rgb, 3);
    }
  return bool(out);
}

// Skips blanks and "#" comment lines between the fields of a PPM header.
static void skipPpmSpace(std::istream& in) {
  for (int c = in.peek(); c != EOF; c = in.peek()) {
    if (c == '#')
      in.ignore(1 << 20, '\n');
    else if (std::isspace(c))
      in.get();
    else
      break;
  }
}

bool readPpm(const std::string& path, RgbImage* image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxValue = 0;
  in >> magic;
  skipPpmSpace(in);
  in >> width;
  skipPpmSpace(in);
  in >> height;
  skipPpmSpace(in);
  in >> maxValue;
  in.get();
  if (!in || magic != "P6" || width <= 0 || height <= 0 || maxValue != 255) return false;
  *image = RgbImage(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      char rgb[3];
      if (!in.read(rgb, 3)) return false;
      image->set(x, y, uint8_t(rgb[0]), uint8_t(rgb[1]), uint8_t(rgb[2]));
    }
  return true;
}

bool peerDecode(const std::string& path, RgbImage* image) {
  const std::string ppm = path + ".peer.ppm";
  if (!runCommand(std::string(peerConvert()) + " '" + path + "[0]' -depth 8 -type TrueColor 'ppm:" +
                  ppm + "'"))
    return false;
  return readPpm(ppm, image);
}

bool peerEncode(const RgbImage& image, const std::string& options, const std::string& outPath) {
  const std::string ppm = outPath + ".source.ppm";
  if (!writePpm(ppm, image)) return false;
  return runCommand(std::string(peerConvert()) + " '" + ppm + "' " + options + " '" + outPath + "'");
}

int libraryLoadRGB(const std::string& path, RgbImage* image) {
  int width = 0, height = 0, mode = 0, colours = 0;
  int status = picImageInfo(path.c_str(), &width, &height, &mode, &colours);
  if (status != PIC_OK) return status;
  *image = RgbImage(width, height);
  return picLoadRGB(path.c_str(), image->red.data(), image->green.data(), image->blue.data());
}

RowsLoaded loadRowsOf(const std::string& path, const RgbImage& source) {
  RgbImage image(source.width, source.height);
  const uint8_t untouched = 0xA5;  // a level no row of makeTestImage's holds throughout
  for (auto* plane : {&image.red, &image.green, &image.blue}) plane->assign(plane->size(), untouched);
  RowsLoaded result;
  result.status = picLoadRGB(path.c_str(), image.red.data(), image.green.data(), image.blue.data());
  const auto describe = [&](const std::vector<uint8_t>& loaded, const std::vector<uint8_t>& wanted) {
    std::string rows;
    const size_t width = size_t(source.width);
    for (size_t at = 0; at < loaded.size(); at += width) {
      const auto row = loaded.begin() + long(at);
      if (std::all_of(row, row + long(width), [&](uint8_t v) { return v == untouched; }))
        rows += '.';
      else
        rows += std::equal(row, row + long(width), wanted.begin() + long(at)) ? '+' : '?';
    }
    return rows;
  };
  result.red = describe(image.red, source.red);
  result.green = describe(image.green, source.green);
  result.blue = describe(image.blue, source.blue);
  return result;
}

int libraryLoadMap(const std::string& path, MappedImage* image) {
  int width = 0, height = 0, mode = 0, colours = 0;
  int status = picImageInfo(path.c_str(), &width, &height, &mode, &colours);
  if (status != PIC_OK) return status;
  image->width = width;
  image->height = height;
  image->indices.assign(size_t(width) * height, 0);
  image->map.assign(PIC_MAX_COLOURS, 0);
  status = picLoadMap(path.c_str(), image->indices.data(), image->map.data());
  image->map.resize(size_t(colours > 0 && colours <= PIC_MAX_COLOURS ? colours : 0));
  return status;
}

namespace {

// A memory buffer named the way the memory file table expects.
struct MemoryBuffer {
  std::vector<uint8_t> bytes;
  std::string name;
  explicit MemoryBuffer(std::vector<uint8_t> data) : bytes(std::move(data)) {
    if (bytes.empty()) bytes.push_back(0);
    char text[64];
    picMemoryFileName(text, sizeof text, bytes.data(), int(bytes.size()));
    name = text;
  }
};

// Room for any test image: a generous multiple of its raw size.
size_t capacityFor(int width, int height) { return size_t(width) * height * 8 + 64 * 1024; }

template <typename Save>
int saveToMemory(int width, int height, std::vector<uint8_t>* bytes, Save save) {
  MemoryBuffer buffer(std::vector<uint8_t>(capacityFor(width, height)));
  picUseMemoryFiles();
  const int status = save(buffer.name.c_str());
  picUseDiskFiles();
  bytes->clear();
  if (status == PIC_OK)
    bytes->assign(buffer.bytes.begin(), buffer.bytes.begin() + picMemoryFileLength());
  return status;
}

}  // namespace

int memorySaveRGB(const RgbImage& image, int format, std::vector<uint8_t>* bytes) {
  return saveToMemory(image.width, image.height, bytes, [&](const char* name) {
    return picSaveRGB(image.width, image.height, format, image.red.data(), image.green.data(),
                      image.blue.data(), name);
  });
}

int memorySaveMap(const MappedImage& image, int format, std::vector<uint8_t>* bytes) {
  return saveToMemory(image.width, image.height, bytes, [&](const char* name) {
    return picSaveMap(image.width, image.height, format, image.indices.data(),
                      int(image.map.size()), image.map.data(), name);
  });
}

int memoryLoadRGB(const std::vector<uint8_t>& bytes, RgbImage* image) {
  MemoryBuffer buffer(bytes);
  picUseMemoryFiles();
  const int status = libraryLoadRGB(buffer.name, image);
  picUseDiskFiles();
  return status;
}

int memoryLoadMap(const std::vector<uint8_t>& bytes, MappedImage* image) {
  MemoryBuffer buffer(bytes);
  picUseMemoryFiles();
  const int status = libraryLoadMap(buffer.name, image);
  picUseDiskFiles();
  return status;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  return bool(out);
}

size_t countDifferences(const RgbImage& a, const RgbImage& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) return size_t(a.width) * a.height * 3 + 1;
  size_t differences = 0;
  const std::vector<uint8_t>* planesA[3] = {&a.red, &a.green, &a.blue};
  const std::vector<uint8_t>* planesB[3] = {&b.red, &b.green, &b.blue};
  for (int c = 0; c < 3; ++c)
    for (size_t i = 0; i < planesA[c]->size(); ++i)
      if (std::abs(int((*planesA[c])[i]) - int((*planesB[c])[i])) > tolerance) ++differences;
  return differences;
}

void expectRgbRoundTrip(const RgbImage& image, int format, const std::string& path) {
  ASSERT_EQ(PIC_OK, picSaveRGB(image.width, image.height, format, image.red.data(), image.green.data(),
                               image.blue.data(), path.c_str()));
  std::vector<uint8_t> memoryBytes;
  ASSERT_EQ(PIC_OK, memorySaveRGB(image, format, &memoryBytes));
  EXPECT_EQ(readFileBytes(path), memoryBytes);
  RgbImage fromDisk, fromMemory;
  ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &fromDisk));
  ASSERT_EQ(PIC_OK, memoryLoadRGB(memoryBytes, &fromMemory));
  EXPECT_EQ(0u, countDifferences(image, fromDisk));
  EXPECT_EQ(0u, countDifferences(image, fromMemory));
}

void expectTruncationsFail(const std::vector<uint8_t>& bytes, const std::string& path, size_t denseUpTo) {
  for (size_t length = 0; length < bytes.size(); length += length < denseUpTo ? 1 : 7) {
    SCOPED_TRACE("length " + std::to_string(length) + " of " + std::to_string(bytes.size()));
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(length));
    ASSERT_TRUE(writeFileBytes(path, cut));
    RgbImage fromDisk, fromMemory;
    EXPECT_NE(PIC_OK, libraryLoadRGB(path, &fromDisk));
    if (length > 0) {
      EXPECT_NE(PIC_OK, memoryLoadRGB(cut, &fromMemory));
    }
  }
}
