// Large buffers on huge pages: see png_buffers.h.
#include "picture/formats/png_buffers.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

const size_t hugePage = size_t(2) << 20;

}  // namespace

void PngFreeBuffer::operator()(uint8_t* bytes) const {
#ifdef MADV_HUGEPAGE
  if (mapped) {
    munmap(bytes, mapped);
    return;
  }
#endif
  std::free(bytes);
}

PngBuffer pngAllocateLarge(size_t size) {
#ifdef MADV_HUGEPAGE
  if (size >= 2 * hugePage) {
    // Mapped with a huge page's room to spare, then trimmed to start on one.
    const size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    void* mapping = mmap(nullptr, rounded + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return PngBuffer();
    auto* start = static_cast<uint8_t*>(mapping);
    const size_t lead = (hugePage - reinterpret_cast<uintptr_t>(start) % hugePage) % hugePage;
    if (lead) munmap(start, lead);
    if (hugePage - lead) munmap(start + lead + rounded, hugePage - lead);
    madvise(start + lead, rounded, MADV_HUGEPAGE);
    return PngBuffer(start + lead, PngFreeBuffer{rounded});
  }
#endif
  return PngBuffer(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
}
