// Bounds, counts and sizes of an array's levels; sizes are computed in
// 64 bits and refused when they do not fit, before anything is allocated.
#include <cstring>
#include <limits>

#include "nrutil/block.h"

g_shape g_shape_from_args(int kind, int tamElem, va_list bounds) {
  g_shape shape;
  shape.kind = kind;
  shape.tamElem = tamElem;
  for (int level = 0; level <= kind; ++level) {
    shape.low[level] = va_arg(bounds, unsigned int);
    shape.high[level] = va_arg(bounds, unsigned int);
  }
  return shape;
}

g_shape g_shape_of(const g_array_header& header) {
  g_shape shape;
  shape.kind = header.kind;
  shape.tamElem = header.tamElem;
  const uint32_t lows[] = {header.low1, header.low2, header.low3, header.low4};
  const uint32_t highs[] = {header.high1, header.high2, header.high3, header.high4};
  for (int level = 0; level < G_MAX_LEVELS; ++level) {
    shape.low[level] = lows[level];
    shape.high[level] = highs[level];
  }
  return shape;
}

void g_shape_store(const g_shape& shape, g_array_header* header) {
  header->kind = shape.kind;
  uint32_t* lows[] = {&header->low1, &header->low2, &header->low3, &header->low4};
  uint32_t* highs[] = {&header->high1, &header->high2, &header->high3, &header->high4};
  for (int level = 0; level <= shape.lastLevel(); ++level) {
    *lows[level] = shape.low[level];
    *highs[level] = shape.high[level];
  }
}

static bool g_entries_bytes(const g_shape& shape, int level, uint64_t* bytes) {
  if (!shape.rangeValid(level) || shape.entrySize(level) < 0) return false;
  const uint64_t count = shape.count(level);
  const uint64_t entry = static_cast<uint64_t>(shape.entrySize(level));
  // Both factors are below 2^32, so the product cannot wrap in 64 bits.
  *bytes = count * entry;
  return *bytes <= std::numeric_limits<size_t>::max() / 2;
}

bool g_level_bytes(const g_shape& shape, int level, size_t* bytes) {
  uint64_t entries = 0;
  if (!g_entries_bytes(shape, level, &entries)) return false;
  *bytes = entries == 0 ? 1 : static_cast<size_t>(entries);
  return true;
}

bool g_block_bytes(const g_shape& shape, size_t* bytes) {
  uint64_t entries = 0;
  if (!g_entries_bytes(shape, 0, &entries)) return false;
  *bytes = G_HEADER_SIZE + static_cast<size_t>(entries) + G_GUARD_SIZE;
  return true;
}

int g_first_invalid_level(const g_shape& shape) {
  size_t bytes = 0;
  if (!g_block_bytes(shape, &bytes)) return 0;
  for (int level = 1; level <= shape.lastLevel(); ++level)
    if (!g_level_bytes(shape, level, &bytes)) return level;
  return -1;
}

void g_write_guards(void* block, const g_shape& shape) {
  auto* header = static_cast<g_array_header*>(block);
  header->headGuard = block;
  const size_t entries =
      static_cast<size_t>(shape.count(0)) * static_cast<size_t>(shape.entrySize(0));
  std::memcpy(g_data_of(block) + entries, &block, G_GUARD_SIZE);
}
