// Feeds arbitrary bytes to the BMP reader through memory files, and to the
// run-length row decoder directly.
#include <cstdint>
#include <vector>

#include "picture/core/picture.h"
#include "picture/formats/bmp_rle.h"

namespace {

const int64_t maxPixels = 1 << 22;  // larger pictures are described, not loaded

void loadThroughTheLibrary(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.empty()) bytes.push_back(0);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(name, &width, &height, &mode, &colours) == PIC_OK && width > 0 && height > 0 &&
      int64_t(width) * height <= maxPixels) {
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
    picLoadRGB(name, red.data(), green.data(), blue.data());
    std::vector<int32_t> map(PIC_MAX_COLOURS);
    picLoadMap(name, red.data(), map.data());
  }
  picUseDiskFiles();
}

void decodeRows(const uint8_t* data, size_t size) {
  if (size < 1) return;
  const int width = 1 + data[0] % 64;
  std::vector<uint8_t> row(static_cast<size_t>(width));
  picBmpRleCursor cursor;
  for (int rows = 0; rows < 64 && picBmpDecodeRle8Row(data + 1, size - 1, &cursor, row.data(), width); ++rows) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loadThroughTheLibrary(data, size);
  decodeRows(data, size);
  return 0;
}
