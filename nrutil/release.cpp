// g_free_array: checked release of an array and all its lower levels.
#include <cstdlib>

#include "nrutil/check.h"
#include "nrutil/levels.h"
#include "nrutil/registry.h"

namespace {
// Volatile so that the stores survive the release that follows.
void g_fill_ones(void* place, size_t bytes) {
  auto* byte = static_cast<volatile unsigned char*>(place);
  for (size_t i = 0; i < bytes; ++i) byte[i] = 0xFF;
}
}  // namespace

extern "C" void g_free_array(void* array, int kind, const char* file, int line, const char* date,
                             const char* time) {
  const g_checked_block checked = g_check_block(array, kind, file, line, date, time);
  const g_shape& shape = checked.shape;
  unsigned char* data = g_data_of(checked.block);
  // A header kind outside the known ones (overwritten, and named so by the
  // caller) has no lower levels this release could walk safely.
  if (shape.kind > VECTOR && g_kind_valid(shape.kind))
    g_free_entries(shape, 0, reinterpret_cast<void**>(data), 0, shape.count(0));

  const size_t entries = static_cast<size_t>(shape.count(0)) * shape.entrySize(0);
  g_fill_ones(data + entries, G_GUARD_SIZE);
  g_fill_ones(&static_cast<g_array_header*>(checked.block)->headGuard, G_GUARD_SIZE);
  g_registry_release(reinterpret_cast<uintptr_t>(checked.block));
  std::free(checked.block);
}
