// The integrity check run before an array is released or resized.
#pragma once

#include "nrutil/block.h"

struct g_checked_block {
  void* block;
  g_shape shape;  // as the header records it
};

// Returns only for a live, intact block of the expected kind; any other
// outcome is reported with the given location and ends the process.
g_checked_block g_check_block(void* array, int kind, const char* file, int line, const char* date,
                              const char* time);
