#include "fuzz_load.h"

#include <vector>

namespace {

const size_t maxInput = size_t(1) << 24;
const int64_t maxPixels = int64_t(1) << 22;  // larger pictures are described, not loaded

// A memory file holding a copy of the input, with the memory table installed
// for as long as it lives.
class MemoryInput {
 public:
  MemoryInput(const uint8_t* data, size_t size) : bytes_(data, data + size) {
    picMemoryFileName(name_, sizeof name_, bytes_.data(), int(bytes_.size()));
    picUseMemoryFiles();
  }
  ~MemoryInput() { picUseDiskFiles(); }
  const char* name() const { return name_; }

 private:
  std::vector<uint8_t> bytes_;
  char name_[64];
};

}  // namespace

void fuzzLoadThroughLibrary(const uint8_t* data, size_t size) {
  if (size == 0 || size > maxInput) return;
  MemoryInput input(data, size);
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(input.name(), &width, &height, &mode, &colours) != PIC_OK ||
      int64_t(width) * height > maxPixels)
    return;
  const size_t pixels = size_t(width) * size_t(height);
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  picLoadRGB(input.name(), red.data(), green.data(), blue.data());
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  picLoadMap(input.name(), red.data(), map.data());
}

void fuzzLoadWithDriver(picDriver* driver, const uint8_t* data, size_t size) {
  if (size == 0 || size > maxInput) return;
  MemoryInput input(data, size);
  int status = PIC_ERR_FORMAT;
  picFile* file = driver->openRead(input.name(), &status);
  if (!file) return;
  if (status == PIC_OK && file->width > 0 && file->height > 0 &&
      int64_t(file->width) * file->height <= maxPixels) {
    const size_t plane = size_t(file->width) * size_t(file->height);
    std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(plane), std::vector<uint8_t>(plane),
                                      std::vector<uint8_t>(plane)};
    int32_t map[PIC_MAX_COLOURS];
    const bool mapped = file->colourMode == PIC_MAP;
    const int passes = !mapped && file->planar ? 3 : 1;
    const int lines = data[size - 1] & 1 ? passes * file->height : passes * file->height / 2;
    if (!mapped || driver->readMap(file, map) == PIC_OK) {
      for (int k = 0; k < lines; ++k) {
        if (file->currentLine < 0 || file->currentLine >= file->height) break;
        const size_t row = size_t(file->currentLine) * size_t(file->width);
        int result;
        if (mapped || file->planar)
          result = driver->readLine(file, &planes[k / file->height][row]);
        else
          result = driver->readRGBLine(file, &planes[0][row], &planes[1][row], &planes[2][row]);
        if (result != PIC_OK) break;
      }
    }
  }
  driver->close(file);
}
