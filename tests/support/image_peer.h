// Test support shared by the format tests: images as planes, an outside peer
// (ImageMagick) to make and check files, temporary files, memory round trips.
#ifndef TESTS_SUPPORT_IMAGE_PEER_H
#define TESTS_SUPPORT_IMAGE_PEER_H

#include <cstdint>
#include <string>
#include <vector>

// A true-colour image as the library exchanges it: three planes, row 0 = bottom.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> red, green, blue;

  RgbImage() = default;
  RgbImage(int w, int h);
  // Sample at column x of row y counted from the TOP line (as pictures are viewed).
  void set(int x, int yFromTop, uint8_t r, uint8_t g, uint8_t b);
  uint32_t at(int x, int yFromTop) const;  // 0x00RRGGBB
  size_t index(int x, int yFromTop) const { return size_t(height - 1 - yFromTop) * width + x; }
};

// A colour-mapped image: indices plane (row 0 = bottom) and its map.
struct MappedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> indices;
  std::vector<int32_t> map;
};

// A deterministic test picture with gradients, edges and noise.
RgbImage makeTestImage(int width, int height, unsigned seed = 1);
// A deterministic colour-mapped picture using `colours` entries.
MappedImage makeTestMapped(int width, int height, int colours, unsigned seed = 1);
RgbImage mappedToRgb(const MappedImage& image);

// A fresh temporary directory for this test program; files named inside it.
std::string tempPath(const std::string& name);

// Writes the bytes to a file of that name in the temporary directory; its path.
std::string writeTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
// True when the program is on the PATH.
bool toolInstalled(const std::string& program);

// Runs a shell command; true when it exits 0. Output goes to the test log.
bool runCommand(const std::string& command);
// The outside peer's executable name.
const char* peerConvert();  // "convert-im6.q16"

// Binary PPM (P6) files, top line first, as every tool understands.
bool writePpm(const std::string& path, const RgbImage& image);
bool readPpm(const std::string& path, RgbImage* image);

// Decodes any file with the peer into planes (via PPM). False when the peer fails.
bool peerDecode(const std::string& path, RgbImage* image);
// Encodes planes with the peer: `convert-im6.q16 <ppm> <options> <outPath>`.
bool peerEncode(const RgbImage& image, const std::string& options, const std::string& outPath);

// Loads with the library: picImageInfo then picLoadRGB. Returns the status.
int libraryLoadRGB(const std::string& path, RgbImage* image);
int libraryLoadMap(const std::string& path, MappedImage* image);

// Saves and loads through memory buffers (picUseMemoryFiles), restoring disk files after.
// Save returns the status; *bytes receives the data written.
int memorySaveRGB(const RgbImage& image, int format, std::vector<uint8_t>* bytes);
int memorySaveMap(const MappedImage& image, int format, std::vector<uint8_t>* bytes);
int memoryLoadRGB(const std::vector<uint8_t>& bytes, RgbImage* image);
int memoryLoadMap(const std::vector<uint8_t>& bytes, MappedImage* image);

// Saves on disk and in memory (the two files must hold the same bytes), loads
// both back and expects the original pixels; failures are reported to the test.
void expectRgbRoundTrip(const RgbImage& image, int format, const std::string& path);

// Every prefix of a file (each length up to `denseUpTo`, every 7th after it)
// must fail to load, from disk and from memory.
void expectTruncationsFail(const std::vector<uint8_t>& bytes, const std::string& path, size_t denseUpTo);

std::vector<uint8_t> readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A load of a damaged file into planes of `source`'s size preset to 0xA5: the
// status, and per plane one character per row from row 0 (the bottom): '+' the
// row as in `source`, '.' untouched, '?' anything else.
struct RowsLoaded {
  int status = 0;
  std::string red, green, blue;
};
RowsLoaded loadRowsOf(const std::string& path, const RgbImage& source);

// Number of samples differing by more than `tolerance`; 0 when equal. Different
// sizes count as width*height*3+1.
size_t countDifferences(const RgbImage& a, const RgbImage& b, int tolerance = 0);

#endif
