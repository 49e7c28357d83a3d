// Registration of the drivers that are not built in (PNM, then PNG).
#include "picture/core/picture.h"

int picRegisterExtraDrivers(void) {
  // Filled in as the PNM and PNG drivers land.
  return -1;
}
