// Contiguous samples in strips (tiff_strips.h).
#include "picture/formats/tiff_strips.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "picture/core/driver_support.h"
#include "picture/formats/tiff_lzw.h"

namespace {

// Whole strips are decoded when one holds at most this much.
const int64_t tiffMaxStripBuffer = int64_t(4) << 20;
// Raw bytes of an LZW strip decoded here, at most: this many times its
// decoded size and some. Real LZW never comes near; a strip above goes to libtiff.
const int64_t tiffMaxLzwExpansion = 4;
const int64_t tiffLzwRawSlack = 4096;

// Whether strips are read in place or LZW strips decoded here: bits in the
// usual fill order (libtiff reverses the others), samples of at most 8 bits
// (libtiff swaps wider ones), and for LZW no predictor, or horizontal
// differencing of 8-bit samples.
void chooseStripDecoding(TIFF* tiff, TiffStrips* strips) {
  uint16_t compression = COMPRESSION_NONE, fillOrder = FILLORDER_MSB2LSB, predictor = PREDICTOR_NONE;
  uint16_t bits = 1, samples = 1;
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (fillOrder != FILLORDER_MSB2LSB || bits > 8) return;
  strips->inPlace = compression == COMPRESSION_NONE;
  if (compression != COMPRESSION_LZW) return;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PREDICTOR, &predictor);
  if (predictor == PREDICTOR_HORIZONTAL && bits == 8)
    strips->predictorSamples = samples;
  else if (predictor != PREDICTOR_NONE)
    return;
  strips->ownLzw = true;
}

// Undoes horizontal differencing: each sample was stored as its difference
// from the same sample of the pixel before.
void undoPredictor(uint8_t* line, int lineBytes, int samples) {
  for (int i = samples; i < lineBytes; ++i) line[i] = uint8_t(line[i] + line[i - samples]);
}

// Decodes an LZW strip of `wanted` bytes into the strip buffer; the whole
// lines it holds, or -1 for a strip left to libtiff (old bit order, or raw
// bytes far beyond what LZW needs).
int64_t decodeLzwStrip(TIFF* tiff, picBinFile* stream, uint32_t strip, int64_t wanted, int lineSize,
                       TiffStrips* strips) {
  const int64_t fileSize = picBinSize(stream);
  const int64_t offset = int64_t(std::min<uint64_t>(TIFFGetStrileOffset(tiff, strip), INT64_MAX));
  const int64_t count = int64_t(std::min<uint64_t>(TIFFGetStrileByteCount(tiff, strip), INT64_MAX));
  if (fileSize < 0) return -1;
  const int64_t held = offset < fileSize ? std::min(count, fileSize - offset) : 0;  // a cut file holds less
  if (held > wanted * tiffMaxLzwExpansion + tiffLzwRawSlack) return -1;
  if (held > strips->rawCapacity) {
    std::free(strips->rawStrip);
    strips->rawCapacity = 0;
    strips->rawStrip = static_cast<uint8_t*>(std::malloc(size_t(held)));
    if (!strips->rawStrip) return 0;
    strips->rawCapacity = held;
  }
  if (held > 0 && TIFFReadRawStrip(tiff, strip, strips->rawStrip, tmsize_t(held)) != held) return 0;
  if (tiffLzwIsOldStyle(strips->rawStrip, size_t(held))) return -1;
  size_t produced = 0;
  tiffLzwDecode(strips->rawStrip, size_t(held), strips->buffer, size_t(wanted), &produced);
  const int64_t lines = int64_t(produced) / lineSize;
  if (strips->predictorSamples > 0) {
    for (int64_t line = 0; line < lines; ++line)
      undoPredictor(strips->buffer + line * lineSize, lineSize, strips->predictorSamples);
  }
  return lines;
}

// An uncompressed strip where it lies, when the file holds all of its
// `wanted` bytes: in a memory file, or in a disk file's read-ahead buffer
// (valid until the stream moves again, which only the next strip's read
// does). Else null, and libtiff reads what there is; it seeks before every
// read, so moving the stream here does not disturb it.
const uint8_t* stripInPlace(TIFF* tiff, picBinFile* stream, uint32_t strip, int64_t wanted) {
  const uint64_t offset = TIFFGetStrileOffset(tiff, strip);
  if (TIFFGetStrileByteCount(tiff, strip) < uint64_t(wanted)) return nullptr;
  long size = 0;
  if (const uint8_t* bytes = picBinMemoryBytes(stream, &size))
    return offset > uint64_t(size) || uint64_t(size) - offset < uint64_t(wanted) ? nullptr : bytes + offset;
  if (offset > uint64_t(INT_MAX) || picBinSeekSet(stream, int(offset)) != 0) return nullptr;
  return picBinTakeInPlace(stream, long(wanted));
}

// Decodes a strip into data; the whole lines it holds.
uint32_t readStrip(TIFF* tiff, picBinFile* stream, uint32_t strip, uint32_t rows, int lineSize,
                   TiffStrips* strips) {
  const tmsize_t wanted = tmsize_t(rows) * lineSize;
  strips->data = strips->inPlace ? stripInPlace(tiff, stream, strip, wanted) : nullptr;
  if (strips->data) return rows;
  strips->data = strips->buffer;
  if (strips->ownLzw) {
    const int64_t lines = decodeLzwStrip(tiff, stream, strip, wanted, lineSize, strips);
    if (lines >= 0) return uint32_t(lines);
  }
  return TIFFReadEncodedStrip(tiff, strip, strips->buffer, wanted) == wanted ? rows : 0;
}

// Sets up reading by whole strips when every strip but the last holds
// rowsPerStrip lines of one scanline each and fits tiffMaxStripBuffer; the
// buffer comes only now, once a line is asked for.
void chooseStrips(TIFF* tiff, uint32_t height, int lineSize, TiffStrips* strips) {
  strips->checked = true;
  strips->heldStrip = -1;
  uint32_t rows = 0;
  if (!TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows) || rows == 0) return;
  rows = std::min(rows, height);
  const int64_t scanline = int64_t(TIFFScanlineSize64(tiff));
  const int64_t stripBytes = int64_t(rows) * scanline;
  const int64_t stripCount = (int64_t(height) + rows - 1) / rows;
  if (scanline != lineSize || stripBytes > tiffMaxStripBuffer ||
      int64_t(TIFFVStripSize64(tiff, rows)) != stripBytes || int64_t(TIFFNumberOfStrips(tiff)) != stripCount)
    return;
  strips->buffer = static_cast<uint8_t*>(std::malloc(size_t(stripBytes)));
  // Scanlines instead would decode some damaged files differently, so this is an error.
  strips->bufferMissing = !strips->buffer;
  strips->rowsPerStrip = rows;
  chooseStripDecoding(tiff, strips);
}

}  // namespace

const uint8_t* tiffStripLine(TIFF* tiff, picBinFile* stream, uint32_t row, uint32_t height, uint8_t* lineBuffer,
                             int lineSize, TiffStrips* strips) {
  if (!strips->checked) chooseStrips(tiff, height, lineSize, strips);
  if (strips->bufferMissing) return nullptr;
  if (!strips->buffer) {
    if (TIFFReadScanline(tiff, lineBuffer, row, 0) > 0) return lineBuffer;
    picRefuse(PIC_ERR_READ, "line data cut or damaged");
    return nullptr;
  }
  const uint32_t strip = row / strips->rowsPerStrip;
  if (strip != strips->heldStrip) {
    const uint32_t rows = std::min(strips->rowsPerStrip, height - strip * strips->rowsPerStrip);
    strips->heldLines = readStrip(tiff, stream, strip, rows, lineSize, strips);
    strips->heldStrip = strip;
  }
  const uint32_t lineInStrip = row - strip * strips->rowsPerStrip;
  if (lineInStrip >= strips->heldLines) {
    picRefuse(PIC_ERR_READ, "strip data cut or damaged");
    return nullptr;
  }
  return strips->data + size_t(lineInStrip) * size_t(lineSize);
}

void tiffReleaseStrips(TiffStrips* strips) {
  std::free(strips->buffer);
  std::free(strips->rawStrip);
  strips->buffer = strips->rawStrip = nullptr;
}
