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
#include "fuzz_picture.h"

namespace {

const int64_t maxRoundTripPixels = int64_t(1) << 16;

[[noreturn]] void fail(const char* what, int driver) {
  std::fprintf(stderr, "round trip through driver %d: %s\n", driver, what);
  std::abort();
}

bool lossless(int driver) { return driver != PIC_DRIVER_JPEG; }
// SGI files keep a colour-mapped picture as its indices in one grey channel.
bool keepsIndicesAsGrey(int driver, const FuzzPicture& picture) {
  return driver == PIC_DRIVER_SGI && picture.colourMode == PIC_MAP;
}

void roundTrip(const FuzzPicture& picture, int driver, int compression) {
  std::vector<uint8_t> file(size_t(picture.width) * size_t(picture.height) * 16 + 65536);
  char name[64];
  picMemoryFileName(name, sizeof name, file.data(), int(file.size()));
  int status = fuzzSavePicture(picture, driver | compression, name);
  if (status == PIC_ERR_COMPRESSION) status = fuzzSavePicture(picture, driver, name);
  if (status != PIC_OK) return;  // this writer does not take the picture
  picMemoryFileName(name, sizeof name, file.data(), int(picMemoryFileLength()));
  int format = -1;
  FuzzPicture back;
  if (picFileFormat(name, &format) != PIC_OK) fail("the written file is not recognised", driver);
  if ((format & 0xff) != driver) fail("the written file is taken by another driver", driver);
  if (!fuzzLoadPicture(name, maxRoundTripPixels, &back)) fail("the written file does not load", driver);
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
  FuzzPicture picture;
  if (!fuzzLoadPicture(input.name(), maxRoundTripPixels, &picture)) return 0;
  const int compression = data[size - 1] & 1 ? PIC_COMP_RLE : PIC_COMP_NONE;
  for (int driver = 0; driver < drivers; ++driver) roundTrip(picture, driver, compression);
  return 0;
}
