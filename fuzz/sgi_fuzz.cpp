// Loads arbitrary bytes as an SGI image through the memory file table.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1 << 24)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  // The driver itself, so that drivers tried before it cannot hide it.
  int status = PIC_ERR_FORMAT;
  picDriver* driver = picSgiDriver();
  picFile* file = driver->openRead(name, &status);
  if (file && status == PIC_OK && int64_t(file->width) * file->height <= (1 << 22)) {
    const size_t plane = size_t(file->width) * size_t(file->height);
    std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(plane), std::vector<uint8_t>(plane),
                                      std::vector<uint8_t>(plane)};
    int32_t map[PIC_MAX_COLOURS];
    driver->readMap(file, map);
    const int passes = file->colourMode == PIC_RGB ? 3 : 1;
    for (int k = 0; k < passes * file->height; ++k) {
      if (file->currentLine < 0 || file->currentLine >= file->height) break;
      uint8_t* row = planes[k / file->height].data() + size_t(file->currentLine) * size_t(file->width);
      if (driver->readLine(file, row) != PIC_OK) break;
    }
  }
  if (file) driver->close(file);
  picUseDiskFiles();
  return 0;
}
