// Offers arbitrary bytes to the GIF driver from memory: open, read the map and
// the lines, close. A picture that decodes whole is written again, LZW or
// plain as the last byte says, and must read back with the same indices. Any
// status is fine; a crash, hang, leak or changed picture is not.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "picture/core/driver_support.h"

namespace {

const int64_t maxPixels = 1 << 20;

// Reads the whole picture through the driver; false on any failed status.
bool readAll(const char* name, std::vector<uint8_t>* indices, int* width, int* height) {
  picDriver* driver = picGifDriver();
  int status = PIC_ERR_FORMAT;
  picFile* file = driver->openRead(name, &status);
  if (!file) return false;
  bool whole = false;
  if (status == PIC_OK && int64_t(file->width) * file->height <= maxPixels) {
    std::vector<int32_t> map(PIC_MAX_COLOURS);
    whole = driver->readMap(file, map.data()) == PIC_OK;
    *width = file->width;
    *height = file->height;
    indices->assign(size_t(file->width) * size_t(file->height), 0);
    for (int k = 0; whole && k < file->height; ++k) {
      const int row = file->currentLine;
      if (row < 0 || row >= file->height) std::abort();  // the driver lost its rows
      whole = driver->readLine(file, indices->data() + size_t(row) * size_t(file->width)) == PIC_OK;
    }
  }
  driver->close(file);
  return whole;
}

bool writeAll(const char* name, const std::vector<uint8_t>& indices, int width, int height,
              int compression) {
  picDriver* driver = picGifDriver();
  int status = PIC_ERR_DATA;
  picFile* file =
      driver->openWrite(name, width, height, PIC_MAP, compression, PIC_MAX_COLOURS, &status);
  if (!file) return false;
  std::vector<int32_t> map(PIC_MAX_COLOURS, 0x808080);
  bool ok = driver->writeMap(file, map.data()) == PIC_OK;
  for (int k = 0; ok && k < height; ++k)
    ok = driver->writeLine(file, indices.data() + size_t(file->currentLine) * size_t(width)) ==
         PIC_OK;
  driver->close(file);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  std::vector<uint8_t> indices;
  int width = 0, height = 0;
  if (readAll(name, &indices, &width, &height)) {
    std::vector<uint8_t> written(size_t(width) * size_t(height) * 2 + 4096);
    picMemoryFileName(name, sizeof name, written.data(), int(written.size()));
    const int compression = data[size - 1] & 1 ? PIC_COMP_LZW : PIC_COMP_NONE;
    if (!writeAll(name, indices, width, height, compression)) std::abort();
    std::vector<uint8_t> again;
    int width2 = 0, height2 = 0;
    if (!readAll(name, &again, &width2, &height2) || again != indices) std::abort();
  }
  picUseDiskFiles();
  return 0;
}
