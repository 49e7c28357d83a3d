#include "fuzz_load.h"

#include <cstdlib>

#include "fault_injection.h"

MemoryInput::MemoryInput(const uint8_t* data, size_t size, void (*useTable)())
    : bytes_(data, data + size) {
  picMemoryFileName(name_, sizeof name_, bytes_.data(), int(bytes_.size()));
  useTable();
}

MemoryInput::~MemoryInput() { picUseDiskFiles(); }

bool FuzzRead::operator==(const FuzzRead& other) const {
  return status == other.status && width == other.width && height == other.height &&
         colourMode == other.colourMode && colours == other.colours && planes[0] == other.planes[0] &&
         planes[1] == other.planes[1] && planes[2] == other.planes[2] && map == other.map;
}

bool fuzzIsStatus(int status) { return status >= PIC_INTERRUPTED && status <= PIC_ERR_COMPRESSION; }

namespace {

int readLines(picDriver* driver, picFile* file, bool wholeFile, FuzzRead* read) {
  const size_t plane = size_t(file->width) * size_t(file->height);
  for (auto& p : read->planes) p.assign(plane, 0);
  const bool mapped = file->colourMode == PIC_MAP;
  if (mapped) {
    read->map.assign(PIC_MAX_COLOURS, 0);
    FaultWindow window;
    if (!driver->readMap || driver->readMap(file, read->map.data()) != PIC_OK) return PIC_ERR_READ;
  }
  const int passes = !mapped && file->planar ? 3 : 1;
  const int64_t calls = int64_t(passes) * file->height;
  for (int64_t k = 0; k < (wholeFile ? calls : calls / 2); ++k) {
    if (file->currentLine < 0 || file->currentLine >= file->height) return PIC_ERR_READ;
    const size_t row = size_t(file->currentLine) * size_t(file->width);
    FaultWindow window;
    int result;
    if (mapped || file->planar)
      result = driver->readLine ? driver->readLine(file, &read->planes[k / file->height][row]) : PIC_ERR_DATA;
    else
      result = driver->readRGBLine
                   ? driver->readRGBLine(file, &read->planes[0][row], &read->planes[1][row], &read->planes[2][row])
                   : PIC_ERR_DATA;
    if (result != PIC_OK) return PIC_ERR_READ;
  }
  return PIC_OK;
}

}  // namespace

FuzzRead fuzzReadWithDriver(picDriver* driver, const char* name, bool wholeFile) {
  FuzzRead read;
  picFile* file;
  {
    FaultWindow window;
    file = driver->openRead(name, &read.status);
  }
  if (!file) return read;
  read.width = file->width;
  read.height = file->height;
  read.colourMode = file->colourMode;
  read.colours = file->colours;
  if (read.status == PIC_OK && file->width > 0 && file->height > 0 &&
      int64_t(file->width) * file->height <= fuzzMaxPixels)
    read.status = readLines(driver, file, wholeFile, &read);
  FaultWindow window;
  driver->close(file);
  return read;
}

void fuzzLoadThroughLibrary(const char* name) {
  int width = 0, height = 0, mode = 0, colours = 0;
  int status;
  {
    FaultWindow window;
    status = picImageInfo(name, &width, &height, &mode, &colours);
  }
  if (!fuzzIsStatus(status)) std::abort();
  if (status != PIC_OK || int64_t(width) * height > fuzzMaxPixels) return;
  const size_t pixels = size_t(width) * size_t(height);
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  FaultWindow window;
  if (!fuzzIsStatus(picLoadRGB(name, red.data(), green.data(), blue.data())) ||
      !fuzzIsStatus(picLoadMap(name, red.data(), map.data())))
    std::abort();
}

void fuzzLoadThroughLibrary(const uint8_t* data, size_t size) {
  if (size == 0 || size > fuzzMaxInput) return;
  MemoryInput input(data, size);
  fuzzLoadThroughLibrary(input.name());
}

void fuzzLoadWithDriver(picDriver* driver, const uint8_t* data, size_t size) {
  if (size == 0 || size > fuzzMaxInput) return;
  MemoryInput input(data, size);
  fuzzReadWithDriver(driver, input.name(), data[size - 1] & 1);
}
