// Offers arbitrary bytes to the whole driver chain through a memory buffer.
#include "fuzz_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzLoadThroughLibrary(data, size);
  return 0;
}
