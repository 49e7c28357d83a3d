// Offers arbitrary bytes to the TIFF driver from memory: open, read the map and
// some or all lines, close. Any status is fine; a crash, hang, leak or a word
// from libtiff on the console is not (the replayer shows the last).
#include <cstdint>
#include <vector>

#include "picture/core/driver_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  picDriver* driver = picTiffDriver();
  int status = PIC_ERR_FORMAT;
  picFile* file = driver->openRead(name, &status);
  if (file) {
    if (status == PIC_OK && int64_t(file->width) * file->height <= (1 << 22)) {
      std::vector<uint8_t> red(size_t(file->width)), green(red), blue(red);
      std::vector<int32_t> map(PIC_MAX_COLOURS);
      // The last byte decides whether to stop part-way, to exercise close.
      const int lines = data[size - 1] & 1 ? file->height : file->height / 2;
      if (file->colourMode == PIC_MAP) driver->readMap(file, map.data());
      for (int k = 0; k < lines; ++k) {
        const int read = file->colourMode == PIC_MAP
                             ? driver->readLine(file, red.data())
                             : driver->readRGBLine(file, red.data(), green.data(), blue.data());
        if (read != PIC_OK) break;
      }
    }
    driver->close(file);
  }
  picUseDiskFiles();
  return 0;
}
