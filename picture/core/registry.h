// The driver table as the library's operations see it.
#ifndef PICTURE_CORE_REGISTRY_H
#define PICTURE_CORE_REGISTRY_H

#include "picture/core/picture.h"

int picDriverCount();
// The driver at a table index, or null when no driver is registered there.
picDriver* picDriverAt(int index);

#endif
