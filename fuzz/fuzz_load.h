// What the fuzz targets share: offering bytes, from a memory buffer, to the
// whole driver chain or to one driver directly (so that drivers tried earlier
// cannot hide it). Any status is fine; a crash, hang or leak is not.
#ifndef FUZZ_FUZZ_LOAD_H
#define FUZZ_FUZZ_LOAD_H

#include <cstddef>
#include <cstdint>

#include "picture/core/picture.h"

// Describes, then loads as planes and as a colour map, as an application would.
void fuzzLoadThroughLibrary(const uint8_t* data, size_t size);

// Opens with the driver, reads the map and the lines into rows the driver
// names, and closes; the last byte decides whether to stop half-way, so that
// closing a partly read file is exercised too.
void fuzzLoadWithDriver(picDriver* driver, const uint8_t* data, size_t size);

#endif
