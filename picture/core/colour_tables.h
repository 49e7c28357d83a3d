// A colour map split into three byte tables, for turning index lines into planes.
#ifndef PICTURE_CORE_COLOUR_TABLES_H
#define PICTURE_CORE_COLOUR_TABLES_H

#include <cstddef>
#include <cstdint>

#include "picture/core/picture.h"

struct ColourTables {
  uint8_t red[PIC_MAX_COLOURS];
  uint8_t green[PIC_MAX_COLOURS];
  uint8_t blue[PIC_MAX_COLOURS];
};

// Entries at or above `colours` (and above 256) stay black.
void picSplitMap(int colours, const int32_t* map, ColourTables* tables);
void picMapLine(const ColourTables& tables, const uint8_t* indices, size_t count, uint8_t* red,
                uint8_t* green, uint8_t* blue);

#endif
