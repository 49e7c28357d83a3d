// The drivers that are not built in, registered by picRegisterExtraDrivers.
// Internal to the picture library (and its tests and fuzz targets).
#ifndef PICTURE_CORE_EXTRA_DRIVERS_H
#define PICTURE_CORE_EXTRA_DRIVERS_H

#include "picture/core/picture.h"

extern "C" {
picDriver* picPnmDriver(void);
picDriver* picPngDriver(void);
}

#endif
