// Layout of an array block and the shape (bounds of every level) of one
// array. Internal to the allocator and its tests.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "nrutil/nrutil.h"

struct g_array_header {
  uint32_t reserved;
  int32_t kind;
  int32_t tamElem;
  uint32_t low1, high1, low2, high2, low3, high3, low4, high4;
  uint32_t padding[3];  // keeps the data area aligned like malloc's blocks
  void* headGuard;
};

constexpr size_t G_HEADER_SIZE = sizeof(g_array_header);
constexpr size_t G_GUARD_SIZE = sizeof(void*);
constexpr int G_MAX_LEVELS = 4;

static_assert(G_HEADER_SIZE == 64, "header layout changed");
static_assert(offsetof(g_array_header, headGuard) + sizeof(void*) == G_HEADER_SIZE,
              "headGuard must sit right before the data area");
static_assert(G_HEADER_SIZE % alignof(std::max_align_t) == 0,
              "data area must be aligned for any element type");

inline bool g_kind_valid(int kind) { return kind >= VECTOR && kind <= QUADMATRIX; }

// Bounds of every level of one array; level 0 is the block's data area.
struct g_shape {
  int kind = VECTOR;
  int tamElem = 0;
  uint32_t low[G_MAX_LEVELS] = {};
  uint32_t high[G_MAX_LEVELS] = {};

  int lastLevel() const { return kind; }
  // Counts wrap in 32 bits, so (0, 0xFFFFFFFF) is the empty zero-based range.
  uint32_t count(int level) const { return high[level] - low[level] + 1; }
  // A range is either empty or ascending; (5, 2) is neither.
  bool rangeValid(int level) const { return count(level) == 0 || low[level] <= high[level]; }
  unsigned long printedCount(int level) const { return count(level); }
  // Entry size as messages print it: the element size or a pointer's width.
  int entrySize(int level) const {
    return level == lastLevel() ? tamElem : static_cast<int>(sizeof(void*));
  }
};

// Reads the two bounds per dimension that the kind takes (kind must be valid).
g_shape g_shape_from_args(int kind, int tamElem, va_list bounds);
g_shape g_shape_of(const g_array_header& header);
// Writes kind and every bound of the kind's dimensions.
void g_shape_store(const g_shape& shape, g_array_header* header);

// Byte size of one array of the level, at least 1 so that a zero count is
// never mistaken for a failed allocation; false when the range is inverted
// or the size does not fit.
bool g_level_bytes(const g_shape& shape, int level, size_t* bytes);
// Size of the whole block: header, level-0 entries and tailGuard.
bool g_block_bytes(const g_shape& shape, size_t* bytes);
// The first level whose size cannot be computed, or -1.
int g_first_invalid_level(const g_shape& shape);

// Pointer arithmetic on addresses that may lie outside any object.
inline void* g_offset_start(void* start, uint32_t low, int entrySize) {
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(start) -
                                 uintptr_t{low} * static_cast<uintptr_t>(entrySize));
}
inline void* g_real_start(void* stored, uint32_t low, int entrySize) {
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(stored) +
                                 uintptr_t{low} * static_cast<uintptr_t>(entrySize));
}

inline unsigned char* g_data_of(void* block) {
  return static_cast<unsigned char*>(block) + G_HEADER_SIZE;
}

// Writes both guards with the block's own address.
void g_write_guards(void* block, const g_shape& shape);
