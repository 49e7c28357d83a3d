// A PNG image's rows, inflated from its image data and unfiltered one at a
// time in the file's order (for Adam7, pass after pass). Up to a cap, the
// whole filtered image is inflated in one call by libdeflate; when that call
// fails (the data cut or damaged, or its Adler-32 wrong), zlib's streaming
// inflate decodes what it can, so the complete rows are still given. Above
// the cap, zlib inflates a row at a time into two rows' buffers.
#ifndef PICTURE_FORMATS_PNG_ROWS_H
#define PICTURE_FORMATS_PNG_ROWS_H

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "picture/formats/png_buffers.h"
#include "picture/formats/png_chunks.h"

// The filtered image inflated whole up to this size.
const uint64_t pngWholeImageCap = uint64_t(256) << 20;

// One pass of the image (the image itself when it is not interlaced).
struct PngPass {
  uint32_t width, rows;
  int xStart, yStart, xStep, yStep;
  size_t rowBytes;  // without the filter byte
};

// The passes of a header: 1, or Adam7's 7 (some of them empty).
int pngPasses(const PngHeader& header, PngPass passes[7]);
// Bytes of the filtered image: each row of each pass with its filter byte.
uint64_t pngFilteredBytes(const PngHeader& header);

class PngRows {
 public:
  PngRows() = default;
  PngRows(const PngRows&) = delete;
  PngRows& operator=(const PngRows&) = delete;
  ~PngRows();

  // Sets up the rows of `header` from the deflate stream `data` (held by the
  // caller until the rows end); `damage` is the file's (see PngImageData), or
  // null. False when memory runs out.
  bool start(const PngHeader& header, const uint8_t* data, size_t size, const char* damage,
             uint64_t wholeCap = pngWholeImageCap);
  // The next row, unfiltered, its pass and its place in the pass; null (the
  // reason recorded by picRefuse) when the data ends or is damaged first.
  const uint8_t* next(int* pass, uint32_t* rowInPass);
  // After the last row: PIC_OK, or PIC_ERR_READ when the stream or the file
  // was damaged past it (the reason recorded).
  int finish();

 private:
  bool inflateWhole();
  bool inflateRow(uint8_t* row, size_t bytes);
  const char* settle();
  void feedInput();
  const char* streamFailure(int zlibResult) const;
  const uint8_t* refuse(const char* reason);

  PngPass passes_[7] = {};
  int passCount_ = 0, pass_ = 0;
  uint32_t rowInPass_ = 0;
  int pixelBytes_ = 1;
  const uint8_t* data_ = nullptr;
  size_t dataSize_ = 0, dataUsed_ = 0;
  const char* damage_ = nullptr;
  const char* streamReason_ = nullptr;  // why the stream ended early or unsound
  bool whole_ = false, failed_ = false;
  // Whole: the filtered image and how much of it the stream filled.
  PngBuffer image_;
  size_t imageBytes_ = 0, imageFilled_ = 0, offset_ = 0;
  const uint8_t* prior_ = nullptr;
  // Streaming: zlib's state and two rows, the current and the one above.
  z_stream zlib_ = {};
  bool zlibOpen_ = false, streamEnded_ = false;
  std::unique_ptr<uint8_t[]> slots_[2];
  int slot_ = 0;
  std::unique_ptr<uint8_t[]> zeros_;  // the row above a pass's first
};

#endif
