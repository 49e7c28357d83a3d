// A PNG image's rows: see png_rows.h. The whole-image buffer is the one
// large allocation of a load below the cap; above it, a load holds two rows.
#include "picture/formats/png_rows.h"

#include <libdeflate.h>

#include <cstring>

#include "picture/formats/png_unfilter.h"

namespace {

const int adam7XStart[7] = {0, 4, 0, 2, 0, 1, 0};
const int adam7YStart[7] = {0, 0, 4, 0, 2, 0, 1};
const int adam7XStep[7] = {8, 8, 4, 4, 2, 2, 1};
const int adam7YStep[7] = {8, 8, 8, 4, 4, 2, 2};
const size_t inputPiece = size_t(1) << 30;  // zlib counts its input in 32 bits
const size_t settlingBytes = 256;

const char* const cutData = "image data cut or damaged";

// The two bytes before the deflate data: deflate, a window of at most 32 KB,
// the check bits, and no preset dictionary. A stream too short to have them
// is told as cut.
bool zlibHeaderSound(const uint8_t* data, size_t size) {
  if (size < 2) return true;
  return (data[0] & 15) == 8 && data[0] >> 4 <= 7 && (data[0] * 256 + data[1]) % 31 == 0 && !(data[1] & 0x20);
}

uint32_t passSide(uint32_t side, int start, int step) {
  return side > uint32_t(start) ? (side - uint32_t(start) + uint32_t(step) - 1) / uint32_t(step) : 0;
}

bool passHasRows(const PngPass& pass) { return pass.width > 0 && pass.rows > 0; }

}  // namespace

int pngPasses(const PngHeader& header, PngPass passes[7]) {
  if (!header.interlace) {
    passes[0] = {header.width, header.height, 0, 0, 1, 1, size_t(pngRowBytes(header, header.width))};
    return 1;
  }
  for (int p = 0; p < 7; ++p) {
    const uint32_t width = passSide(header.width, adam7XStart[p], adam7XStep[p]);
    passes[p] = {width, passSide(header.height, adam7YStart[p], adam7YStep[p]), adam7XStart[p], adam7YStart[p],
                 adam7XStep[p], adam7YStep[p], size_t(pngRowBytes(header, width))};
  }
  return 7;
}

uint64_t pngFilteredBytes(const PngHeader& header) {
  PngPass passes[7];
  const int count = pngPasses(header, passes);
  uint64_t bytes = 0;
  for (int p = 0; p < count; ++p)
    if (passHasRows(passes[p])) bytes += uint64_t(passes[p].rows) * (passes[p].rowBytes + 1);
  return bytes;
}

PngRows::~PngRows() {
  if (zlibOpen_) inflateEnd(&zlib_);
}

bool PngRows::start(const PngHeader& header, const uint8_t* data, size_t size, const char* damage,
                    uint64_t wholeCap) {
  passCount_ = pngPasses(header, passes_);
  const int bits = header.depth * pngSamplesPerPixel(header.colourType);
  pixelBytes_ = bits < 8 ? 1 : bits / 8;
  data_ = data;
  dataSize_ = size;
  damage_ = damage;
  size_t widest = 0;
  for (int p = 0; p < passCount_; ++p)
    if (passes_[p].rowBytes > widest) widest = passes_[p].rowBytes;
  while (pass_ < passCount_ && !passHasRows(passes_[pass_])) ++pass_;
  zeros_.reset(new (std::nothrow) uint8_t[widest + 1]());
  if (!zeros_) return false;
  const uint64_t filtered = pngFilteredBytes(header);
  whole_ = filtered <= wholeCap;
  imageBytes_ = size_t(filtered);
  if (!zlibHeaderSound(data, size)) {
    streamReason_ = "bad zlib header";
    whole_ = true;  // and empty
    return true;
  }
  if (whole_) {
    image_ = pngAllocateLarge(imageBytes_);
    return image_ && inflateWhole();
  }
  for (auto& slot : slots_) {
    slot.reset(new (std::nothrow) uint8_t[widest + 1]);
    if (!slot) return false;
  }
  zlibOpen_ = inflateInit(&zlib_) == Z_OK;
  return zlibOpen_;
}

void PngRows::feedInput() {
  if (zlib_.avail_in > 0 || dataUsed_ >= dataSize_) return;
  const size_t piece = dataSize_ - dataUsed_ < inputPiece ? dataSize_ - dataUsed_ : inputPiece;
  zlib_.next_in = const_cast<Bytef*>(data_ + dataUsed_);
  zlib_.avail_in = uInt(piece);
  dataUsed_ += piece;
}

const char* PngRows::streamFailure(int zlibResult) const {
  if (zlibResult == Z_DATA_ERROR && zlib_.msg && std::strcmp(zlib_.msg, "incorrect data check") == 0)
    return "bad Adler-32";
  return cutData;
}

// How the stream ends after the image's bytes: null when it ends soundly or
// holds more (ignored, as other readers do), else the reason.
const char* PngRows::settle() {
  uint8_t scratch[settlingBytes];
  for (;;) {
    feedInput();
    zlib_.next_out = scratch;
    zlib_.avail_out = settlingBytes;
    const int result = inflate(&zlib_, Z_NO_FLUSH);
    if (result == Z_STREAM_END || zlib_.avail_out < settlingBytes) return nullptr;
    if (result != Z_OK) return streamFailure(result);
  }
}

// libdeflate in one call; zlib, streaming, after a failure, to find the
// complete rows and why the stream failed.
bool PngRows::inflateWhole() {
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  if (!decompressor) return false;
  size_t used = 0, made = 0;
  const libdeflate_result result =
      libdeflate_zlib_decompress_ex(decompressor, data_, dataSize_, image_.get(), imageBytes_, &used, &made);
  libdeflate_free_decompressor(decompressor);
  if (result == LIBDEFLATE_SUCCESS) {
    imageFilled_ = made;
    if (made < imageBytes_) streamReason_ = cutData;
    return true;
  }
  zlibOpen_ = inflateInit(&zlib_) == Z_OK;
  if (!zlibOpen_) return false;
  zlib_.next_out = image_.get();
  zlib_.avail_out = uInt(imageBytes_);
  int status = Z_OK;
  while (zlib_.avail_out > 0 && status == Z_OK) {
    feedInput();
    status = inflate(&zlib_, Z_NO_FLUSH);
  }
  imageFilled_ = imageBytes_ - zlib_.avail_out;
  if (status == Z_STREAM_END)
    streamReason_ = imageFilled_ < imageBytes_ ? cutData : nullptr;
  else
    streamReason_ = status == Z_OK ? settle() : streamFailure(status);
  return true;
}

bool PngRows::inflateRow(uint8_t* row, size_t bytes) {
  zlib_.next_out = row;
  zlib_.avail_out = uInt(bytes);
  // A failure found as the row completes (the Adler-32 after the last) is kept for finish().
  while (zlib_.avail_out > 0 && !streamEnded_ && !streamReason_) {
    feedInput();
    const int status = inflate(&zlib_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) streamEnded_ = true;
    else if (status != Z_OK) streamReason_ = streamFailure(status);
  }
  if (zlib_.avail_out > 0 && !streamReason_) streamReason_ = cutData;
  return zlib_.avail_out == 0;
}

const uint8_t* PngRows::refuse(const char* reason) {
  failed_ = true;
  picRefuse(PIC_ERR_READ, reason);
  return nullptr;
}

const uint8_t* PngRows::next(int* pass, uint32_t* rowInPass) {
  if (failed_ || pass_ >= passCount_) return refuse(cutData);
  const PngPass& current = passes_[pass_];
  const size_t bytes = current.rowBytes + 1;
  uint8_t* row;
  if (whole_) {
    if (offset_ > imageFilled_ || imageFilled_ - offset_ < bytes)
      return refuse(damage_ ? damage_ : streamReason_ ? streamReason_ : cutData);
    row = image_.get() + offset_;
    offset_ += bytes;
  } else {
    row = slots_[slot_].get();
    if (!inflateRow(row, bytes)) return refuse(damage_ ? damage_ : streamReason_);
    slot_ ^= 1;
  }
  const uint8_t* prior = rowInPass_ == 0 ? zeros_.get() : prior_;
  if (!pngUnfilterRow(row[0], row + 1, prior, current.rowBytes, pixelBytes_)) return refuse("unknown filter type");
  prior_ = row + 1;
  *pass = pass_;
  *rowInPass = rowInPass_;
  if (++rowInPass_ == current.rows) {
    rowInPass_ = 0;
    do ++pass_;
    while (pass_ < passCount_ && !passHasRows(passes_[pass_]));
  }
  return row + 1;
}

int PngRows::finish() {
  const char* reason = damage_;
  if (!reason) reason = whole_ || streamEnded_ || streamReason_ ? streamReason_ : settle();
  return reason ? picRefuse(PIC_ERR_READ, reason) : PIC_OK;
}
