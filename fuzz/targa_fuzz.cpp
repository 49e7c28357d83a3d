// Loads arbitrary bytes as a Targa image through the memory file table.
#include <cstdint>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1 << 24)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  // The driver itself: every file reaches it, as the last driver tried.
  int status = PIC_ERR_FORMAT;
  picDriver* driver = picTargaDriver();
  picFile* file = driver->openRead(name, &status);
  if (file && status == PIC_OK && int64_t(file->width) * file->height <= (1 << 22)) {
    const size_t plane = size_t(file->width) * size_t(file->height);
    std::vector<uint8_t> red(plane), green(plane), blue(plane);
    int32_t map[PIC_MAX_COLOURS];
    if (file->colourMode == PIC_RGB || driver->readMap(file, map) == PIC_OK) {
      for (int k = 0; k < file->height; ++k) {
        if (file->currentLine < 0 || file->currentLine >= file->height) break;
        const size_t row = size_t(file->currentLine) * size_t(file->width);
        const int result = file->colourMode == PIC_RGB
                               ? driver->readRGBLine(file, &red[row], &green[row], &blue[row])
                               : driver->readLine(file, &red[row]);
        if (result != PIC_OK) break;
      }
    }
  }
  if (file) driver->close(file);
  picUseDiskFiles();
  return 0;
}
