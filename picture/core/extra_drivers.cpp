// Registration of the drivers that are not built in: PNM, then PNG at the
// next index. Applications that never call it keep the nine built-in drivers.
#include "picture/core/extra_drivers.h"

#include "picture/core/registry.h"

int picRegisterExtraDrivers(void) {
  static int pnmIndex = -1;
  if (pnmIndex >= 0) return pnmIndex;
  picRegisterBuiltinDrivers();
  // Both or neither: one slot stays free for the null behind the last driver.
  if (picDriverCount() + 2 > PIC_MAX_DRIVERS - 1) return -1;
  pnmIndex = picRegisterDriver(picPnmDriver());
  picRegisterDriver(picPngDriver());
  return pnmIndex;
}
