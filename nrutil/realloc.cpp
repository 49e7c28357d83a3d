// g_realloc: new bounds for every dimension of a checked array, keeping
// entries by position and moving only what has to move.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "nrutil/check.h"
#include "nrutil/levels.h"
#include "nrutil/registry.h"
#include "nrutil/report.h"

namespace {
void g_refuse_invalid_bounds(const g_shape& after) {
  const int invalid = g_first_invalid_level(after);
  if (invalid == 0)
    g_fail(G_HERE, "allocation failure in realoc_array - nElems=%lu  tamElem=%d",
           after.printedCount(0), after.entrySize(0));
  if (invalid > 0)
    g_fail(G_HERE, "allocation failure in realoc_dim%d_array - nElems=%lu  tamElem=%d", invalid + 1,
           after.printedCount(invalid), after.entrySize(invalid));
}

void* g_resize_block(void* block, const g_shape& after) {
  size_t bytes = 0;
  g_block_bytes(after, &bytes);
  const uintptr_t oldAddress = reinterpret_cast<uintptr_t>(block);
  void* resized = std::realloc(block, bytes);
  if (resized != nullptr && reinterpret_cast<uintptr_t>(resized) != oldAddress)
    g_registry_release(oldAddress);
  if (resized == nullptr || !g_registry_add(reinterpret_cast<uintptr_t>(resized), {bytes, after}))
    g_fail(G_HERE, "allocation failure in realoc_array - nElems=%lu  tamElem=%d",
           after.printedCount(0), after.entrySize(0));
  return resized;
}

void** g_entries_of(void* block) { return reinterpret_cast<void**>(g_data_of(block)); }
}  // namespace

extern "C" void* g_realloc(void* array, int kind, ...) {
  if (!g_kind_valid(kind)) return array;
  va_list bounds;
  va_start(bounds, kind);
  g_shape after = g_shape_from_args(kind, 0, bounds);
  va_end(bounds);

  const g_checked_block checked = g_check_block(array, kind, G_HERE);
  const g_shape& before = checked.shape;
  after.tamElem = before.tamElem;
  g_refuse_invalid_bounds(after);

  void* block = checked.block;
  const bool pointers = kind > VECTOR;
  const int entry = after.entrySize(0);
  const uint64_t oldCount = before.count(0);
  const uint64_t newCount = after.count(0);
  if (newCount != oldCount) {
    if (pointers && newCount < oldCount)
      g_free_entries(before, 0, g_entries_of(block), newCount, oldCount);
    block = g_resize_block(block, after);
    if (newCount > oldCount && pointers)
      g_build_entries(after, 0, g_entries_of(block), oldCount, newCount);
    else if (newCount > oldCount)
      std::memset(g_data_of(block) + oldCount * entry, 0, (newCount - oldCount) * entry);
  }
  if (pointers)
    g_resize_entries(before, after, 0, g_entries_of(block), std::min(oldCount, newCount));

  g_registry_reshape(reinterpret_cast<uintptr_t>(block), after);
  g_shape_store(after, static_cast<g_array_header*>(block));
  g_write_guards(block, after);
  return g_offset_start(g_data_of(block), after.low[0], entry);
}
