// The PNG encoder. Chunks: the signature, IHDR, PLTE for a palette image,
// pHYs when asked for, IDAT, IEND. Rows of RGB pixels are filtered with the
// per-row choice libpng's default writer makes (the filter type whose bytes,
// taken as signed, have the smallest sum of magnitudes); palette rows, and
// every row of a stored file, are left unfiltered, as libpng leaves palette
// rows (a stored file gains nothing from filters, and keeps its pixels
// readable in place).
// The filtered rows of an image up to pngWholeImageLimit (128 MB, about 42
// megapixels of RGB) are deflated in one call by libdeflate, which is much
// faster than zlib at the same size but cannot take its input in pieces; a
// PNG holds exactly one zlib stream, so a larger image goes through zlib's
// streaming deflate (at libpng's level, 6, or 0 to store) a band of about
// 1 MB of rows at a time. Either way the stream leaves in IDAT chunks of up
// to 1 MB.
// Memory: the row above; for an image within the limit its filtered rows and
// libdeflate's output for them (at most the input and a few bytes a 64 KB
// block; both on huge pages, png_buffers.cpp) with libdeflate's state (656 KB
// at level 6, 9 MB from level 10): under 260 MB; for a larger one a band of
// about 1 MB, a 1 MB output buffer and zlib's state (about 256 KB). When
// memory runs out the save fails, rather than give other bytes.
#include "picture/formats/png_encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "picture/core/driver_support.h"
#include "picture/formats/png_filter.h"

namespace {

const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint8_t colourTypeRgb = 2, colourTypePalette = 3;
const uint8_t unitMetre = 1;
const int streamingZlibLevel = 6;  // libpng's default
const size_t bandBytes = size_t(1) << 20;
}  // namespace

PngEncoder::PngEncoder(const PngEncoderSettings& settings, PngSink sink, void* target)
    : settings_(settings),
      sink_(sink),
      target_(target),
      rowBytes_(size_t(settings.width) * (settings.palette ? 1 : 3)),
      stride_(rowBytes_ + 1),
      bandRows_(0) {}

PngEncoder* PngEncoder::create(const PngEncoderSettings& settings, PngSink sink, void* target) {
  if (settings.width < 1 || settings.height < 1 || settings.level < 0 || settings.level > 12) return nullptr;
  PngEncoder* encoder = new (std::nothrow) PngEncoder(settings, sink, target);
  if (encoder && !encoder->allocate()) {
    delete encoder;
    return nullptr;
  }
  return encoder;
}

PngEncoder::~PngEncoder() {
  std::free(previous_);
  libdeflate_free_compressor(compressor_);
  if (stream_) deflateEnd(stream_);
  delete stream_;
}

// The whole image's buffers when it is within the limit, else those of streaming.
bool PngEncoder::allocate() {
  previous_ = static_cast<uint8_t*>(std::calloc(1, rowBytes_));
  if (!previous_) return false;
  const uint64_t wholeBytes = uint64_t(settings_.height) * stride_;
  if (wholeBytes > settings_.wholeImageLimit) return allocateStreaming();
  bandRows_ = size_t(settings_.height);
  compressor_ = libdeflate_alloc_compressor(settings_.level);
  band_ = pngAllocateLarge(size_t(wholeBytes));
  if (!compressor_ || !band_) return false;
  deflatedSize_ = libdeflate_zlib_compress_bound(compressor_, size_t(wholeBytes));
  deflated_ = pngAllocateLarge(deflatedSize_);
  return deflated_ != nullptr;
}

bool PngEncoder::allocateStreaming() {
  bandRows_ = stride_ >= bandBytes ? 1 : bandBytes / stride_;
  band_ = pngAllocateLarge(bandRows_ * stride_);
  deflatedSize_ = pngIdatBytes;
  deflated_ = pngAllocateLarge(deflatedSize_);
  stream_ = new (std::nothrow) z_stream();
  if (!band_ || !deflated_ || !stream_) return false;
  if (deflateInit(stream_, settings_.level == 0 ? 0 : streamingZlibLevel) != Z_OK) {
    delete stream_;
    stream_ = nullptr;
    return false;
  }
  stream_->next_out = deflated_.get();
  stream_->avail_out = uInt(deflatedSize_);
  return true;
}

bool PngEncoder::fail() {
  failed_ = true;
  return false;
}

bool PngEncoder::writeChunk(const char* type, const uint8_t* data, size_t length) {
  uint8_t head[8], tail[4];
  picPutBE32(head, uint32_t(length));
  std::memcpy(head + 4, type, 4);
  // libdeflate_crc32 of a null buffer is the initial value, not the CRC so far.
  const uint32_t typeCrc = libdeflate_crc32(0, type, 4);
  picPutBE32(tail, length > 0 ? libdeflate_crc32(typeCrc, data, length) : typeCrc);
  if (!sink_(target_, head, sizeof head) || (length > 0 && !sink_(target_, data, length)) ||
      !sink_(target_, tail, sizeof tail))
    return fail();
  return true;
}

bool PngEncoder::writeImageData(const uint8_t* data, size_t length) {
  for (size_t offset = 0; offset < length; offset += pngIdatBytes) {
    const size_t piece = length - offset < pngIdatBytes ? length - offset : pngIdatBytes;
    if (!writeChunk("IDAT", data + offset, piece)) return false;
  }
  return true;
}

bool PngEncoder::start(const uint8_t* palette, int colours) {
  if (started_ || failed_ || (settings_.palette && (!palette || colours < 1 || colours > 256))) return fail();
  started_ = true;
  uint8_t header[13] = {};
  picPutBE32(header, uint32_t(settings_.width));
  picPutBE32(header + 4, uint32_t(settings_.height));
  header[8] = 8;  // bits a sample; compression, filter method and interlace 0
  header[9] = settings_.palette ? colourTypePalette : colourTypeRgb;
  if (!sink_(target_, signature, sizeof signature) || !writeChunk("IHDR", header, sizeof header)) return fail();
  if (settings_.palette && !writeChunk("PLTE", palette, size_t(colours) * 3)) return false;
  if (settings_.withResolution) {
    uint8_t resolution[9];
    picPutBE32(resolution, settings_.xPixelsPerMetre);
    picPutBE32(resolution + 4, settings_.yPixelsPerMetre);
    resolution[8] = unitMetre;
    if (!writeChunk("pHYs", resolution, sizeof resolution)) return false;
  }
  return true;
}

bool PngEncoder::addRow(const uint8_t* row) {
  if (!started_ || failed_ || rowsAdded_ >= settings_.height) return fail();
  uint8_t* filtered = band_.get() + rowsInBand_ * stride_;
  if (settings_.palette || settings_.level == pngStoredLevel) {
    filtered[0] = pngFilterNone;
    std::memcpy(filtered + 1, row, rowBytes_);
  } else {
    pngFilterRowAdaptive(row, previous_, rowBytes_, 3, pngFiltersTried(settings_.width, settings_.height), filtered);
    std::memcpy(previous_, row, rowBytes_);
  }
  ++rowsAdded_;
  ++rowsInBand_;
  const bool last = rowsAdded_ == settings_.height;
  if (rowsInBand_ < bandRows_ && !last) return true;
  const bool deflated = stream_ ? deflateBand(last) : deflateWhole();
  rowsInBand_ = 0;
  return deflated && (!last || writeChunk("IEND", nullptr, 0));
}

bool PngEncoder::deflateWhole() {
  const size_t length =
      libdeflate_zlib_compress(compressor_, band_.get(), rowsInBand_ * stride_, deflated_.get(), deflatedSize_);
  return length > 0 ? writeImageData(deflated_.get(), length) : fail();
}

// Deflates the band; every full output buffer leaves as an IDAT chunk, and
// after the last band the rest of the stream.
bool PngEncoder::deflateBand(bool last) {
  stream_->next_in = band_.get();
  stream_->avail_in = uInt(rowsInBand_ * stride_);
  for (;;) {
    const int result = deflate(stream_, last ? Z_FINISH : Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return fail();
    const bool ended = result == Z_STREAM_END;
    if (stream_->avail_out == 0 || ended) {
      if (!writeImageData(deflated_.get(), deflatedSize_ - stream_->avail_out)) return false;
      stream_->next_out = deflated_.get();
      stream_->avail_out = uInt(deflatedSize_);
    }
    if (ended || (!last && stream_->avail_in == 0)) return true;
  }
}
