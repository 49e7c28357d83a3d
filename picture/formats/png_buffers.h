// The PNG reader's large buffers (the gathered image data, the filtered
// image, an interlaced image assembled): on huge pages where the system
// offers them on request, since a fresh buffer's every 4 KB page otherwise
// costs a page fault as it is first written, a third of a load's time on
// some machines. Their bytes start undefined.
#ifndef PICTURE_FORMATS_PNG_BUFFERS_H
#define PICTURE_FORMATS_PNG_BUFFERS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct PngFreeBuffer {
  void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using PngBuffer = std::unique_ptr<uint8_t[], PngFreeBuffer>;

// A buffer of `size` bytes, or null when memory runs out.
PngBuffer pngAllocateLarge(size_t size);

#endif
