// Loads bytes through the whole driver chain (the drivers that are not built
// in registered too); a picture that loads is saved to memory through every
// writer that accepts it (a colour-mapped one as a map, or as planes when the
// writer takes only those) and loaded back. Every written file must load, be
// recognised as the writer's format, and have the same size; a lossless writer
// must give back the same pixels (SGI the same indices, as grey levels).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_load.h"

namespace {

const int64_t maxRoundTripPixels = int64_t(1) << 16;

struct Picture {
  int width = 0, height = 0, colourMode = 0, colours = 0;
  std::vector<uint8_t> red, green, blue, indices;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
};

bool load(const char* name, Picture* picture) {
  if (picImageInfo(name, &picture->width, &picture->height, &picture->colourMode, &picture->colours) !=
          PIC_OK ||
      int64_t(picture->width) * picture->height > maxRoundTripPixels)
    return false;
  const size_t pixels = size_t(picture->width) * size_t(picture->height);
  for (auto* plane : {&picture->red, &picture->green, &picture->blue, &picture->indices})
    plane->assign(pixels, 0);
  const int planes = picLoadRGB(name, picture->red.data(), picture->green.data(), picture->blue.data());
  if (picture->colourMode != PIC_MAP) return planes == PIC_OK;
  const int indices = picLoadMap(name, picture->indices.data(), picture->map.data());
  if ((planes == PIC_OK) != (indices == PIC_OK)) std::abort();  // the two loads disagree
  return planes == PIC_OK;
}

int save(const Picture& picture, int format, const char* name) {
  int status = PIC_ERR_DATA;
  if (picture.colourMode == PIC_MAP)
    status = picSaveMap(picture.width, picture.height, format, picture.indices.data(), picture.colours,
                        picture.map.data(), name);
  if (status == PIC_ERR_DATA)
    status = picSaveRGB(picture.width, picture.height, format, picture.red.data(), picture.green.data(),
                        picture.blue.data(), name);
  return status;
}

[[noreturn]] void fail(const char* what, int driver) {
  std::fprintf(stderr, "round trip through driver %d: %s\n", driver, what);
  std::abort();
}

bool lossless(int driver) { return driver != PIC_DRIVER_JPEG; }
// SGI files keep a colour-mapped picture as its indices in one grey channel.
bool keepsIndicesAsGrey(int driver, const Picture& picture) {
  return driver == PIC_DRIVER_SGI && picture.colourMode == PIC_MAP;
}

void roundTrip(const Picture& picture, int driver, int compression) {
  std::vector<uint8_t> file(size_t(picture.width) * size_t(picture.height) * 16 + 65536);
  char name[64];
  picMemoryFileName(name, sizeof name, file.data(), int(file.size()));
  int status = save(picture, driver | compression, name);
  if (status == PIC_ERR_COMPRESSION) status = save(picture, driver, name);
  if (status != PIC_OK) return;  // this writer does not take the picture
  picMemoryFileName(name, sizeof name, file.data(), int(picMemoryFileLength()));
  int format = -1;
  Picture back;
  if (picFileFormat(name, &format) != PIC_OK) fail("the written file is not recognised", driver);
  if ((format & 0xff) != driver) fail("the written file is taken by another driver", driver);
  if (!load(name, &back)) fail("the written file does not load", driver);
  if (back.width != picture.width || back.height != picture.height) fail("the size changed", driver);
  if (keepsIndicesAsGrey(driver, picture)) {
    if (back.red != picture.indices || back.green != picture.indices || back.blue != picture.indices)
      fail("the indices changed", driver);
  } else if (lossless(driver) &&
             (back.red != picture.red || back.green != picture.green || back.blue != picture.blue)) {
    fail("the pixels changed", driver);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int drivers = picRegisterExtraDrivers() + PIC_EXTRA_PNG + 1;
  if (size == 0 || size > fuzzMaxInput) return 0;
  MemoryInput input(data, size);
  Picture picture;
  if (!load(input.name(), &picture)) return 0;
  const int compression = data[size - 1] & 1 ? PIC_COMP_RLE : PIC_COMP_NONE;
  for (int driver = 0; driver < drivers; ++driver) roundTrip(picture, driver, compression);
  return 0;
}
