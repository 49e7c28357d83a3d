// g_alloc: one guarded block for level 1, then the lower levels depth first.
#include <cstdlib>

#include "nrutil/block.h"
#include "nrutil/levels.h"
#include "nrutil/registry.h"
#include "nrutil/report.h"

namespace {
// The layout stores every level's pointers as generic pointers.
void g_check_pointer_widths() {
  static bool firstCall = true;
  if (!firstCall) return;
  firstCall = false;
  const size_t generic = sizeof(void*);
  if (generic != sizeof(char*) || generic != sizeof(int*) || generic != sizeof(double*) ||
      generic != sizeof(void**))
    g_fatal("size mismatch between generic-pointer and other pointers in g_alloc()");
}
}  // namespace

extern "C" void* g_alloc(int tamElem, int kind, ...) {
  g_check_pointer_widths();
  if (!g_kind_valid(kind)) return nullptr;
  va_list bounds;
  va_start(bounds, kind);
  const g_shape shape = g_shape_from_args(kind, tamElem, bounds);
  va_end(bounds);

  size_t bytes = 0;
  void* block = g_block_bytes(shape, &bytes) ? std::calloc(1, bytes) : nullptr;
  if (block != nullptr && !g_registry_add(reinterpret_cast<uintptr_t>(block), {bytes, shape})) {
    std::free(block);
    block = nullptr;
  }
  if (block == nullptr) {
    g_warn(G_HERE, "allocation failure in aloc_array - nElems=%lu  tamElem=%d",
           shape.printedCount(0), shape.entrySize(0));
    return nullptr;
  }
  // Refuse an impossible lower level before making any of them.
  const int invalid = g_first_invalid_level(shape);
  if (invalid > 0)
    g_fail(G_HERE, "allocation failure in aloc_dim%d_array - nElems=%lu  tamElem=%d", invalid + 1,
           shape.printedCount(invalid), shape.entrySize(invalid));
  if (kind > VECTOR)
    g_build_entries(shape, 0, reinterpret_cast<void**>(g_data_of(block)), 0, shape.count(0));

  auto* header = static_cast<g_array_header*>(block);
  header->tamElem = tamElem;
  g_shape_store(shape, header);
  g_write_guards(block, shape);
  return g_offset_start(g_data_of(block), shape.low[0], shape.entrySize(0));
}
