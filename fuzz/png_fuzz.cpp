// Offers arbitrary bytes to the PNG driver, and to the whole driver chain with
// the drivers that are not built in registered.
#include "fuzz_load.h"
#include "picture/core/extra_drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int registered = picRegisterExtraDrivers();
  (void)registered;
  fuzzLoadWithDriver(picPngDriver(), data, size);
  fuzzLoadThroughLibrary(data, size);
  return 0;
}
