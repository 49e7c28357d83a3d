// A program whose own global constructor uses the picture library, before any
// initialiser of the library could have run (this file is linked first, and
// its initialisers run first): the file table and the driver table must
// already be valid. Exit status 0 when the save and the load worked.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "picture/core/picture.h"

namespace {

int progressCalls = 0;
int countProgress(const char*, int, int) {
  ++progressCalls;
  return 0;
}

struct SavesAndLoadsBeforeMain {
  int status = -1;
  SavesAndLoadsBeforeMain() {
    picSetProgressCallback(countProgress);
    const uint8_t red[4] = {255, 0, 0, 10}, green[4] = {0, 255, 0, 20}, blue[4] = {0, 0, 255, 30};
    status = picSaveRGB(2, 2, PIC_DRIVER_BMP, red, green, blue, SOLSYS_STARTUP_FILE);
    uint8_t r[4] = {}, g[4] = {}, b[4] = {};
    if (status == PIC_OK) status = picLoadRGB(SOLSYS_STARTUP_FILE, r, g, b);
    if (status == PIC_OK && (std::memcmp(r, red, 4) || std::memcmp(g, green, 4) || std::memcmp(b, blue, 4)))
      status = PIC_ERR_DATA;
    if (status == PIC_OK && progressCalls != 2 * 4) status = PIC_ERR_DATA;  // 0, two lines, 100; twice
    picSetProgressCallback(nullptr);
  }
};

SavesAndLoadsBeforeMain early;

}  // namespace

int main() {
  std::remove(SOLSYS_STARTUP_FILE);
  if (early.status != PIC_OK) std::fprintf(stderr, "save and load before main: %s\n", picStatusText(early.status));
  return early.status == PIC_OK ? EXIT_SUCCESS : EXIT_FAILURE;
}
