// Targa (TGA) files: an 18-byte little-endian header, an identification field,
// an optional colour map, then the lines, uncompressed or run-length encoded.
// Reads colour-mapped (types 1, 9), true-colour (2, 10) and grey (3, 11) files:
// indices of 1, 4 or 8 bits (run-length: 8) with maps of 15, 16, 24 or 32-bit
// entries, pixels of 15, 16, 24 or 32 bits, grey of 1, 4 or 8 bits (run-length:
// 8), and grey with alpha, 16 bits of a grey byte and an alpha byte, loaded as
// true colour with the alpha dropped; either line order, and lines stored right
// to left (descriptor bit 0x10) mirrored back; run-length packets may run on
// into the next line. A colour-mapped file is described with its map's first
// index plus its length, or with 2^depth colours when its indices reach
// further; entries below the first and past the map are black. Writes
// colour-mapped images as 8-bit indices with a 24-bit map and true colour as
// 24-bit pixels, uncompressed or run-length encoded, top line first.
// The format has no magic number and is tried last, so the header is checked
// strictly: anything unlike a Targa header is left alone (PIC_ERR_FORMAT).
// Memory: one line of stored pixels and, for run-length data from a stream not
// held in memory, a 64 KB window.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

const int tgaHeaderSize = 18;
const int tgaMaxSide = 0xffff;  // width and height are 16-bit fields

// Header field offsets.
const int offIdLength = 0;
const int offMapType = 1;
const int offImageType = 2;
const int offMapFirst = 3;
const int offMapLength = 5;
const int offMapEntryBits = 7;
const int offWidth = 12;
const int offHeight = 14;
const int offDepth = 16;
const int offDescriptor = 17;

enum {
  typeMapped = 1,
  typeTrueColour = 2,
  typeGrey = 3,
  typeMappedRle = 9,
  typeTrueColourRle = 10,
  typeGreyRle = 11
};
const int descriptorRightFirst = 0x10;
const int descriptorTopFirst = 0x20;

const int maxPacketPixels = 128;
const int maxPixelBytes = 4;
const int maxPacketBytes = 1 + maxPacketPixels * maxPixelBytes;
const int runBlock = 64 * 1024;  // the window's block when the file is not in memory
const int runLook = 16 * 1024;   // bytes one look asks for: many packets, at least one whole
static_assert(runLook >= maxPacketBytes, "a look that ends inside a packet is not the data's end");

// ---- Pure helpers -------------------------------------------------------

bool isRunLength(int type) { return type >= typeMappedRle; }
int baseType(int type) { return isRunLength(type) ? type - 8 : type; }
bool isKnownType(int type) { return (type >= 1 && type <= 3) || (type >= 9 && type <= 11); }
bool isKnownDepth(int depth) {
  return (depth >= 1 && depth <= 8) || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}
bool isMapEntrySize(int bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }
int bytesFor(int bits) { return (bits + 7) / 8; }
// Bytes of one uncompressed line: indices of under 8 bits are packed, while
// 15-bit pixels take a whole 16-bit word each, as every writer stores them.
int64_t lineBytesFor(int64_t width, int depth) {
  return depth < 8 ? (width * depth + 7) / 8 : width * bytesFor(depth);
}

// A pixel or map entry of 15/16 bits (blue in bits 0-4), or 24/32 bits stored
// blue, green, red.
int32_t decodeColour(const uint8_t* p, int bytes) {
  if (bytes == 2) {
    const unsigned word = picGetLE16(p);
    return picEncodeColour(int((word >> 10) & 31) << 3, int((word >> 5) & 31) << 3, int(word & 31) << 3);
  }
  return picEncodeColour(p[2], p[1], p[0]);
}

void mirror(uint8_t* samples, int width) { std::reverse(samples, samples + width); }

// Grey with alpha: each pixel's first byte in every plane, its alpha unused.
void splitGreyAlpha(const uint8_t* pixels, int width, uint8_t* red, uint8_t* green, uint8_t* blue) {
  for (int x = 0; x < width; ++x) red[x] = pixels[2 * x];
  std::memcpy(green, red, size_t(width));
  std::memcpy(blue, red, size_t(width));
}

void splitPixels(const uint8_t* pixels, int bytes, int width, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (bytes == 2) {
    for (int x = 0; x < width; ++x, pixels += 2)
      picDecodeColour(&red[x], &green[x], &blue[x], decodeColour(pixels, 2));
    return;
  }
  picSplitPixels(pixels, bytes, width, blue, green, red);
}

// A packet begun in one line and finished in the next.
struct RunCarry {
  int repeatLeft = 0;   // repeats of `pixel` still to come
  int literalLeft = 0;  // literal pixels still to come from the packed data
  uint8_t pixel[maxPixelBytes] = {};
};

// Expands whole packets from `packed` (length bytes) into `out` until `pixels`
// pixels are there; a packet passing that end is carried over. Stops early at
// a packet not wholly inside `packed`. Returns the bytes consumed; *produced
// receives the pixels written.
size_t expandPackets(const uint8_t* packed, size_t length, int pixelBytes, RunCarry& carry,
                     uint8_t* out, int pixels, int* produced) {
  const size_t unit = size_t(pixelBytes);
  size_t at = 0;
  int x = 0;
  while (x < pixels) {
    if (carry.repeatLeft > 0) {
      for (; carry.repeatLeft > 0 && x < pixels; --carry.repeatLeft, ++x)
        std::memcpy(out + size_t(x) * unit, carry.pixel, unit);
      continue;
    }
    if (carry.literalLeft > 0) {
      const int take = carry.literalLeft < pixels - x ? carry.literalLeft : pixels - x;
      std::memcpy(out + size_t(x) * unit, packed + at, size_t(take) * unit);
      at += size_t(take) * unit;
      x += take;
      carry.literalLeft -= take;
      continue;
    }
    if (at >= length) break;
    const int header = packed[at];
    const int count = (header & 0x7f) + 1;
    const bool repeat = (header & 0x80) != 0;
    const size_t packetBytes = 1 + (repeat ? unit : unit * size_t(count));
    if (packetBytes > length - at) break;
    ++at;
    if (repeat) {
      std::memcpy(carry.pixel, packed + at, unit);
      at += unit;
      carry.repeatLeft = count;
    } else {
      carry.literalLeft = count;
    }
  }
  *produced = x;
  return at;
}

// Appends the run-length packets of one line of `count` pixels to `out`, which
// must hold count * (pixelBytes + 1) bytes. Returns the bytes written.
size_t packLine(const uint8_t* pixels, int count, int pixelBytes, uint8_t* out) {
  const size_t unit = size_t(pixelBytes);
  auto same = [&](int a, int b) { return std::memcmp(pixels + a * unit, pixels + b * unit, unit) == 0; };
  auto raw = [&](int first, int n, size_t at) {
    out[at++] = uint8_t(n - 1);
    std::memcpy(out + at, pixels + size_t(first) * unit, size_t(n) * unit);
    return at + size_t(n) * unit;
  };
  size_t at = 0;
  int i = 0;
  while (i < count) {
    if (i + 1 < count && same(i, i + 1)) {
      int run = 2;
      while (i + run < count && run < maxPacketPixels && same(i, i + run)) ++run;
      out[at++] = uint8_t(0x80 | (run - 1));
      std::memcpy(out + at, pixels + size_t(i) * unit, unit);
      at += unit;
      i += run;
      if (i == count - 1) {  // a single pixel left after a repeat: a repeat of one
        out[at++] = 0x80;
        std::memcpy(out + at, pixels + size_t(i) * unit, unit);
        at += unit;
        ++i;
      }
      continue;
    }
    int end = i + 1;
    while (end < count && end - i < maxPacketPixels && !(end + 1 < count && same(end, end + 1))) ++end;
    if (end == count && end - i > 1) {  // the line's last pixel goes in a packet of its own
      at = raw(i, end - 1 - i, at);
      i = end - 1;
    }
    at = raw(i, end - i, at);
    i = end;
  }
  return at;
}

// ---- Driver state -------------------------------------------------------

// Expands one line of run-length packets read through the window; a packet
// passing the line's end is carried into the next.
int readRunLine(picInputWindow& window, RunCarry& carry, int pixelBytes, uint8_t* out, int pixels) {
  int done = 0;
  while (done < pixels) {
    const uint8_t* packed;
    const int shown = window.look(runLook, &packed);
    int produced = 0;
    window.consume(int(expandPackets(packed, size_t(shown), pixelBytes, carry,
                                     out + size_t(done) * size_t(pixelBytes), pixels - done, &produced)));
    done += produced;
    // A short look showed all the data left: what it could not finish never will be.
    if (done < pixels && shown < runLook) return picRefuse(PIC_ERR_READ, "run-length data ends inside a line");
  }
  return PIC_OK;
}

struct TargaState {
  picBinFile* stream;
  int lineBytes;
  int mapType;
  int imageType;
  int mapEntryBits;
  int depth;
  std::unique_ptr<uint8_t[]> line;
  picLineBlock rows;  // reading uncompressed lines
  std::unique_ptr<uint8_t[]> packed;  // writing: one run-length line
  bool topFirst;
  bool rightFirst;  // lines stored right to left
  int mapFirst;
  int mapLength;
  long mapOffset;
  long dataOffset;
  bool linesStarted;
  picInputWindow runs;  // run-length lines
  RunCarry carry;
};

TargaState* stateOf(picFile* file) { return static_cast<TargaState*>(file->driverData); }

picFile* release(picFile* file, TargaState* state, int* status, int code) {
  if (state && state->stream) picBinClose(state->stream);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Grey pixels of 16 bits: a grey byte, then an alpha byte.
bool isGreyAlpha(const TargaState& s) { return baseType(s.imageType) == typeGrey && s.depth == 16; }

// Why the line code does not handle the image's depth, or its map if it uses
// one; null when it does.
const char* unsupported(const TargaState& s) {
  const int type = baseType(s.imageType);
  if (type == typeTrueColour)
    return s.depth == 15 || s.depth == 16 || s.depth == 24 || s.depth == 32
               ? nullptr
               : "true colour of other than 15, 16, 24 or 32 bits";
  if (isGreyAlpha(s)) return nullptr;
  if (isRunLength(s.imageType) && s.depth != 8) return "run-length indices or grey of other than 8 bits";
  if (s.depth != 1 && s.depth != 4 && s.depth != 8)
    return type == typeGrey ? "grey of other than 1, 4, 8 or 16 bits" : "indices of other than 1, 4 or 8 bits";
  if (type == typeGrey) return nullptr;
  if (s.mapLength == 0) return "an empty colour map";
  if (s.mapFirst + s.mapLength > PIC_MAX_COLOURS) return "colour map past 256 entries";
  if (!isMapEntrySize(s.mapEntryBits)) return "map entries of other than 15, 16, 24 or 32 bits";
  return nullptr;
}

// ---- Operations ---------------------------------------------------------

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  TargaState* state = picNewState<TargaState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  // Everything that can be checked without a magic number is.
  uint8_t header[tgaHeaderSize];
  if (picBinReadAvailable(state->stream, header, tgaHeaderSize) != tgaHeaderSize)
    return release(file, state, status, PIC_ERR_FORMAT);
  state->mapType = header[offMapType];
  state->imageType = header[offImageType];
  state->mapFirst = picGetLE16(header + offMapFirst);
  state->mapLength = picGetLE16(header + offMapLength);
  state->mapEntryBits = header[offMapEntryBits];
  state->depth = header[offDepth];
  state->topFirst = (header[offDescriptor] & descriptorTopFirst) != 0;
  state->rightFirst = (header[offDescriptor] & descriptorRightFirst) != 0;
  const int width = picGetLE16(header + offWidth), height = picGetLE16(header + offHeight);
  const int type = baseType(state->imageType);
  if (state->mapType > 1 || !isKnownType(state->imageType) || (type == typeMapped && state->mapType == 0) ||
      !isKnownDepth(state->depth) || width == 0 || height == 0)
    return release(file, state, status, PIC_ERR_FORMAT);

  // Where the map and the lines lie. A file cut short is still described; its
  // load fills the lines that are there and then fails.
  const int64_t mapBytes = state->mapType ? int64_t(state->mapLength) * bytesFor(state->mapEntryBits) : 0;
  const int64_t mapOffset = tgaHeaderSize + int64_t(header[offIdLength]);
  const int64_t dataOffset = mapOffset + mapBytes;
  const int pixelBytes = bytesFor(state->depth);
  state->mapOffset = long(mapOffset);
  state->dataOffset = long(dataOffset);

  int colours = 0;
  if (type == typeMapped)
    colours = picColoursForIndices(state->mapFirst + state->mapLength, state->depth);
  else if (type == typeGrey)
    colours = state->depth <= 8 ? 1 << state->depth : PIC_MAX_COLOURS;
  picDescribe(file, width, height, type == typeTrueColour || isGreyAlpha(*state) ? PIC_RGB : PIC_MAP,
              isRunLength(state->imageType) ? PIC_COMP_RLE : PIC_COMP_NONE, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = state->topFirst ? height - 1 : 0;
  file->driverData = state;
  if (const char* reason = unsupported(*state)) return picOpenResult(status, picRefuse(PIC_ERR_DATA, reason), file);
  if (picCheckReadSize(width, height, pixelBytes) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, file);

  state->lineBytes = int(lineBytesFor(width, state->depth));
  state->line.reset(new (std::nothrow) uint8_t[size_t(width) * size_t(pixelBytes)]);
  if (!state->line) return release(file, state, status, PIC_ERR_READ);
  return picOpenResult(status, PIC_OK, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  const bool mapped = colourMode == PIC_MAP;
  if (!mapped && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour mode neither map nor RGB"), nullptr);
  // 16-bit header fields; a map needs at least one entry.
  if (width <= 0 || height <= 0 || width > tgaMaxSide || height > tgaMaxSide)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "sides past the header's 16-bit fields"), nullptr);
  if (mapped && (colours < 1 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "map of no colours or over 256"), nullptr);
  if (compression != PIC_COMP_NONE && compression != PIC_COMP_RLE && compression != PIC_COMP_LZW)
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "a compression the writer does not make"), nullptr);
  picFile* file = picNewFile();
  TargaState* state = picNewState<TargaState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  const bool runLength = compression != PIC_COMP_NONE;
  state->depth = mapped ? 8 : 24;
  state->imageType = (mapped ? typeMapped : typeTrueColour) + (runLength ? 8 : 0);
  state->lineBytes = width * (state->depth / 8);
  state->topFirst = true;
  picDescribe(file, width, height, colourMode, compression, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->planeOrder[0] = 2;
  file->planeOrder[2] = 0;
  // Top line first: decoders that ignore the descriptor's order bit still see
  // the picture the right way up.
  file->currentLine = height - 1;

  state->line.reset(new (std::nothrow) uint8_t[size_t(state->lineBytes)]);
  // Room for the worst run-length line: a packet header before every pixel.
  if (runLength) state->packed.reset(new (std::nothrow) uint8_t[size_t(width) * size_t(state->depth / 8 + 1)]);
  if (!state->line || (runLength && !state->packed)) return release(file, state, status, PIC_ERR_OPEN);

  uint8_t header[tgaHeaderSize] = {};
  header[offMapType] = mapped ? 1 : 0;
  header[offImageType] = uint8_t(state->imageType);
  picPutLE16(header + offMapLength, uint32_t(file->colours));
  header[offMapEntryBits] = mapped ? 24 : 0;
  picPutLE16(header + offWidth, uint32_t(width));
  picPutLE16(header + offHeight, uint32_t(height));
  header[offDepth] = uint8_t(state->depth);
  header[offDescriptor] = descriptorTopFirst;
  if (picBinWrite(state->stream, header, tgaHeaderSize) != tgaHeaderSize || picBinError(state->stream))
    return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  TargaState* state = stateOf(file);
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile* file, int32_t* map) {
  TargaState* state = stateOf(file);
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  if (baseType(state->imageType) == typeGrey) {
    for (int i = 0; i < colours; ++i) {
      const int v = colours > 1 ? i * 255 / (colours - 1) : 255;
      map[i] = picEncodeColour(v, v, v);
    }
    return PIC_OK;
  }
  const int entryBytes = bytesFor(state->mapEntryBits);
  std::unique_ptr<uint8_t[]> entries(new (std::nothrow) uint8_t[size_t(state->mapLength) * size_t(entryBytes)]);
  if (!entries) return PIC_ERR_READ;
  const int bytes = state->mapLength * entryBytes;
  picBinSeekSet(state->stream, int(state->mapOffset));
  if (picBinRead(state->stream, entries.get(), bytes) != bytes || picBinError(state->stream))
    return picRefuse(PIC_ERR_READ, "colour map past the end of the file");
  // Indices count from the map's first entry; entries below it and past the map are black.
  picFillMissingColours(map, 0, std::min(state->mapFirst, colours));
  for (int i = 0; i < state->mapLength && state->mapFirst + i < colours; ++i)
    map[state->mapFirst + i] = decodeColour(entries.get() + size_t(i) * size_t(entryBytes), entryBytes);
  picFillMissingColours(map, state->mapFirst + state->mapLength, colours);
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  TargaState* state = stateOf(file);
  uint8_t entries[3 * PIC_MAX_COLOURS];
  for (int i = 0; i < file->colours; ++i)
    picDecodeColour(&entries[3 * i + 2], &entries[3 * i + 1], &entries[3 * i], map[i]);
  const int length = 3 * file->colours;
  if (picBinWrite(state->stream, entries, length) != length || picBinError(state->stream)) return PIC_ERR_WRITE;
  return PIC_OK;
}

// Moves to the next line in file order.
void advance(picFile* file) { file->currentLine += stateOf(file)->topFirst ? -1 : 1; }

// The next line's pixels, unpacked to whole bytes per pixel for run-length
// files, as stored otherwise.
int readPixels(picFile* file, const uint8_t** pixels) {
  TargaState* state = stateOf(file);
  if (!state->linesStarted) {
    picBinSeekSet(state->stream, int(state->dataOffset));
    state->linesStarted = true;
    const bool started = isRunLength(state->imageType) ? state->runs.start(state->stream, runBlock)
                                                       : state->rows.start(state->lineBytes, file->height);
    if (!started) return PIC_ERR_READ;
  }
  *pixels = state->line.get();
  if (isRunLength(state->imageType))
    return readRunLine(state->runs, state->carry, bytesFor(state->depth), state->line.get(), file->width);
  *pixels = state->rows.next(state->stream);
  return *pixels ? PIC_OK : picRefuse(PIC_ERR_READ, "data ends inside a line");
}

int readLine(picFile* file, uint8_t* line) {
  TargaState* state = stateOf(file);
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;  // no indices to unpack
  const uint8_t* pixels;
  const int result = readPixels(file, &pixels);
  if (result != PIC_OK) return result;
  picUnpackIndices(pixels, state->depth, file->width, false, line);
  if (state->rightFirst) mirror(line, file->width);
  advance(file);
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  TargaState* state = stateOf(file);
  if (file->colourMode != PIC_RGB) return PIC_ERR_READ;  // the line holds too few bytes
  const uint8_t* pixels;
  const int result = readPixels(file, &pixels);
  if (result != PIC_OK) return result;
  if (isGreyAlpha(*state))
    splitGreyAlpha(pixels, file->width, red, green, blue);
  else
    splitPixels(pixels, bytesFor(state->depth), file->width, red, green, blue);
  if (state->rightFirst)
    for (uint8_t* plane : {red, green, blue}) mirror(plane, file->width);
  advance(file);
  return PIC_OK;
}

// Writes one line of pixels, packed when the file is run-length encoded.
int writePixels(picFile* file, const uint8_t* pixels, int pixelBytes) {
  TargaState* state = stateOf(file);
  int length = file->width * pixelBytes;
  const uint8_t* data = pixels;
  if (state->packed) {
    length = int(packLine(pixels, file->width, pixelBytes, state->packed.get()));
    data = state->packed.get();
  }
  if (picBinWrite(state->stream, data, length) != length || picBinError(state->stream)) return PIC_ERR_WRITE;
  advance(file);
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  return file->colourMode == PIC_MAP ? writePixels(file, line, 1) : PIC_ERR_WRITE;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_WRITE;  // the line buffer holds one byte a pixel
  uint8_t* pixels = stateOf(file)->line.get();
  picPackPixels(blue, green, red, file->width, pixels);
  return writePixels(file, pixels, 3);
}

int control(void*, int) { return 0; }

// For tests of the size checks: an uncompressed 24-bit header, top line
// first, claiming width x height, and no lines at all.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> b(tgaHeaderSize, 0);
  b[offImageType] = typeTrueColour;
  picPutLE16(&b[offWidth], uint32_t(width));
  picPutLE16(&b[offHeight], uint32_t(height));
  b[offDepth] = 24;
  b[offDescriptor] = descriptorTopFirst;
  return b;
}

picDriver driver = {PIC_DRIVER_TARGA, control, openRead,  openWrite, close,      readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picTargaDriver(void) { return &driver; }

extern const picFormatInfo picTargaFormat = {
    "tga", ".tga", picTargaDriver, true, true, picMapWriter::keeps,
    {{"none", PIC_COMP_NONE, "uncompressed", false}, {"rle", PIC_COMP_RLE, "run-length", false}},
    minimalHeader};
