// PNG files, on the binary file layer (so from and to memory as well), read
// by our own decoder. Reads every colour type and depth: palette (1 to 8
// bits) and grey of 8 bits or fewer as index lines with the palette or a grey
// ramp (a palette shorter than its depth addresses is described with 2^depth
// colours, the entries past it black); grey of 16 bits, grey with alpha, RGB
// and RGBA as red, green and blue lines; 16-bit samples reduced to 8 with
// rounding, (v * 255 + 32895) >> 16; interlaced (Adam7) files too. Alpha (an
// alpha channel, or a tRNS chunk) is dropped, not composited: the library has
// no alpha, and the stored colours are the picture's own, which is what
// Pillow's convert("RGB") and ImageMagick give for an opaque result, so both
// can judge our decodes; compositing over black would darken whatever is
// partly transparent, a choice no reader of the file could guess. Writes
// 8-bit RGB from true colour and 8-bit palette files from colour-mapped
// images through our own encoder (png_encoder.cpp): rows filtered as libpng's
// default writer filters them, deflated by libdeflate (PIC_COMP_NONE stores
// the rows unfiltered in stored deflate blocks); refuses PIC_COMP_LZW.
// The resolution travels through the callback: read from pHYs (pixels per
// metre as PIC_RES_CM, the unknown unit as PIC_RES_NONE with its aspect
// values), written as pHYs when the callback names a unit. Every other
// ancillary chunk (text, profiles, suggested palettes, unknown chunks...) is
// skipped unread, whatever length it claims.
//
// Reading: the chunks up to the image data at open (png_chunks.cpp: order,
// lengths, names, the CRC of every critical chunk); at the first line the
// IDAT chunks' deflate data, in place for a memory file's one IDAT, else
// gathered into one buffer, then the chunks up to IEND. The filtered rows are
// inflated whole by libdeflate, each row unfiltered as its line is asked for
// and split straight into the caller's line (png_rows.cpp, png_unfilter.cpp);
// a stream the one call cannot decode (cut, damaged, a wrong Adler-32) goes
// through zlib's streaming inflate, so a cut file gives its complete rows
// before PIC_ERR_READ. An interlaced image is assembled whole at the first
// line. Damage past the last row (a wrong Adler-32, a chunk after the data
// damaged, no IEND) fails the last line's read.
// Sizes are checked from the IHDR chunk first: a file can only hold an image
// its deflate data can expand to, so a small file cannot claim a huge one (it
// is described, and its load fails with PIC_ERR_READ as a cut file's does).
// Memory: the input window (a memory file in place, else a 64 KB block); the
// image data (in place, or as many bytes as the file's IDAT chunks hold); the
// filtered image up to 256 MB (pngWholeImageCap), past that two rows and
// zlib's state (about 45 KB) as the rows are inflated one at a time; a line
// of three bytes a pixel; an interlaced image whole, a byte a pixel for
// indices and three for true colour: at most three times the pixel limit (384
// MB at the default), and no more than its deflate data could expand to
// (1032 bytes for each byte of the file).
// A save holds one line and the encoder's memory: up to 128 MB of filtered
// rows, the filtered image and libdeflate's output for it (under 260 MB in
// all); past that a band of about 1 MB, a 1 MB output buffer and zlib's
// streaming state (about 2.3 MB in all).
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/format_info.h"
#include "picture/formats/png_chunks.h"
#include "picture/formats/png_encoder.h"
#include "picture/formats/png_rows.h"

namespace {

const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const int pngIhdrEnd = pngHeaderBytes;
const int pngChunk = 64 << 10;
const uint32_t pngMaxSide = 1u << 20;
// Deflate expands a byte into at most 1032: data beyond that is not in the file.
const int64_t pngMaxDeflateRatio = 1032;
const double pngCentimetresPerMetre = 100.0;
const double pngInchesPerMetre = 100.0 / 2.54;
const double pngMaxPixelsPerUnit = 2147483647.0;  // pHYs fields are 31-bit
const int pngResolutionPerMetre = 1;  // pHYs's unit

// Reading: the file through the window, the chunks and the rows.
struct PngReading {
  picInputWindow input;
  bool inPlace = false;  // a memory file: the image data can be used where it lies
  PngHeader header = {};
  PngChunksBefore chunks = {};
  PngImageData data;
  PngRows rows;
  bool loadable = false;  // the chunks before the image data were read
  bool started = false;   // the rows were set up, at the first line
  bool broken = false;    // a line failed: the rest are not read
  int linesRead = 0;
  size_t lineBytes = 0;  // of a decoded line: a byte a pixel for indices, three for true colour
  std::unique_ptr<uint8_t[]> line;                 // a decoded line
  PngBuffer assembled;  // an interlaced image, whole
};

struct PngState {
  picBinFile* stream;
  bool writing;
  PngReading* reading;
  int32_t map[PIC_MAX_COLOURS];
  // Writing.
  PngEncoder* encoder;
  uint8_t* line;
};

PngState* stateOf(picFile* file) { return static_cast<PngState*>(file->driverData); }

// The encoder's sink.
bool writeToStream(void* stream, const uint8_t* bytes, size_t length) {
  auto* binFile = static_cast<picBinFile*>(stream);
  return length <= size_t(INT32_MAX) && picBinWrite(binFile, bytes, int(length)) == int(length) &&
         !picBinError(binFile);
}

// ---- Pure helpers on memory.

// A pHYs field from a resolution in the callback's unit: rounded, held to
// the 31 bits the field allows.
uint32_t pixelsPerMetre(double resolution, int unit) {
  const double perMetre = resolution * (unit == PIC_RES_INCH ? pngInchesPerMetre : pngCentimetresPerMetre);
  if (!(perMetre > 0.0)) return 0;
  return perMetre >= pngMaxPixelsPerUnit ? uint32_t(pngMaxPixelsPerUnit) : uint32_t(perMetre + 0.5);
}

bool readsAsMap(const PngHeader& header) {
  return header.colourType == pngPalette || (header.colourType == pngGrey && header.depth <= 8);
}

// PIC_ERR_DATA for an image too large to load; PIC_ERR_READ for one larger
// than the file's deflate data can hold (each line is stored with a filter
// byte before it): the data ends early.
int checkSizes(const PngHeader& header, int64_t fileSize) {
  if (header.width == 0 || header.height == 0) return picRefuse(PIC_ERR_DATA, "a side of no pixels");
  if (header.width > pngMaxSide || header.height > pngMaxSide) return picRefuse(PIC_ERR_DATA, "a side over 2^20 pixels");
  if (picCheckReadSize(header.width, header.height, 8) != PIC_OK) return PIC_ERR_DATA;
  const int64_t stored = int64_t(header.height) * int64_t(1 + pngRowBytes(header, header.width));
  if (stored > fileSize * pngMaxDeflateRatio) return picRefuse(PIC_ERR_READ, "file too short for its picture");
  return PIC_OK;
}

// 16-bit samples to 8, rounded.
// picScaleSample(v, 65535) without the division: the same byte for every v.
inline uint8_t scaled16(const uint8_t* sample) { return uint8_t(((sample[0] << 8 | sample[1]) * 255 + 32895) >> 16); }

// A row of `width` indices: samples of 8 bits or fewer are indices as they are.
void decodeIndices(const PngHeader& header, const uint8_t* row, uint32_t width, uint8_t* indices) {
  if (header.depth == 8)
    std::memcpy(indices, row, width);
  else
    picUnpackIndices(row, header.depth, int(width), false, indices);
}

// A row of `width` true-colour pixels, three bytes each; alpha dropped.
void decodeTrueColour(const PngHeader& header, const uint8_t* row, uint32_t width, uint8_t* rgb) {
  const int samples = pngSamplesPerPixel(header.colourType);
  const bool grey = !(header.colourType & 2);
  if (header.depth == 8) {
    for (uint32_t x = 0; x < width; ++x, row += samples, rgb += 3) {
      rgb[0] = row[0];
      rgb[1] = row[grey ? 0 : 1];
      rgb[2] = row[grey ? 0 : 2];
    }
    return;
  }
  const int step = 2 * samples;
  for (uint32_t x = 0; x < width; ++x, row += step, rgb += 3) {
    rgb[0] = scaled16(row);
    rgb[1] = grey ? rgb[0] : scaled16(row + 2);
    rgb[2] = grey ? rgb[0] : scaled16(row + 4);
  }
}

// ---- Operations.

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, PngState* state, int* status, int code) {
  if (state) {
    delete state->encoder;
    delete state->reading;
    if (state->stream) picBinClose(state->stream);
    std::free(state->line);
    picDeleteState(state);
  }
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// The palette, black up to 2^depth when it is shorter, or a grey ramp of
// 2^depth levels; returns the colour count.
int buildMap(PngState* state, const PngHeader& header, const PngChunksBefore& chunks) {
  if (header.colourType == pngPalette) {
    const uint8_t* entry = chunks.palette;
    for (int i = 0; i < chunks.paletteEntries; ++i, entry += 3)
      state->map[i] = picEncodeColour(entry[0], entry[1], entry[2]);
    const int colours = picColoursForIndices(chunks.paletteEntries, header.depth);
    picFillMissingColours(state->map, chunks.paletteEntries, colours);
    return colours;
  }
  const int colours = 1 << header.depth;
  for (int i = 0; i < colours; ++i) {
    const int level = i * 255 / (colours - 1);
    state->map[i] = picEncodeColour(level, level, level);
  }
  return colours;
}

// Gives the callback the file's pHYs (see the file comment), or zeros.
void reportResolution(const char* fileName, const PngChunksBefore& chunks) {
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  if (chunks.hasResolution) {
    const bool perMetre = chunks.unit == pngResolutionPerMetre;
    unit = perMetre ? PIC_RES_CM : PIC_RES_NONE;
    xRes = perMetre ? chunks.xPerUnit / pngCentimetresPerMetre : chunks.xPerUnit;
    yRes = perMetre ? chunks.yPerUnit / pngCentimetresPerMetre : chunks.yPerUnit;
  }
  picCallResolution(fileName, &xRes, &yRes, &unit);
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  PngState* state = picNewState<PngState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);
  state->reading = new (std::nothrow) PngReading();
  PngReading* reading = state->reading;
  if (!reading || !reading->input.start(state->stream, pngChunk)) return release(file, state, status, PIC_ERR_OPEN);
  long memorySize = 0;
  reading->inPlace = picBinMemoryBytes(state->stream, &memorySize) != nullptr;
  const uint8_t* head = nullptr;
  const int headLength = reading->input.look(pngHeaderBytes, &head);

  PngHeader& header = reading->header;
  const int headerStatus = pngDecodeHeader(head, headLength, &header);
  if (headerStatus != PIC_OK && headerStatus != PIC_ERR_DATA) return release(file, state, status, headerStatus);
  const bool mapped = readsAsMap(header);
  const bool sizeFits = header.width <= INT32_MAX && header.height <= INT32_MAX;
  // Deflate, the format's one compression, is PIC_COMP_RLE.
  picDescribe(file, sizeFits ? int(header.width) : 0, sizeFits ? int(header.height) : 0, mapped ? PIC_MAP : PIC_RGB,
              PIC_COMP_RLE, mapped && header.depth <= 8 ? 1 << header.depth : 0);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  // Described but not loadable. A file too short for its image is described
  // as any cut file is, and its load fails at the first line.
  const int sizes = headerStatus == PIC_OK ? checkSizes(header, picBinSize(state->stream)) : headerStatus;
  if (sizes == PIC_ERR_READ) return picOpenResult(status, PIC_OK, file);
  if (sizes != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, file);

  if (pngCheckHeaderChunk(head, header) != PIC_OK) return release(file, state, status, PIC_ERR_READ);
  reading->input.consume(pngHeaderBytes);
  if (pngReadChunksBefore(reading->input, header, &reading->chunks) != PIC_OK)
    return release(file, state, status, PIC_ERR_READ);
  reportResolution(fileName, reading->chunks);
  if (mapped) file->colours = buildMap(state, header, reading->chunks);
  reading->lineBytes = size_t(file->width) * (mapped ? 1 : 3);
  reading->line.reset(new (std::nothrow) uint8_t[reading->lineBytes]);
  if (!reading->line) return release(file, state, status, PIC_ERR_READ);
  reading->loadable = true;
  return picOpenResult(status, PIC_OK, file);
}

// Reads the image data and sets up its rows; an interlaced image is decoded
// whole. PIC_OK, or PIC_ERR_READ with the reason.
int startRows(PngState* state) {
  PngReading* reading = state->reading;
  const PngHeader& header = reading->header;
  const int64_t fileSize = picBinSize(state->stream);
  const int64_t bytesLeft = fileSize > reading->input.position() ? fileSize - reading->input.position() : 0;
  if (!pngReadImageData(reading->input, reading->inPlace, uint64_t(bytesLeft), reading->chunks, &reading->data) ||
      !reading->rows.start(header, reading->data.bytes, reading->data.size, reading->data.damage))
    return picRefuse(PIC_ERR_READ, "image too large for the memory");
  if (!header.interlace) return PIC_OK;
  // Every pixel is written before a line is given.
  reading->assembled = pngAllocateLarge(size_t(header.height) * reading->lineBytes);
  if (!reading->assembled) return picRefuse(PIC_ERR_READ, "image too large for the memory");
  PngPass passes[7];
  const int passCount = pngPasses(header, passes);
  const size_t pixelBytes = readsAsMap(header) ? 1 : 3;
  uint8_t* const passLine = reading->line.get();
  for (int p = 0; p < passCount; ++p) {
    const PngPass& pass = passes[p];
    for (uint32_t y = 0; pass.width > 0 && y < pass.rows; ++y) {
      int rowPass = 0;
      uint32_t rowInPass = 0;
      const uint8_t* row = reading->rows.next(&rowPass, &rowInPass);
      if (!row) return PIC_ERR_READ;
      if (pixelBytes == 1)
        decodeIndices(header, row, pass.width, passLine);
      else
        decodeTrueColour(header, row, pass.width, passLine);
      const size_t line = size_t(pass.yStart) + size_t(y) * size_t(pass.yStep);
      uint8_t* target = reading->assembled.get() + line * reading->lineBytes + size_t(pass.xStart) * pixelBytes;
      const size_t stride = size_t(pass.xStep) * pixelBytes;
      for (uint32_t x = 0; x < pass.width; ++x, target += stride)
        std::memcpy(target, passLine + x * pixelBytes, pixelBytes);
    }
  }
  return reading->rows.finish();
}

// The next row, or null when the data ends or is damaged: a line of the
// assembled image when interlaced, else the next unfiltered row of the file.
const uint8_t* nextRow(picFile* file) {
  PngState* state = stateOf(file);
  PngReading* reading = state->reading;
  if (!reading || reading->broken || reading->linesRead >= file->height) return nullptr;
  if (!reading->loadable) return nullptr;  // refused at open, with the reason
  if (!reading->started) {
    reading->started = true;
    if (startRows(state) != PIC_OK) {
      reading->broken = true;
      return nullptr;
    }
  }
  const uint8_t* row;
  if (reading->assembled) {
    row = reading->assembled.get() + size_t(reading->linesRead) * reading->lineBytes;
  } else {
    int pass = 0;
    uint32_t rowInPass = 0;
    row = reading->rows.next(&pass, &rowInPass);
    if (row && reading->linesRead + 1 == file->height && reading->rows.finish() != PIC_OK) row = nullptr;
  }
  if (!row) {
    reading->broken = true;
    return nullptr;
  }
  ++reading->linesRead;
  --file->currentLine;
  return row;
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "unknown colour mode"), nullptr);
  if (colourMode == PIC_MAP && (colours < 1 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour count outside 1 to 256"), nullptr);
  if (compression != PIC_COMP_NONE && compression != PIC_COMP_RLE)
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "compression other than deflate"), nullptr);
  if (picCheckImageSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);

  picFile* file = picNewFile();
  PngState* state = picNewState<PngState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->writing = true;
  state->line = static_cast<uint8_t*>(std::malloc(size_t(width) * 3));
  if (!state->line) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xRes, &yRes, &unit);
  const PngEncoderSettings settings = {width,
                                       height,
                                       colourMode == PIC_MAP,
                                       compression == PIC_COMP_NONE ? pngStoredLevel : pngDefaultLevel,
                                       unit != PIC_RES_NONE,
                                       pixelsPerMetre(xRes, unit),
                                       pixelsPerMetre(yRes, unit),
                                       pngWholeImageLimit};
  state->encoder = PngEncoder::create(settings, writeToStream, state->stream);
  if (!state->encoder) return release(file, state, status, PIC_ERR_OPEN);
  // A true-colour file's chunks before the image data go out at once, a palette file's with its palette.
  if (colourMode == PIC_RGB && !state->encoder->start(nullptr, 0)) return release(file, state, status, PIC_ERR_WRITE);
  picDescribe(file, width, height, colourMode, compression, colours);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  PngState* state = stateOf(file);
  // A file written short lacks its end chunk: other readers refuse it.
  const bool failed = state->writing && !state->encoder->complete();
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return failed ? PIC_ERR_WRITE : closed;
}

int readMap(picFile* file, int32_t* map) {
  const PngState* state = stateOf(file);
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;
  std::memcpy(map, state->map, size_t(file->colours) * sizeof(int32_t));
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  PngState* state = stateOf(file);
  if (file->colourMode != PIC_MAP) return PIC_ERR_WRITE;
  uint8_t palette[PIC_MAX_COLOURS * 3];
  for (int i = 0; i < file->colours; ++i)
    picDecodeColour(&palette[3 * i], &palette[3 * i + 1], &palette[3 * i + 2], map[i]);
  return state->encoder->start(palette, file->colours) ? PIC_OK : PIC_ERR_WRITE;
}

int readLine(picFile* file, uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;
  const uint8_t* row = nextRow(file);
  if (!row) return PIC_ERR_READ;
  const PngReading* reading = stateOf(file)->reading;
  if (reading->assembled)
    std::memcpy(line, row, size_t(file->width));
  else
    decodeIndices(reading->header, row, uint32_t(file->width), line);
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_READ;
  const uint8_t* row = nextRow(file);
  if (!row) return PIC_ERR_READ;
  const PngReading* reading = stateOf(file)->reading;
  const PngHeader& header = reading->header;
  if (!reading->assembled) {
    // 8-bit RGB and RGBA rows split as they lie; the rest through a line of 3-byte pixels.
    if (header.depth == 8 && header.colourType & 2) {
      picSplitPixels(row, pngSamplesPerPixel(header.colourType), file->width, red, green, blue);
      return PIC_OK;
    }
    decodeTrueColour(header, row, uint32_t(file->width), reading->line.get());
    row = reading->line.get();
  }
  picSplitPixels(row, 3, file->width, red, green, blue);
  return PIC_OK;
}

// The encoder completes the file at the last line, so that a failing final
// write is reported by the line call rather than lost in close.
int writeStoredLine(picFile* file) {
  PngState* state = stateOf(file);
  if (!state->encoder->addRow(state->line)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_WRITE;
  std::memcpy(stateOf(file)->line, line, size_t(file->width));
  return writeStoredLine(file);
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_WRITE;
  picPackPixels(red, green, blue, file->width, stateOf(file)->line);
  return writeStoredLine(file);
}

int control(void*, int) { return 0; }

picDriver driver = {0,        control,  openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picPngDriver(void) { return &driver; }

namespace {

// A chunk's CRC-32, bit by bit: headers for tests need no table.
uint32_t chunkCrc(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// An 8-bit RGB file claiming width x height: the signature, IHDR, and an IDAT
// chunk claiming 1000 bytes that ends after its first two.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> bytes(pngSignature, pngSignature + 8);
  bytes.resize(pngIhdrEnd + 10, 0);
  picPutBE32(&bytes[8], 13);
  std::memcpy(&bytes[12], "IHDR", 4);
  picPutBE32(&bytes[16], uint32_t(width));
  picPutBE32(&bytes[20], uint32_t(height));
  bytes[24] = 8;
  bytes[25] = pngRgb;  // compression, filter and interlace 0
  picPutBE32(&bytes[29], chunkCrc(&bytes[12], 17));
  picPutBE32(&bytes[pngIhdrEnd], 1000);
  std::memcpy(&bytes[pngIhdrEnd + 4], "IDAT", 4);
  bytes[pngIhdrEnd + 8] = 0x78;
  bytes[pngIhdrEnd + 9] = 0x01;
  return bytes;
}

}  // namespace

extern const picFormatInfo picPngFormat = {
    "png", ".png", picPngDriver, false, true, picMapWriter::keeps,
    {{"rle", PIC_COMP_RLE, "deflate", false}, {"none", PIC_COMP_NONE, "deflate's stored blocks", false}},
    minimalHeader};
