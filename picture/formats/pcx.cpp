// PCX images: a 128-byte little-endian header, rows of one or more planes,
// optionally run-length encoded, and for 8-bit version 5 files a 256-colour
// palette behind the pixel data.
// Reads 1-bit, 4-colour (packed 2-bit pixels in one plane, as CGA pictures
// are stored), 16-colour (four 1-bit planes, or packed 4-bit pixels in one
// plane), 8-bit colour-mapped and 24-bit (three 8-bit planes) images. A CGA
// picture's colours are its header palette's first four entries, as other
// readers show them, even where PC Paintbrush stored a background and palette
// selection there. Writes 8-bit colour-mapped and 24-bit images, run-length
// encoded or not: the format has one compression, so any compression code asks
// for it. Refuses other plane layouts and rows shorter than the width needs.
// A file that begins with 10 but carries an unknown version, encoding or bit
// depth is not taken for PCX (PIC_ERR_FORMAT): it is left to the drivers after
// this one, so that a Targa file with a 10-byte identification field, whose
// first byte is 10 too, still loads as Targa.
// Memory: one decoded row of all planes and, for a stream not held in memory, a
// 64 KB window.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/formats/pcx_runs.h"

namespace {

const uint8_t pcxManufacturer = 10;
const uint8_t pcxWrittenVersion = 5;
const uint8_t pcxVersionNoPalette = 3;
const int pcxHeaderSize = 128;
const int pcxHeaderPaletteOffset = 16;
const int pcxHeaderPaletteSize = 48;
const int pcxPlanesOffset = 65;
const int pcxBytesPerLineOffset = 66;
const uint8_t pcxEndPaletteMarker = 12;
const int pcxEndPaletteSize = 768;
const int pcxMaxSide = 65535;        // header sides and bytes per line are 16-bit
const int pcxInputBlock = 65536;  // the window's block when the file is not in memory
const int pcxInputLook = 16384;   // bytes one look asks for

const uint8_t defaultPalette[pcxHeaderPaletteSize] = {
    0,  0,  0,   0,   0,   255, 0,   255, 0,   0,   255, 255, 255, 0,  0,   255,
    0,  255, 255, 255, 0,  255, 255, 255, 85,  85,  255, 85,  85,  85, 0,   170,
    0,  170, 0,  0,   85,  255, 255, 255, 85,  255, 255, 255, 85,  255, 255, 255};

// The header fields the driver uses.
struct PcxHeader {
  uint8_t version;
  uint8_t encoding;
  uint8_t bitsPerPixel;
  int xmin, ymin, xmax, ymax;
  int xResolution, yResolution;
  uint8_t palette[pcxHeaderPaletteSize];
  int planes;
  int bytesPerLine;
};

struct PcxState {
  picBinFile* file;
  int bitsTotal;
  int bitsPerPixel;
  uint8_t version;
  uint8_t encoded;
  int bytesPerLine;
  int planes;
  int lineSize;
  std::unique_ptr<uint8_t[]> lineBuffer;
  std::unique_ptr<uint8_t[]> rgbBuffer;
  uint8_t headerPalette[pcxHeaderPaletteSize];
  picInputWindow input;  // the rows' bytes
};

PcxState* stateOf(picFile* file) { return static_cast<PcxState*>(file->driverData); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, PcxState* state, int* status, int code) {
  if (state && state->file) picBinClose(state->file);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Plausible first bytes of a PCX header, so that files of other formats that
// happen to start with 10 are left to their own drivers.
bool plausibleStart(const uint8_t* bytes) {
  const uint8_t version = bytes[1], encoding = bytes[2], bits = bytes[3];
  return bytes[0] == pcxManufacturer && (version == 0 || (version >= 2 && version <= 5)) &&
         encoding <= 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}

PcxHeader decodeHeader(const uint8_t* bytes) {
  PcxHeader header;
  header.version = bytes[1];
  header.encoding = bytes[2];
  header.bitsPerPixel = bytes[3];
  header.xmin = picGetLE16(bytes + 4);
  header.ymin = picGetLE16(bytes + 6);
  header.xmax = picGetLE16(bytes + 8);
  header.ymax = picGetLE16(bytes + 10);
  header.xResolution = picGetLE16(bytes + 12);
  header.yResolution = picGetLE16(bytes + 14);
  std::memcpy(header.palette, bytes + pcxHeaderPaletteOffset, pcxHeaderPaletteSize);
  header.planes = bytes[pcxPlanesOffset];
  header.bytesPerLine = picGetLE16(bytes + pcxBytesPerLineOffset);
  return header;
}

// Colours of the plane layouts the reader unpacks; 0 for any other layout.
int coloursOfLayout(int bitsPerPixel, int planes) {
  if (bitsPerPixel == 1 && planes == 1) return 2;
  if (bitsPerPixel == 2 && planes == 1) return 4;
  if ((bitsPerPixel == 1 && planes == 4) || (bitsPerPixel == 4 && planes == 1)) return 16;
  if (bitsPerPixel == 8 && planes == 1) return 256;
  return 0;
}

bool isTrueColourLayout(int bitsPerPixel, int planes) { return bitsPerPixel == 8 && planes == 3; }

// One decoded row (all planes) into the colour indices of `width` pixels.
void unpackIndices(const PcxState& state, const uint8_t* row, int width, uint8_t* indices) {
  if (state.bitsTotal == 8) {
    std::memcpy(indices, row, size_t(width));
  } else if (state.planes == 1) {
    picUnpackIndices(row, state.bitsPerPixel, width, false, indices);
  } else {
    const int stride = state.bytesPerLine;
    for (int x = 0; x < width; ++x) {
      const int shift = 7 - (x & 7);
      const int at = x >> 3;
      indices[x] = uint8_t(((row[at] >> shift) & 1) | ((row[at + stride] >> shift) & 1) << 1 |
                           ((row[at + 2 * stride] >> shift) & 1) << 2 |
                           ((row[at + 3 * stride] >> shift) & 1) << 3);
    }
  }
}

// Reads the header: PIC_ERR_FORMAT for a file of another format, PIC_ERR_READ
// for a PCX header that ends early.
int readHeader(picBinFile* file, uint8_t* bytes) {
  const int got = picBinReadAvailable(file, bytes, pcxHeaderSize);
  if (picBinError(file) || got < 4)
    return got > 0 && bytes[0] != pcxManufacturer ? PIC_ERR_FORMAT
                                                  : picRefuse(PIC_ERR_READ, "file ends inside the header");
  if (!plausibleStart(bytes)) return PIC_ERR_FORMAT;
  return got == pcxHeaderSize ? PIC_OK : picRefuse(PIC_ERR_READ, "file ends inside the header");
}

// Fills the picFile and state from a header; PIC_ERR_DATA for an image the
// reader cannot unpack.
int describe(const PcxHeader& header, picFile* file, PcxState* state) {
  state->version = header.version;
  state->encoded = header.encoding != 0;
  state->bitsPerPixel = header.bitsPerPixel;
  state->planes = header.planes;
  state->bitsTotal = header.bitsPerPixel * header.planes;
  state->bytesPerLine = header.bytesPerLine;
  state->lineSize = header.bytesPerLine * header.planes;
  std::memcpy(state->headerPalette, header.palette, pcxHeaderPaletteSize);

  picDescribe(file, header.xmax - header.xmin + 1, header.ymax - header.ymin + 1,
              state->bitsTotal <= 8 ? PIC_MAP : PIC_RGB, state->encoded ? PIC_COMP_RLE : PIC_COMP_NONE,
              coloursOfLayout(header.bitsPerPixel, header.planes));
  file->planar = 0;
  file->mapFirst = 0;
  file->currentLine = file->height - 1;

  const bool known = file->colours != 0 || isTrueColourLayout(header.bitsPerPixel, header.planes);
  if (!known) return picRefuse(PIC_ERR_DATA, "plane layout the reader does not unpack");
  if (picCheckReadSize(file->width, file->height) != PIC_OK) return PIC_ERR_DATA;
  const int64_t neededBytes = (int64_t(file->width) * header.bitsPerPixel + 7) / 8;
  if (header.bytesPerLine < neededBytes) return picRefuse(PIC_ERR_DATA, "bytes per line below the width");
  return PIC_OK;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<PcxState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  uint8_t bytes[pcxHeaderSize];
  const int headerStatus = readHeader(state->file, bytes);
  if (headerStatus != PIC_OK) return release(file, state, status, headerStatus);
  const PcxHeader header = decodeHeader(bytes);

  double xResolution = header.xResolution, yResolution = header.yResolution;
  int unit = PIC_RES_INCH;
  picCallResolution(fileName, &xResolution, &yResolution, &unit);

  const int described = describe(header, file, state);
  file->driverData = state;
  if (described != PIC_OK) return picOpenResult(status, described, file);

  state->lineBuffer = picNewBytes(size_t(state->lineSize));
  if (!state->lineBuffer) return release(file, state, status, PIC_ERR_READ);
  return picOpenResult(status, PIC_OK, file);
}

// Writes the resolution the callback leaves, in dots per inch.
void resolutionToWrite(const char* fileName, uint8_t* header) {
  double xResolution = 0.0, yResolution = 0.0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xResolution, &yResolution, &unit);
  if (unit == PIC_RES_NONE) return;
  if (unit == PIC_RES_CM) {
    xResolution *= 2.54;
    yResolution *= 2.54;
  }
  auto field = [](double value) {
    return value <= 0.0 ? 0u : value >= pcxMaxSide ? unsigned(pcxMaxSide) : unsigned(value);
  };
  picPutLE16(header + 12, field(xResolution));
  picPutLE16(header + 14, field(yResolution));
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour mode neither map nor RGB"), nullptr);
  if (picCheckImageSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);
  // Even bytes per line must fit 16 bits, so the widest row is one short of it.
  if (width > pcxMaxSide - 1 || height > pcxMaxSide + 1)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "sides past the header's 16-bit fields"), nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<PcxState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  picDescribe(file, width, height, colourMode, compression, colours);
  file->planar = 0;
  file->mapFirst = 0;
  file->currentLine = height - 1;
  state->version = pcxWrittenVersion;
  state->encoded = compression != PIC_COMP_NONE;
  state->bitsPerPixel = 8;
  state->planes = colourMode == PIC_MAP ? 1 : 3;
  state->bitsTotal = 8 * state->planes;
  state->bytesPerLine = width + (width & 1);
  state->lineSize = state->bytesPerLine * state->planes;

  uint8_t header[pcxHeaderSize] = {};
  header[0] = pcxManufacturer;
  header[1] = state->version;
  header[2] = state->encoded;
  header[3] = uint8_t(state->bitsPerPixel);
  picPutLE16(header + 8, uint32_t(width - 1));
  picPutLE16(header + 10, uint32_t(height - 1));
  resolutionToWrite(fileName, header);
  std::memcpy(header + pcxHeaderPaletteOffset, defaultPalette, pcxHeaderPaletteSize);
  header[pcxPlanesOffset] = uint8_t(state->planes);
  picPutLE16(header + pcxBytesPerLineOffset, uint32_t(state->bytesPerLine));
  if (picBinWrite(state->file, header, pcxHeaderSize) != pcxHeaderSize || picBinError(state->file))
    return release(file, state, status, PIC_ERR_WRITE);

  // Zero-filled, so the pad byte of odd widths stays 0.
  state->lineBuffer = picNewBytes(size_t(state->lineSize) * 2);
  state->rgbBuffer = picNewBytes(size_t(state->lineSize));
  if (!state->lineBuffer || !state->rgbBuffer) return release(file, state, status, PIC_ERR_OPEN);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  PcxState* state = stateOf(file);
  const int closed = picCloseStream(state->file);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

// The palette bytes behind the image data of an 8-bit version 5 file.
int readEndPalette(picBinFile* stream, uint8_t* palette) {
  const long size = picBinSize(stream);
  // The file layer seeks with int offsets.
  if (size < pcxHeaderSize + 1 + pcxEndPaletteSize || size - 1 - pcxEndPaletteSize > INT32_MAX)
    return picRefuse(PIC_ERR_READ, "no room for the palette at the end");
  uint8_t bytes[1 + pcxEndPaletteSize];
  picBinSeekSet(stream, int(size - 1 - pcxEndPaletteSize));
  if (picBinError(stream) || picBinRead(stream, bytes, int(sizeof bytes)) != int(sizeof bytes) ||
      picBinError(stream))
    return picRefuse(PIC_ERR_READ, "palette at the end unreadable");
  if (bytes[0] != pcxEndPaletteMarker) return picRefuse(PIC_ERR_READ, "no marker before the palette at the end");
  std::memcpy(palette, bytes + 1, pcxEndPaletteSize);
  return PIC_OK;
}

int readMap(picFile* file, int32_t* map) {
  PcxState* state = stateOf(file);
  uint8_t palette[pcxEndPaletteSize];
  int entries = pcxHeaderPaletteSize / 3;
  if (state->version == pcxWrittenVersion && state->bitsTotal == 8) {
    if (readEndPalette(state->file, palette) != PIC_OK) return PIC_ERR_READ;
    entries = PIC_MAX_COLOURS;
  } else if (state->version == pcxVersionNoPalette) {
    std::memcpy(palette, defaultPalette, pcxHeaderPaletteSize);
  } else {
    std::memcpy(palette, state->headerPalette, pcxHeaderPaletteSize);
  }
  // Two colours without a palette of their own (none in the file, whose
  // default is for 16 colours, or one colour twice) mean black and white, as
  // other readers show them.
  const bool ownColours = state->version != pcxVersionNoPalette && std::memcmp(palette, palette + 3, 3) != 0;
  if (state->bitsTotal == 1 && !ownColours) {
    std::memset(palette, 0, 3);
    std::memset(palette + 3, 255, 3);
  }
  // 8-bit files without the palette behind their data have 16 colours of
  // their own; the rest are black.
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  for (int i = 0; i < colours && i < entries; ++i)
    map[i] = picEncodeColour(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
  picFillMissingColours(map, entries, colours);
  return PIC_OK;
}

// Decodes the next row (all planes) into the line buffer.
int readRow(picFile* file) {
  PcxState* state = stateOf(file);
  picInputWindow& input = state->input;
  if (file->currentLine == file->height - 1) {
    picBinSeekSet(state->file, pcxHeaderSize);
    if (picBinError(state->file)) return picRefuse(PIC_ERR_READ, "rows past the end of the file");
    if (!input.start(state->file, pcxInputBlock)) return PIC_ERR_READ;
  }
  uint8_t* row = state->lineBuffer.get();
  const size_t rowSize = size_t(state->lineSize);
  if (!state->encoded)
    return input.read(row, state->lineSize) ? PIC_OK : picRefuse(PIC_ERR_READ, "data ends inside a row");

  size_t produced = 0;
  for (;;) {
    const uint8_t* bytes;
    const int shown = input.look(pcxInputLook, &bytes);
    input.consume(int(picPcxUnpackRuns(bytes, size_t(shown), row, rowSize, &produced)));
    if (produced == rowSize) return PIC_OK;
    // A short look showed all the data left (a count byte may wait for its value).
    if (shown < pcxInputLook) return picRefuse(PIC_ERR_READ, "run-length data ends inside a row");
  }
}

int readLine(picFile* file, uint8_t* line) {
  if (readRow(file) != PIC_OK) return PIC_ERR_READ;
  unpackIndices(*stateOf(file), stateOf(file)->lineBuffer.get(), file->width, line);
  --file->currentLine;
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (readRow(file) != PIC_OK) return PIC_ERR_READ;
  const PcxState* state = stateOf(file);
  const uint8_t* row = state->lineBuffer.get();
  const size_t width = size_t(file->width), stride = size_t(state->bytesPerLine);
  std::memcpy(red, row, width);
  std::memcpy(green, row + stride, width);
  std::memcpy(blue, row + 2 * stride, width);
  --file->currentLine;
  return PIC_OK;
}

// Writes the planes held in rgbBuffer, each plane encoded on its own so that
// no run crosses from one plane into the next.
int writeRow(picFile* file) {
  PcxState* state = stateOf(file);
  const uint8_t* row = state->rgbBuffer.get();
  if (!state->encoded)
    return picBinWrite(state->file, row, state->lineSize) == state->lineSize && !picBinError(state->file)
               ? PIC_OK
               : PIC_ERR_WRITE;
  size_t encoded = 0;
  for (int plane = 0; plane < state->planes; ++plane)
    encoded += picPcxPackRuns(row + size_t(plane) * size_t(state->bytesPerLine), size_t(state->bytesPerLine),
                        state->lineBuffer.get() + encoded);
  if (picBinWrite(state->file, state->lineBuffer.get(), int(encoded)) != int(encoded) ||
      picBinError(state->file))
    return PIC_ERR_WRITE;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  std::memcpy(stateOf(file)->rgbBuffer.get(), line, size_t(file->width));
  if (writeRow(file) != PIC_OK) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  PcxState* state = stateOf(file);
  uint8_t* row = state->rgbBuffer.get();
  const size_t width = size_t(file->width), stride = size_t(state->bytesPerLine);
  std::memcpy(row, red, width);
  std::memcpy(row + stride, green, width);
  std::memcpy(row + 2 * stride, blue, width);
  if (writeRow(file) != PIC_OK) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  PcxState* state = stateOf(file);
  uint8_t bytes[1 + pcxEndPaletteSize] = {pcxEndPaletteMarker};
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  for (int i = 0; i < colours; ++i)
    picDecodeColour(&bytes[1 + 3 * i], &bytes[2 + 3 * i], &bytes[3 + 3 * i], map[i]);
  if (picBinWrite(state->file, bytes, int(sizeof bytes)) != int(sizeof bytes) || picBinError(state->file))
    return PIC_ERR_WRITE;
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: an uncompressed 24-bit header claiming
// width x height and no rows at all.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> b(pcxHeaderSize, 0);
  b[0] = pcxManufacturer;
  b[1] = pcxWrittenVersion;
  b[3] = 8;  // bits per pixel per plane; not encoded
  picPutLE16(&b[8], uint32_t(width - 1));    // xmax
  picPutLE16(&b[10], uint32_t(height - 1));  // ymax
  b[pcxPlanesOffset] = 3;
  picPutLE16(&b[pcxBytesPerLineOffset], uint32_t(width));
  return b;
}

picDriver driver = {PIC_DRIVER_PCX, control, openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picPcxDriver(void) { return &driver; }

extern const picFormatInfo picPcxFormat = {
    "pcx", ".pcx", picPcxDriver, true, true, picMapWriter::keeps,
    {{"rle", PIC_COMP_RLE, "run-length", false}, {"none", PIC_COMP_NONE, "uncompressed", false}},
    minimalHeader};
