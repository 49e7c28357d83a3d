// Loads arbitrary bytes as a Sun raster file from memory: describe, then load as RGB
// and as indices. Any status is fine; a crash, hang or leak is not.
#include <cstdint>
#include <vector>

#include "picture/core/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1 << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(name, &width, &height, &mode, &colours) == PIC_OK &&
      int64_t(width) * height <= (1 << 22)) {
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
    std::vector<int32_t> map(PIC_MAX_COLOURS);
    picLoadRGB(name, red.data(), green.data(), blue.data());
    if (mode == PIC_MAP) picLoadMap(name, red.data(), map.data());
  }
  picUseDiskFiles();
  return 0;
}
