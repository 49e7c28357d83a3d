// Feeds arbitrary bytes to the BMP driver, to the whole driver chain, and to
// the run-length row decoders directly.
#include <cstdint>
#include <vector>

#include "fuzz_load.h"
#include "picture/core/driver_support.h"
#include "picture/formats/bmp_rle.h"

namespace {

// The first byte: the row width in its low six bits, the 4-bit code in its top bit.
void decodeRows(const uint8_t* data, size_t size) {
  if (size < 1) return;
  const int width = 1 + data[0] % 64;
  const auto decodeRow = data[0] & 0x80 ? picBmpDecodeRle4Row : picBmpDecodeRle8Row;
  std::vector<uint8_t> row(static_cast<size_t>(width));
  picBmpRleCursor cursor;
  for (int rows = 0; rows < 64 && decodeRow(data + 1, size - 1, &cursor, row.data(), width); ++rows) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzLoadWithDriver(picBmpDriver(), data, size);
  fuzzLoadThroughLibrary(data, size);
  decodeRows(data, size);
  return 0;
}
