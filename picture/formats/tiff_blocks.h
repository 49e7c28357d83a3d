// Tiles and separate planes. Lines go out top to bottom, so one band of
// blocks is held at a time: a row of tiles (every tile across, of each plane
// read), or the strip of each plane read that holds the line. Only the planes
// the picture uses are read: with separate planes, those of the colours (and
// of an associated alpha); other extra planes are never decoded. A band that
// cannot be read is not tried again.
#ifndef PICTURE_FORMATS_TIFF_BLOCKS_H
#define PICTURE_FORMATS_TIFF_BLOCKS_H

#include <tiffio.h>

#include <cstdint>
#include <memory>

class TiffBlocks {
 public:
  // Sizes the band from the directory of an image `width` x `height` (already
  // within the pixel limit); null when it fits the budget, else the reason.
  // Nothing is allocated yet.
  const char* plan(TIFF* tiff, uint32_t width, uint32_t height, int planes);
  // Makes file row `row` ready, reading its band when another is held; false
  // at a read error or when memory runs out, with the reason.
  bool hold(uint32_t row);
  uint32_t across() const { return across_; }
  uint32_t blockWidth() const { return blockWidth_; }
  int planes() const { return planes_; }
  // Row `row` (held) of block `block` across, in plane `plane`.
  const uint8_t* row(uint32_t block, int plane, uint32_t row) const {
    return band_.get() + (int64_t(plane) * across_ + block) * blockBytes_ + int64_t(row - bandTop_) * rowBytes_;
  }

 private:
  bool readBand(uint32_t band);
  bool refuse() const;  // records why a band is not there; false

  TIFF* tiff_ = nullptr;
  bool tiled_ = false;
  int planes_ = 1;
  uint32_t height_ = 0, blockWidth_ = 0, blockHeight_ = 0, across_ = 0;
  int64_t rowBytes_ = 0, blockBytes_ = 0;
  std::unique_ptr<uint8_t[]> band_;
  int64_t heldBand_ = -1, failedBand_ = -1;
  uint32_t bandTop_ = 0;
};

#endif
