// Large buffers on huge pages: see png_buffers.h.
#include "picture/formats/png_buffers.h"

#include <sys/mman.h>

namespace {

const size_t hugePage = size_t(2) << 20;

}  // namespace

PngBuffer pngAllocateLarge(size_t size) {
#ifdef MADV_HUGEPAGE
  if (size >= 2 * hugePage) {
    const size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    void* buffer = std::aligned_alloc(hugePage, rounded);
    if (buffer) madvise(buffer, rounded, MADV_HUGEPAGE);
    return PngBuffer(static_cast<uint8_t*>(buffer));
  }
#endif
  return PngBuffer(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
}
