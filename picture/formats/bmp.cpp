// Windows bitmaps (BMP), with the 40-byte information header or, for reading,
// the 12-byte OS/2 header, the 16- and 64-byte OS/2 2 headers and the longer
// 52-, 56-, 108- and 124-byte headers that extend the 40-byte one (their extra
// fields are not needed). Reads 1-, 2-, 4- and 8-bit colour-mapped rows
// (uncompressed, or 4- and 8-bit run-length encoded) and 16-, 24- and 32-bit
// true colour with default or explicit colour masks (an alpha mask among them
// is ignored), bottom-up or top-down. Writes 8-bit colour-mapped bitmaps,
// uncompressed or run-length encoded, and 24-bit true colour. Refuses other
// headers (PIC_ERR_FORMAT), other bit depths (PIC_ERR_DATA) and other
// compressions: embedded JPEG and PNG, OS/2's Huffman and 24-bit run-length
// codes (PIC_ERR_COMPRESSION). Rows past an end-of-bitmap code are blank; any
// other end of the data fails the row. A colour-mapped file is described with
// 2^depth colours whatever its colours-used field says; the entries past the
// palette the field sizes are black.
// Memory: one stored row; run-length data: the bytes from the first row to the
// end of the file, read once.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/formats/bmp_rle.h"

namespace {

const uint8_t bmpSignature[2] = {'B', 'M'};
const int fileHeaderSize = 14;
const int infoHeaderSize = 40;
const int coreHeaderSize = 12;
const int headerSizeField = 14;  // offset of the information header's size
const int maskOffset = 54;

enum : uint32_t { bmpUncompressed = 0, bmpRle8 = 1, bmpRle4 = 2, bmpBitFields = 3, bmpAlphaBitFields = 6 };
// OS/2 2 headers share codes 0-2; their other codes name compressions of their own.
const uint32_t bmpOs2Other = 0xffffffff;
const int os2ShortHeaderSize = 16;
const int os2HeaderSize = 64;

// The writer's palette entry count for true colour: four zero bytes.
const int rgbPaddingEntries = 1;
// Closes run-length data after the last row; some readers insist on it.
const uint8_t rleEndOfBitmap[2] = {0, 1};
const double inchesPerCentimetre = 0.39370078740157477;

struct BmpState {
  picBinFile* file = nullptr;
  uint16_t bitCount = 0;
  uint32_t dataOffset = 0;
  uint32_t compression = 0;
  int lineSize = 0;
  std::unique_ptr<uint8_t[]> lineBuffer;  // writing: one stored row
  picLineBlock rows;                      // reading uncompressed rows
  int coreHeader = 0;
  uint32_t paletteOffset = 0;  // the palette follows the information header
  int paletteEntries = 0;      // entries the file's palette holds
  uint32_t masks[3] = {};  // red, green, blue
  int shifts[3] = {};
  int topDown = 0;

  bool writing = false;
  bool rowsStarted = false;  // the first row has found its data
  // Run-length reading: all data from the first row to the end of the file.
  std::unique_ptr<uint8_t[]> rleData;
  size_t rleSize = 0;
  picBmpRleCursor rleCursor;
  // Run-length writing: bytes of pixel data written, for the sizes in the header.
  int64_t rleWritten = 0;
  uint32_t headerBytes = 0;
};

BmpState* stateOf(picFile* file) { return static_cast<BmpState*>(file->driverData); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, BmpState* state, int* status, int code) {
  if (state && state->file) picBinClose(state->file);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Bytes of one stored row: whole 32-bit words.
int64_t rowBytes(int64_t width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

bool readExactly(picBinFile* file, void* buffer, int n) {
  return picBinRead(file, buffer, n) == n && !picBinError(file);
}

bool writeExactly(picBinFile* file, const void* buffer, int n) {
  return picBinWrite(file, buffer, n) == n && !picBinError(file);
}

int lowestSetBit(uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

void setMasks(BmpState* state, uint32_t red, uint32_t green, uint32_t blue) {
  const uint32_t masks[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    state->masks[c] = masks[c];
    state->shifts[c] = lowestSetBit(masks[c]);
  }
}

// A masked component scaled to 0..255, whatever the mask's width.
uint8_t component(uint32_t value, uint32_t mask, int shift) {
  const uint64_t top = mask >> shift;
  if (top == 0) return 0;
  return uint8_t(uint64_t((value & mask) >> shift) * 255 / top);
}

void convertRgbRow(const BmpState* state, const uint8_t* stored, int width, uint8_t* red,
                   uint8_t* green, uint8_t* blue) {
  uint8_t* out[3] = {red, green, blue};
  switch (state->bitCount) {
    case 24:
      picSplitPixels(stored, 3, width, blue, green, red);
      break;
    case 16:
      for (int x = 0; x < width; ++x, stored += 2) {
        const uint32_t value = picGetLE16(stored);
        for (int c = 0; c < 3; ++c) out[c][x] = component(value, state->masks[c], state->shifts[c]);
      }
      break;
    default:
      if (state->masks[0] == 0xff0000 && state->masks[1] == 0x00ff00 && state->masks[2] == 0x0000ff) {
        picSplitPixels(stored, 4, width, blue, green, red);  // bytes blue, green, red, unused
        break;
      }
      for (int x = 0; x < width; ++x, stored += 4) {
        const uint32_t value = picGetLE32(stored);
        for (int c = 0; c < 3; ++c) out[c][x] = component(value, state->masks[c], state->shifts[c]);
      }
  }
}

// Pixels per metre for the header from a resolution and its unit; values no
// 32-bit field holds are written as 0.
uint32_t pixelsPerMetre(double resolution, int unit) {
  if (unit == PIC_RES_NONE) return 0;
  if (unit == PIC_RES_INCH) resolution *= inchesPerCentimetre;
  const double perMetre = resolution * 100;
  if (!(perMetre >= 0) || perMetre > 0x7fffffff) return 0;
  return uint32_t(perMetre);
}

bool knownHeaderSize(uint32_t size) {
  for (uint32_t known : {coreHeaderSize, os2ShortHeaderSize, infoHeaderSize, 52, 56, os2HeaderSize, 108, 124})
    if (size == known) return true;
  return false;
}

// What the header says, before it is checked.
struct BmpHeader {
  uint32_t dataOffset;
  int coreHeader;
  int64_t width;
  int64_t height;  // negative: top line first
  uint16_t bitCount;
  uint32_t compression;
  uint32_t xPixelsPerMetre, yPixelsPerMetre;
  uint32_t coloursUsed;
};

bool isRunLength(uint32_t compression) { return compression == bmpRle8 || compression == bmpRle4; }
bool hasMasks(uint32_t compression) { return compression == bmpBitFields || compression == bmpAlphaBitFields; }

// Decodes the file header and the information header held in `bytes`; a
// header shorter than 40 bytes, the OS/2 one apart, is followed by zeros there.
void decodeHeader(const uint8_t* bytes, BmpHeader* header) {
  header->dataOffset = picGetLE32(bytes + 10);
  const uint32_t headerSize = picGetLE32(bytes + headerSizeField);
  header->coreHeader = headerSize == coreHeaderSize;
  if (header->coreHeader) {
    header->width = picGetLE16(bytes + 18);
    header->height = picGetLE16(bytes + 20);
    header->bitCount = picGetLE16(bytes + 24);
    header->compression = bmpUncompressed;
    header->xPixelsPerMetre = header->yPixelsPerMetre = header->coloursUsed = 0;
    return;
  }
  header->width = int32_t(picGetLE32(bytes + 18));
  header->height = int32_t(picGetLE32(bytes + 22));
  header->bitCount = picGetLE16(bytes + 28);
  header->compression = picGetLE32(bytes + 30);
  header->xPixelsPerMetre = picGetLE32(bytes + 38);
  header->yPixelsPerMetre = picGetLE32(bytes + 42);
  header->coloursUsed = picGetLE32(bytes + 46);
  if ((headerSize == os2ShortHeaderSize || headerSize == os2HeaderSize) && header->compression > bmpRle4)
    header->compression = bmpOs2Other;
}

// Fills the picFile from the header; returns the status of the open.
int describe(const BmpHeader& header, picFile* file, BmpState* state) {
  const int64_t height = header.height < 0 ? -header.height : header.height;
  const uint16_t bits = header.bitCount;
  const bool mapped = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool knownDepth = mapped || bits == 16 || bits == 24 || bits == 32;
  // A colours-used field of 0, or one the depth cannot use, means all of them.
  if (mapped)
    state->paletteEntries = header.coloursUsed != 0 && header.coloursUsed < (1u << bits) ? int(header.coloursUsed)
                                                                                          : 1 << bits;
  // Compressions the reader refuses are named as the second code.
  int compression = PIC_COMP_NONE;
  if (knownDepth && header.compression == bmpRle8)
    compression = bits == 8 ? PIC_COMP_RLE : PIC_COMP_LZW;
  else if (knownDepth && header.compression == bmpRle4)
    compression = bits == 4 ? PIC_COMP_RLE : PIC_COMP_LZW;
  else if (knownDepth && header.compression != bmpUncompressed && !hasMasks(header.compression))
    compression = PIC_COMP_LZW;
  picDescribe(file, header.width > 0 && header.width <= INT32_MAX ? int32_t(header.width) : 0,
              height <= INT32_MAX ? int32_t(height) : 0, mapped ? PIC_MAP : PIC_RGB, compression,
              mapped ? picColoursForIndices(state->paletteEntries, bits) : 0);
  file->planar = 0;
  file->mapFirst = 1;
  state->bitCount = bits;
  state->dataOffset = header.dataOffset;
  state->coreHeader = header.coreHeader;
  state->topDown = header.height < 0;
  state->compression = header.compression;

  if (!knownDepth) return picRefuse(PIC_ERR_DATA, "bits per pixel not 1, 2, 4, 8, 16, 24 or 32");
  if (header.compression == bmpRle8 && bits != 8)
    return picRefuse(PIC_ERR_COMPRESSION, "8-bit run-length code on other pixels");
  if (header.compression == bmpRle4 && bits != 4)
    return picRefuse(PIC_ERR_COMPRESSION, "4-bit run-length code on other pixels");
  if (hasMasks(header.compression) && bits != 16 && bits != 32)
    return picRefuse(PIC_ERR_DATA, "colour masks on other than 16 or 32 bits");
  if (compression == PIC_COMP_LZW) return picRefuse(PIC_ERR_COMPRESSION, "unknown compression");

  // Sizes: a positive width, a line count, rows and images an int holds.
  const int64_t lineSize = rowBytes(header.width, bits);
  if (header.width <= 0) return picRefuse(PIC_ERR_DATA, "width not positive");
  if (height == 0) return picRefuse(PIC_ERR_DATA, "height 0");
  if (height > INT32_MAX) return picRefuse(PIC_ERR_DATA, "height past 2^31 - 1");
  if (lineSize > INT32_MAX) return picRefuse(PIC_ERR_DATA, "rows past 2 GB");
  if (picCheckReadSize(header.width, height) != PIC_OK) return PIC_ERR_DATA;
  state->lineSize = int(lineSize);
  file->currentLine = state->topDown ? file->height - 1 : 0;
  return PIC_OK;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<BmpState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  uint8_t bytes[fileHeaderSize + infoHeaderSize] = {};
  if (!readExactly(state->file, bytes, 2))
    return release(file, state, status, picRefuse(PIC_ERR_READ, "file ends inside the header"));
  if (std::memcmp(bytes, bmpSignature, 2) != 0) return release(file, state, status, PIC_ERR_FORMAT);
  if (!readExactly(state->file, bytes + 2, headerSizeField + 4 - 2))
    return release(file, state, status, picRefuse(PIC_ERR_READ, "file ends inside the header"));
  const uint32_t headerSize = picGetLE32(bytes + headerSizeField);
  if (!knownHeaderSize(headerSize))
    return release(file, state, status, picRefuse(PIC_ERR_FORMAT, "unknown information header size"));
  // Longer headers begin like the 40-byte one; their tails are not needed.
  const int used = int(std::min<uint32_t>(headerSize, infoHeaderSize));
  if (!readExactly(state->file, bytes + headerSizeField + 4, used - 4))
    return release(file, state, status, picRefuse(PIC_ERR_READ, "file ends inside the header"));
  state->paletteOffset = fileHeaderSize + headerSize;

  BmpHeader header;
  decodeHeader(bytes, &header);
  const int result = describe(header, file, state);
  file->driverData = state;
  if (result == PIC_OK && !header.coreHeader && picGetResolutionCallback()) {
    double xRes = header.xPixelsPerMetre * 0.01, yRes = header.yPixelsPerMetre * 0.01;
    int unit = PIC_RES_CM;
    picCallResolution(fileName, &xRes, &yRes, &unit);
  }
  return picOpenResult(status, result, file);
}

// Header fields of a written file; false when the file would not fit them.
bool layoutForWrite(int width, int height, int colourMode, int colours, bool rle, BmpState* state) {
  const int paletteEntries = colourMode == PIC_MAP ? colours : rgbPaddingEntries;
  const int64_t lineSize = rowBytes(width, state->bitCount);
  const int64_t bufferSize =
      rle ? picBmpRle8RowBound(width) + int64_t(sizeof rleEndOfBitmap) : lineSize;
  const int64_t headerBytes = fileHeaderSize + infoHeaderSize + 4 * int64_t(paletteEntries);
  if (bufferSize > INT32_MAX || headerBytes + bufferSize * height > UINT32_MAX) return false;
  state->lineSize = int(lineSize);
  state->headerBytes = uint32_t(headerBytes);
  state->lineBuffer.reset(new (std::nothrow) uint8_t[size_t(bufferSize)]());
  return state->lineBuffer != nullptr;
}

bool writeHeader(const char* fileName, const picFile* file, BmpState* state) {
  double xRes = 0, yRes = 0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xRes, &yRes, &unit);
  const uint32_t imageBytes = uint32_t(file->height) * uint32_t(state->lineSize);

  uint8_t bytes[fileHeaderSize + infoHeaderSize + 4] = {};
  std::memcpy(bytes, bmpSignature, 2);
  picPutLE32(bytes + 2, state->headerBytes + imageBytes);
  picPutLE32(bytes + 10, state->headerBytes);
  picPutLE32(bytes + headerSizeField, infoHeaderSize);
  picPutLE32(bytes + 18, uint32_t(file->width));
  picPutLE32(bytes + 22, uint32_t(file->height));
  picPutLE16(bytes + 26, 1);
  picPutLE16(bytes + 28, state->bitCount);
  picPutLE32(bytes + 30, state->compression);
  picPutLE32(bytes + 34, imageBytes);
  picPutLE32(bytes + 38, pixelsPerMetre(xRes, unit));
  picPutLE32(bytes + 42, pixelsPerMetre(yRes, unit));
  picPutLE32(bytes + 46, uint32_t(file->colours));
  picPutLE32(bytes + 50, uint32_t(file->colours));
  // True colour carries one zero palette entry.
  const int length = file->colourMode == PIC_RGB ? int(sizeof bytes) : fileHeaderSize + infoHeaderSize;
  return writeExactly(state->file, bytes, length);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  // A colour-mapped bitmap needs at least one palette entry to mean anything.
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour mode neither map nor RGB"), nullptr);
  if (colourMode == PIC_MAP && (colours < 1 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "map of no colours or over 256"), nullptr);
  if (picCheckImageSize(width, height) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);
  uint32_t stored;
  if (compression == PIC_COMP_NONE)
    stored = bmpUncompressed;
  else if (compression == PIC_COMP_RLE || (compression == PIC_COMP_LZW && colourMode == PIC_MAP))
    stored = colourMode == PIC_MAP ? bmpRle8 : bmpUncompressed;
  else
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "a compression the writer does not make"), nullptr);

  picFile* file = picNewFile();
  auto* state = picNewState<BmpState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->writing = true;
  state->compression = stored;
  state->bitCount = colourMode == PIC_MAP ? 8 : 24;
  if (!layoutForWrite(width, height, colourMode, colours, stored == bmpRle8, state))
    return release(file, state, status, picRefuse(PIC_ERR_DATA, "rows past 2 GB or file past 4 GB"));
  state->file = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  picDescribe(file, width, height, colourMode, compression, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = 0;
  if (!writeHeader(fileName, file, state)) return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

// Run-length rows have their real length only now: the header gets it.
void completeSizes(BmpState* state) {
  if (state->compression != bmpRle8) return;
  uint8_t size[4];
  picPutLE32(size, uint32_t(state->headerBytes + state->rleWritten));
  picBinSeekSet(state->file, 2);
  picBinWrite(state->file, size, 4);
  picPutLE32(size, uint32_t(state->rleWritten));
  picBinSeekSet(state->file, 34);
  picBinWrite(state->file, size, 4);
}

int close(picFile* file) {
  BmpState* state = stateOf(file);
  if (state->writing) completeSizes(state);
  const int closed = picCloseStream(state->file);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile* file, int32_t* map) {
  BmpState* state = stateOf(file);
  const int entrySize = state->coreHeader ? 3 : 4;
  uint8_t palette[PIC_MAX_COLOURS * 4];
  const int entries = std::min(state->paletteEntries, PIC_MAX_COLOURS);
  picBinSeekSet(state->file, int(state->paletteOffset));
  if (picBinError(state->file) || !readExactly(state->file, palette, entries * entrySize))
    return picRefuse(PIC_ERR_READ, "palette past the end of the file");
  for (int i = 0; i < entries; ++i) {
    const uint8_t* entry = palette + i * entrySize;
    map[i] = picEncodeColour(entry[2], entry[1], entry[0]);
  }
  picFillMissingColours(map, entries, file->colours);
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  BmpState* state = stateOf(file);
  uint8_t palette[PIC_MAX_COLOURS * 4] = {};
  for (int i = 0; i < file->colours; ++i)
    picDecodeColour(&palette[4 * i + 2], &palette[4 * i + 1], &palette[4 * i], map[i]);
  return writeExactly(state->file, palette, 4 * file->colours) ? PIC_OK : PIC_ERR_WRITE;
}

// A refusal of startRows, whose caller returns PIC_ERR_READ.
bool refuseRows(const char* reason) {
  picRefuse(PIC_ERR_READ, reason);
  return false;
}

// Before the first row: the masks, the row buffer or the run-length data, and
// the position of the rows. Nothing is allocated until the file has shown it
// holds what the header promises. False when it does not.
bool startRows(picFile* file, BmpState* state) {
  picBinFile* stream = state->file;
  if (state->bitCount == 16 || state->bitCount == 32) {
    if (hasMasks(state->compression)) {
      uint8_t masks[12];
      picBinSeekSet(stream, maskOffset);
      if (picBinError(stream) || !readExactly(stream, masks, sizeof masks))
        return refuseRows("colour masks past the end of the file");
      setMasks(state, picGetLE32(masks), picGetLE32(masks + 4), picGetLE32(masks + 8));
    } else if (state->bitCount == 16) {
      setMasks(state, 0x7c00, 0x03e0, 0x001f);
    } else {
      setMasks(state, 0xff0000, 0x00ff00, 0x0000ff);
    }
  }
  const long fileSize = picBinSize(stream);
  if (state->dataOffset > uint32_t(INT32_MAX) || fileSize < 0 || state->dataOffset >= fileSize)
    return refuseRows("data offset past the end of the file");
  picBinSeekSet(stream, int(state->dataOffset));
  if (picBinError(stream)) return refuseRows("data offset past the end of the file");

  if (isRunLength(state->compression)) {
    const int64_t available = int64_t(fileSize) - state->dataOffset;
    if (available > INT32_MAX) return refuseRows("run-length data past 2 GB");
    state->rleData.reset(new (std::nothrow) uint8_t[size_t(available)]);
    if (!state->rleData) return false;
    const int got = picBinReadAvailable(stream, state->rleData.get(), int(available));
    if (got <= 0 || picBinError(stream)) return refuseRows("run-length data unreadable");
    state->rleSize = size_t(got);
  } else {
    if (int64_t(state->dataOffset) + int64_t(state->lineSize) * file->height > fileSize)
      return refuseRows("rows past the end of the file");
    if (!state->rows.start(state->lineSize, file->height)) return false;
  }
  state->rowsStarted = true;
  return true;
}

void stepLine(picFile* file, const BmpState* state) { file->currentLine += state->topDown ? -1 : 1; }

int readLine(picFile* file, uint8_t* line) {
  BmpState* state = stateOf(file);
  if (!state->rowsStarted && !startRows(file, state)) return PIC_ERR_READ;
  if (isRunLength(state->compression)) {
    const auto decodeRow = state->compression == bmpRle8 ? picBmpDecodeRle8Row : picBmpDecodeRle4Row;
    if (!decodeRow(state->rleData.get(), state->rleSize, &state->rleCursor, line, file->width))
      return picRefuse(PIC_ERR_READ, "run-length data ends inside a row");
  } else {
    const uint8_t* stored = state->rows.next(state->file);
    if (!stored) return picRefuse(PIC_ERR_READ, "data ends inside a row");
    picUnpackIndices(stored, state->bitCount, file->width, false, line);
  }
  stepLine(file, state);
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  BmpState* state = stateOf(file);
  uint8_t* buffer = state->lineBuffer.get();
  int length = state->lineSize;
  if (state->compression == bmpRle8) {
    length = int(picBmpEncodeRle8Row(line, file->width, buffer));
    if (file->currentLine == file->height - 1) {
      std::memcpy(buffer + length, rleEndOfBitmap, sizeof rleEndOfBitmap);
      length += int(sizeof rleEndOfBitmap);
    }
    state->rleWritten += length;
  } else {
    std::memcpy(buffer, line, size_t(file->width));
  }
  if (!writeExactly(state->file, buffer, length)) return PIC_ERR_WRITE;
  ++file->currentLine;
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  BmpState* state = stateOf(file);
  if (!state->rowsStarted && !startRows(file, state)) return PIC_ERR_READ;
  const uint8_t* stored = state->rows.next(state->file);
  if (!stored) return picRefuse(PIC_ERR_READ, "data ends inside a row");
  convertRgbRow(state, stored, file->width, red, green, blue);
  stepLine(file, state);
  return PIC_OK;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  BmpState* state = stateOf(file);
  uint8_t* buffer = state->lineBuffer.get();
  picPackPixels(blue, green, red, file->width, buffer);
  if (!writeExactly(state->file, buffer, state->lineSize)) return PIC_ERR_WRITE;
  ++file->currentLine;
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: a 24-bit header claiming width x height and
// no rows at all.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> b(fileHeaderSize + infoHeaderSize, 0);
  std::memcpy(b.data(), bmpSignature, 2);
  picPutLE32(&b[10], fileHeaderSize + infoHeaderSize);  // data offset
  picPutLE32(&b[headerSizeField], infoHeaderSize);
  picPutLE32(&b[18], uint32_t(width));
  picPutLE32(&b[22], uint32_t(height));
  picPutLE16(&b[26], 1);   // planes
  picPutLE16(&b[28], 24);  // bits per pixel; uncompressed
  return b;
}

picDriver driver = {PIC_DRIVER_BMP, control, openRead,    openWrite,   close, readMap,
                    writeMap, readLine,  writeLine,   readRGBLine, writeRGBLine};

}  // namespace

picDriver* picBmpDriver(void) { return &driver; }

extern const picFormatInfo picBmpFormat = {
    "bmp", ".bmp", picBmpDriver, true, true, picMapWriter::keeps,
    {{"none", PIC_COMP_NONE, "uncompressed", false}, {"rle", PIC_COMP_RLE, "RLE8, colour maps only", true}},
    minimalHeader};
