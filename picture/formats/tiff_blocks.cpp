// Tiles and separate planes, a band at a time (tiff_blocks.h).
#include "picture/formats/tiff_blocks.h"

#include <algorithm>
#include <new>

#include "picture/core/driver_support.h"

namespace {

// The band held: a row of tiles, or a strip of each plane read.
const int64_t tiffMaxBand = int64_t(256) << 20;
// A tile that reaches past the picture's width or height holds mostly
// nothing; above this size it is refused rather than allocated.
const int64_t tiffMaxOverhangingTile = int64_t(16) << 20;

}  // namespace

const char* TiffBlocks::plan(TIFF* tiff, uint32_t width, uint32_t height, int planes) {
  tiff_ = tiff;
  tiled_ = TIFFIsTiled(tiff);
  planes_ = planes;
  height_ = height;
  if (tiled_) {
    if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &blockWidth_) || !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &blockHeight_) ||
        blockWidth_ == 0 || blockHeight_ == 0)
      return "tile sides missing";
    rowBytes_ = int64_t(TIFFTileRowSize64(tiff));
    blockBytes_ = int64_t(TIFFTileSize64(tiff));  // 0 when it overflows
    if (blockBytes_ <= 0 || rowBytes_ <= 0) return "tiles over 256 MB";
    if ((blockWidth_ > width || blockHeight_ > height) && blockBytes_ > tiffMaxOverhangingTile)
      return "tiles larger than the picture";
    if (blockBytes_ % blockHeight_ != 0 || blockBytes_ / blockHeight_ != rowBytes_)
      return "tiles of subsampled samples";
    across_ = uint32_t((uint64_t(width) + blockWidth_ - 1) / blockWidth_);
  } else {
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    blockWidth_ = width;
    blockHeight_ = std::max<uint32_t>(1, std::min(rowsPerStrip, height));
    rowBytes_ = int64_t(TIFFScanlineSize64(tiff));
    if (rowBytes_ <= 0) return "strips of separate planes over 256 MB";
    blockBytes_ = rowBytes_ * blockHeight_;  // at most two bytes a pixel of the picture
    across_ = 1;
  }
  if (blockBytes_ > tiffMaxBand / across_ / planes_)
    return tiled_ ? "row of tiles over 256 MB" : "strips of separate planes over 256 MB";
  return nullptr;
}

bool TiffBlocks::refuse() const {
  picRefuse(PIC_ERR_READ, tiled_ ? "tile data cut or damaged" : "strip data cut or damaged");
  return false;
}

bool TiffBlocks::readBand(uint32_t band) {
  bandTop_ = band * blockHeight_;
  const uint32_t rows = std::min(blockHeight_, height_ - bandTop_);
  for (int plane = 0; plane < planes_; ++plane) {
    for (uint32_t block = 0; block < across_; ++block) {
      uint8_t* destination = band_.get() + (int64_t(plane) * across_ + block) * blockBytes_;
      const auto sample = uint16_t(plane);
      const uint32_t index = tiled_ ? TIFFComputeTile(tiff_, block * blockWidth_, bandTop_, 0, sample)
                                    : TIFFComputeStrip(tiff_, bandTop_, sample);
      const int64_t wanted = tiled_ ? blockBytes_ : rows * rowBytes_;
      // A block of no bytes is missing (libtiff would read an uncompressed
      // one from the start of a disk file).
      if (TIFFGetStrileByteCount(tiff_, index) == 0) return refuse();
      const int64_t got = tiled_ ? TIFFReadEncodedTile(tiff_, index, destination, wanted)
                                 : TIFFReadEncodedStrip(tiff_, index, destination, wanted);
      if (got != wanted) return refuse();
    }
  }
  return true;
}

bool TiffBlocks::hold(uint32_t row) {
  const uint32_t band = row / blockHeight_;
  if (band == heldBand_) return true;
  if (band == failedBand_) return refuse();
  if (!band_) {
    band_.reset(new (std::nothrow) uint8_t[size_t(blockBytes_ * across_ * planes_)]);
    if (!band_) {
      picRefuse(PIC_ERR_READ, "no memory for a band of blocks");
      return false;
    }
  }
  heldBand_ = -1;
  if (!readBand(band)) {
    failedBand_ = band;
    return false;
  }
  heldBand_ = band;
  return true;
}
