// The PNG driver's large buffers: the reader's (the gathered image data, the
// filtered image, an interlaced image assembled) and the writer's (the
// filtered rows, their deflated bytes). A buffer of several megabytes is
// mapped afresh on huge pages where the system offers them on request: a
// fresh buffer's every 4 KB page otherwise costs a page fault as it is first
// written, which on some machines is most of a load's time, and a mapping of
// its own keeps that cost from depending on what the heap last held. Their
// bytes start undefined.
#ifndef PICTURE_FORMATS_PNG_BUFFERS_H
#define PICTURE_FORMATS_PNG_BUFFERS_H

#include <cstddef>
#include <cstdint>
#include <memory>

struct PngFreeBuffer {
  size_t mapped = 0;  // the mapping's length, 0 for a buffer from malloc
  void operator()(uint8_t* bytes) const;
};
using PngBuffer = std::unique_ptr<uint8_t[], PngFreeBuffer>;

// A buffer of `size` bytes, or null when memory runs out.
PngBuffer pngAllocateLarge(size_t size);

#endif
