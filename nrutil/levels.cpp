// Building, releasing and resizing lower-level arrays. Failures end the
// process with the allocator's own location.
#include "nrutil/levels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "nrutil/report.h"

namespace {
// An entry that a caller cleared holds null as its stored pointer; with a
// lower bound above 0 its real start is not null, yet there is no array.
bool g_level_missing(void* stored, void* start) { return stored == nullptr || start == nullptr; }

void* g_build_level(const g_shape& shape, int level) {
  size_t bytes = 0;
  void* start = g_level_bytes(shape, level, &bytes) ? std::calloc(1, bytes) : nullptr;
  if (start == nullptr)
    g_fail(G_HERE, "allocation failure in aloc_dim%d_array - nElems=%lu  tamElem=%d", level + 1,
           shape.printedCount(level), shape.entrySize(level));
  if (level < shape.lastLevel())
    g_build_entries(shape, level, static_cast<void**>(start), 0, shape.count(level));
  return g_offset_start(start, shape.low[level], shape.entrySize(level));
}

void g_free_level(const g_shape& shape, int level, void* stored) {
  void* start = g_real_start(stored, shape.low[level], shape.entrySize(level));
  if (g_level_missing(stored, start)) return;
  if (level < shape.lastLevel())
    g_free_entries(shape, level, static_cast<void**>(start), 0, shape.count(level));
  std::free(start);
}

bool g_levels_unchanged(const g_shape& before, const g_shape& after, int from) {
  for (int level = from; level <= after.lastLevel(); ++level)
    if (before.low[level] != after.low[level] || before.high[level] != after.high[level])
      return false;
  return true;
}

// Returns the new stored pointer of one array of `level` (>= 1).
void* g_resize_level(const g_shape& before, const g_shape& after, int level, void* stored) {
  const int entry = after.entrySize(level);
  const bool pointers = level < after.lastLevel();
  const uint64_t oldCount = before.count(level);
  const uint64_t newCount = after.count(level);
  void* start = g_real_start(stored, before.low[level], entry);
  const bool missing = g_level_missing(stored, start);

  if (newCount == oldCount) {
    // Same count: at most a shift of the index range, no reallocation.
    if (missing && (pointers || before.low[level] != after.low[level]))
      g_fail(G_HERE, "allocation failure in desloc_dim%d_array ", level + 1);
    if (pointers) g_resize_entries(before, after, level, static_cast<void**>(start), newCount);
    return g_offset_start(start, after.low[level], entry);
  }

  size_t bytes = 0;
  const bool sized = !missing && g_level_bytes(after, level, &bytes);
  if (sized && pointers && newCount < oldCount)
    g_free_entries(before, level, static_cast<void**>(start), newCount, oldCount);
  void* resized = sized ? std::realloc(start, bytes) : nullptr;
  if (resized == nullptr)
    g_fail(G_HERE, "allocation failure in realoc_dim%d_array - nElems=%lu  tamElem=%d", level + 1,
           after.printedCount(level), entry);
  if (newCount > oldCount) {
    if (pointers)
      g_build_entries(after, level, static_cast<void**>(resized), oldCount, newCount);
    else
      std::memset(static_cast<unsigned char*>(resized) + oldCount * entry, 0,
                  (newCount - oldCount) * entry);
  }
  if (pointers)
    g_resize_entries(before, after, level, static_cast<void**>(resized),
                     std::min(oldCount, newCount));
  return g_offset_start(resized, after.low[level], entry);
}
}  // namespace

void g_build_entries(const g_shape& shape, int parent, void** entries, uint64_t from, uint64_t to) {
  for (uint64_t index = from; index < to; ++index)
    entries[index] = g_build_level(shape, parent + 1);
}

void g_free_entries(const g_shape& shape, int parent, void** entries, uint64_t from, uint64_t to) {
  for (uint64_t index = from; index < to; ++index) g_free_level(shape, parent + 1, entries[index]);
}

void g_resize_entries(const g_shape& before, const g_shape& after, int parent, void** entries,
                      uint64_t count) {
  if (g_levels_unchanged(before, after, parent + 1)) return;
  for (uint64_t index = 0; index < count; ++index)
    entries[index] = g_resize_level(before, after, parent + 1, entries[index]);
}
