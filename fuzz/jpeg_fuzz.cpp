// Offers arbitrary bytes to the JPEG driver, and to the whole driver chain.
#include "fuzz_load.h"
#include "picture/core/driver_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzLoadWithDriver(picJpegDriver(), data, size);
  fuzzLoadThroughLibrary(data, size);
  return 0;
}
