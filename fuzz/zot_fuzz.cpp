// Offers arbitrary bytes to the ZOT driver and to the whole driver chain; a
// ZOT image that loads must come back unchanged after a save to memory.
#include <cstdlib>
#include <vector>

#include "fuzz_load.h"
#include "picture/core/driver_support.h"

namespace {

const int maxRoundTripPixels = 1 << 16;

struct MappedImage {
  int width = 0, height = 0, colours = 0;
  std::vector<uint8_t> indices;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
};

// Loads a colour-mapped image from the memory buffer `bytes`.
int loadFromMemory(std::vector<uint8_t>& bytes, size_t length, MappedImage* image) {
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(length));
  picUseMemoryFiles();
  int mode = 0;
  int status = picImageInfo(name, &image->width, &image->height, &mode, &image->colours);
  if (status == PIC_OK && (mode != PIC_MAP || int64_t(image->width) * image->height > maxRoundTripPixels))
    status = PIC_ERR_DATA;
  if (status == PIC_OK) {
    image->indices.assign(size_t(image->width) * size_t(image->height), 0);
    status = picLoadMap(name, image->indices.data(), image->map.data());
  }
  picUseDiskFiles();
  return status;
}

void checkRoundTrip(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return;
  std::vector<uint8_t> input(data, data + size);
  MappedImage image;
  int format = 0;
  char name[64];
  picMemoryFileName(name, sizeof name, input.data(), int(input.size()));
  picUseMemoryFiles();
  const int named = picFileFormat(name, &format);
  picUseDiskFiles();
  if (named != PIC_OK || (format & 0xff) != PIC_DRIVER_ZOT) return;
  if (loadFromMemory(input, input.size(), &image) != PIC_OK) return;

  // At most four characters a pixel, one more a line, and the header and map.
  std::vector<uint8_t> saved(size_t(image.width + 1) * size_t(image.height) * 4 + 8192);
  picMemoryFileName(name, sizeof name, saved.data(), int(saved.size()));
  picUseMemoryFiles();
  const int status = picSaveMap(image.width, image.height, PIC_DRIVER_ZOT, image.indices.data(),
                                image.colours, image.map.data(), name);
  picUseDiskFiles();
  if (status != PIC_OK) std::abort();
  MappedImage again;
  if (loadFromMemory(saved, size_t(picMemoryFileLength()), &again) != PIC_OK) std::abort();
  if (again.indices != image.indices || again.colours != image.colours) std::abort();
  for (int i = 0; i < image.colours; ++i)
    if (again.map[size_t(i)] != image.map[size_t(i)]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzLoadWithDriver(picZotDriver(), data, size);
  fuzzLoadThroughLibrary(data, size);
  checkRoundTrip(data, size);
  return 0;
}
