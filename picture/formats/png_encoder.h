// The PNG writer's encoder, on memory and a byte sink: 8-bit RGB or 8-bit
// palette images, rows filtered as libpng's default writer filters them, one
// zlib stream cut into IDAT chunks (see png_encoder.cpp for how and the memory
// it takes).
#ifndef PICTURE_FORMATS_PNG_ENCODER_H
#define PICTURE_FORMATS_PNG_ENCODER_H

#include <cstddef>
#include <cstdint>

#include "picture/formats/png_buffers.h"

// libdeflate's level for deflated files: its level 6 gives files no larger
// than zlib's level 6 (libpng's) on photographs, at about four times the speed.
const int pngDefaultLevel = 6;
// Level 0 stores: the rows go unfiltered into stored deflate blocks.
const int pngStoredLevel = 0;
// Filtered image data up to this size is deflated in one call by libdeflate;
// beyond it, zlib takes it a band at a time.
const size_t pngWholeImageLimit = size_t(128) << 20;
const size_t pngIdatBytes = size_t(1) << 20;  // the largest IDAT chunk written

struct PngEncoderSettings {
  int width, height;  // positive; width * 3 fits an int
  bool palette;       // 8-bit indices with a PLTE chunk, else 8-bit RGB
  int level;          // libdeflate's, 0 to 12
  bool withResolution;  // a pHYs chunk in pixels per metre
  uint32_t xPixelsPerMetre, yPixelsPerMetre;
  size_t wholeImageLimit;  // pngWholeImageLimit, or less to test streaming
};

// Takes the file's bytes in order; false when they could not be written.
using PngSink = bool (*)(void* target, const uint8_t* bytes, size_t length);

class PngEncoder {
 public:
  // Null when memory runs out.
  static PngEncoder* create(const PngEncoderSettings& settings, PngSink sink, void* target);
  ~PngEncoder();
  PngEncoder(const PngEncoder&) = delete;
  PngEncoder& operator=(const PngEncoder&) = delete;

  // Writes the signature and the chunks before the image data; a palette
  // file's palette is `colours` red, green, blue triples.
  bool start(const uint8_t* palette, int colours);
  // Takes the next row (width indices or width RGB pixels) from the top;
  // after the last, writes the image data and the end chunk. False when a
  // write failed, memory ran out, or the call came out of turn.
  bool addRow(const uint8_t* row);
  bool complete() const { return rowsAdded_ == settings_.height && !failed_; }

 private:
  PngEncoder(const PngEncoderSettings& settings, PngSink sink, void* target);
  bool allocate();
  bool allocateStreaming();
  bool writeChunk(const char* type, const uint8_t* data, size_t length);
  bool writeImageData(const uint8_t* data, size_t length);
  bool deflateWhole();
  bool deflateBand(bool last);
  bool fail();

  PngEncoderSettings settings_;
  PngSink sink_;
  void* target_;
  size_t rowBytes_, stride_;  // a row's samples, and with its filter byte
  size_t bandRows_;           // rows filtered before they are deflated
  uint8_t* previous_ = nullptr;  // the row above, unfiltered
  PngBuffer band_;               // filtered rows
  size_t rowsInBand_ = 0;
  PngBuffer deflated_;           // libdeflate's output, or zlib's IDAT buffer
  size_t deflatedSize_ = 0;
  struct libdeflate_compressor* compressor_ = nullptr;
  struct z_stream_s* stream_ = nullptr;  // zlib, when streaming
  int rowsAdded_ = 0;
  bool started_ = false, failed_ = false;
};

#endif
