// Sun raster images: a 32-byte big-endian header, an optional colour map, and
// lines padded to 16 bits, top line first, raw or run-length encoded.
// Reads 1- and 8-bit colour-mapped or grey images and 24- and 32-bit true
// colour, in blue-green-red order or (type 3) red-green-blue order; a 32-bit
// pixel carries an unused byte before its colours. Run-length data is one
// stream over the whole image, so a run may go on into the next line. A map
// shorter than the depth addresses (2 or 256 entries) is described with that
// many colours, the entries past it black.
// Writes 8-bit colour-mapped and 24-bit files, always uncompressed (also when
// run-length is asked for). Refuses other depths, maps of more than 256
// entries, and every compression code but none and run-length.
// Memory: one stored line, allocated once the data could fill it, and for
// run-length data from a stream not held in memory a 64 KB window.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

const uint32_t sunMagic = 0x59a66a95;
const int sunHeaderSize = 32;
const uint32_t sunTypeStandard = 1;
const uint32_t sunTypeRunLength = 2;
const uint32_t sunTypeRgb = 3;  // true colour stored red first
const uint32_t sunMapNone = 0;
const uint32_t sunMapSeparate = 1;  // all reds, then all greens, then all blues
const uint32_t sunMapTriplets = 2;
const uint32_t sunMaxMapBytes = 3 * PIC_MAX_COLOURS;
const uint8_t sunRunFlag = 0x80;
const int sunInputBlock = 65536;  // the window's block when the file is not in memory
const int sunInputLook = 16384;   // bytes one look asks for
const int64_t sunMaxRunPerByte = 86;  // a 3-byte escape gives at most 256 bytes

struct SunHeader {
  uint32_t width, height, depth, length, type, mapType, mapLength;
};

// A run of the encoded stream not yet fully written out; it may span lines.
struct RunState {
  size_t remaining;
  uint8_t value;
};

struct SunState {
  picBinFile* file;
  int depth;
  uint32_t type;
  uint32_t mapType;
  uint32_t mapLength;
  int mapEntries;  // colours the file's map holds
  int lineLength;
  std::unique_ptr<uint8_t[]> lineBuffer;
  picLineBlock rows;  // uncompressed lines
  // Run-length data read through the window, and the run in progress.
  picInputWindow input;
  RunState run;
};

SunState* stateOf(picFile* file) { return static_cast<SunState*>(file->driverData); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, SunState* state, int* status, int code) {
  if (state && state->file) picBinClose(state->file);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

SunHeader decodeHeader(const uint8_t* bytes) {
  return {picGetBE32(bytes + 4),  picGetBE32(bytes + 8),  picGetBE32(bytes + 12), picGetBE32(bytes + 16),
          picGetBE32(bytes + 20), picGetBE32(bytes + 24), picGetBE32(bytes + 28)};
}

bool supportedDepth(uint32_t depth) { return depth == 1 || depth == 8 || depth == 24 || depth == 32; }

// Bytes of one stored line: the pixels' bits rounded up to a multiple of 16.
int64_t lineLengthOf(int64_t width, int64_t depth) { return (width * depth + 15) / 16 * 2; }

// Expands run-length data into target[*produced .. targetLength). A run that
// does not fit is kept in `run` for the next line. An escape whose count or
// value is not in the source yet is left unread. Returns the bytes consumed.
size_t unpackRuns(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                  RunState* run, size_t* produced) {
  size_t used = 0;
  size_t filled = *produced;
  for (;;) {
    if (run->remaining > 0) {
      const size_t count = run->remaining < targetLength - filled ? run->remaining : targetLength - filled;
      std::memset(target + filled, run->value, count);
      filled += count;
      run->remaining -= count;
    }
    if (filled == targetLength || used == sourceLength) break;
    // The bytes before the next escape are literals: one copy for them all.
    const size_t room = std::min(targetLength - filled, sourceLength - used);
    const void* escape = std::memchr(source + used, sunRunFlag, room);
    const size_t literals = escape ? size_t(static_cast<const uint8_t*>(escape) - (source + used)) : room;
    if (literals > 0) {
      std::memcpy(target + filled, source + used, literals);
      filled += literals;
      used += literals;
    } else if (used + 1 < sourceLength && source[used + 1] == 0) {
      target[filled++] = sunRunFlag;
      used += 2;
    } else if (used + 2 < sourceLength) {
      *run = {size_t(source[used + 1]) + 1, source[used + 2]};
      used += 3;
    } else {
      break;
    }
  }
  *produced = filled;
  return used;
}

// Reads the header: PIC_ERR_FORMAT for a file of another format, PIC_ERR_READ
// for a Sun raster header that ends early.
int readHeader(picBinFile* file, uint8_t* bytes) {
  const int got = picBinReadAvailable(file, bytes, sunHeaderSize);
  if (picBinError(file) || got < 0) return picRefuse(PIC_ERR_READ, "header unreadable");
  uint8_t magic[4];
  picPutBE32(magic, sunMagic);
  if (std::memcmp(bytes, magic, size_t(got < 4 ? got : 4)) != 0) return PIC_ERR_FORMAT;
  return got == sunHeaderSize ? PIC_OK : picRefuse(PIC_ERR_READ, "file ends inside the header");
}

// Fills the picFile and state from a header; PIC_ERR_DATA for an image the
// reader cannot load.
int describe(const SunHeader& header, picFile* file, SunState* state) {
  const bool sizeFits = header.width <= INT32_MAX && header.height <= INT32_MAX;
  const bool depthKnown = supportedDepth(header.depth);
  const bool mapFits = header.mapLength <= sunMaxMapBytes;
  const bool ownMap = depthKnown && mapFits && header.depth <= 8 && header.mapType != sunMapNone;
  if (ownMap) state->mapEntries = int(header.mapLength / 3);
  const int colours = ownMap ? picColoursForIndices(state->mapEntries, int(header.depth))
                      : header.depth == 1 ? 2 : header.depth == 8 ? 256 : 0;
  picDescribe(file, sizeFits ? int32_t(header.width) : 0, sizeFits ? int32_t(header.height) : 0,
              header.depth <= 8 ? PIC_MAP : PIC_RGB,
              depthKnown && header.type == sunTypeRunLength ? PIC_COMP_RLE : PIC_COMP_NONE,
              depthKnown && mapFits ? colours : 0);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  if (!depthKnown) return picRefuse(PIC_ERR_DATA, "bits per pixel not 1, 8, 24 or 32");

  state->depth = int(header.depth);
  state->type = header.type;
  state->mapType = header.mapType;
  state->mapLength = header.mapLength;
  if (!mapFits) return picRefuse(PIC_ERR_DATA, "map longer than 768 bytes");
  if (!sizeFits) return picRefuse(PIC_ERR_DATA, "sides past 2^31 - 1");
  if (picCheckReadSize(file->width, file->height, 4) != PIC_OK) return PIC_ERR_DATA;
  state->lineLength = int(lineLengthOf(file->width, state->depth));
  return PIC_OK;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<SunState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_READ, PIC_BIG_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  uint8_t bytes[sunHeaderSize];
  const int headerStatus = readHeader(state->file, bytes);
  if (headerStatus != PIC_OK) return release(file, state, status, headerStatus);
  const int described = describe(decodeHeader(bytes), file, state);
  file->driverData = state;
  return picOpenResult(status, described, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour mode neither map nor RGB"), nullptr);
  if (colourMode == PIC_MAP && (colours < 1 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "map of no colours or over 256"), nullptr);
  if (compression != PIC_COMP_NONE && compression != PIC_COMP_RLE)
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "a compression the writer does not make"), nullptr);
  const int depth = colourMode == PIC_MAP ? 8 : 24;
  const int64_t lineLength = lineLengthOf(width, depth);
  if (picCheckImageSize(width, height, 4) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);
  if (lineLength * height > int64_t(UINT32_MAX))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "data past 4 GB"), nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<SunState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  picDescribe(file, width, height, colourMode, PIC_COMP_NONE, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  state->depth = depth;
  state->lineLength = int(lineLength);

  // The length counts the lines' padding: readers take it as the data's size.
  uint8_t header[sunHeaderSize];
  picPutBE32(header, sunMagic);
  picPutBE32(header + 4, uint32_t(width));
  picPutBE32(header + 8, uint32_t(height));
  picPutBE32(header + 12, uint32_t(depth));
  picPutBE32(header + 16, uint32_t(lineLength * height));
  picPutBE32(header + 20, sunTypeStandard);
  picPutBE32(header + 24, colourMode == PIC_MAP ? sunMapSeparate : sunMapNone);
  picPutBE32(header + 28, uint32_t(file->colours * 3));
  if (picBinWrite(state->file, header, sunHeaderSize) != sunHeaderSize || picBinError(state->file))
    return release(file, state, status, PIC_ERR_WRITE);

  // Zero-filled, so the pad byte of lines that need one stays 0.
  state->lineBuffer = picNewBytes(size_t(lineLength));
  if (!state->lineBuffer) return release(file, state, status, PIC_ERR_OPEN);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  SunState* state = stateOf(file);
  const int closed = picCloseStream(state->file);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile* file, int32_t* map) {
  SunState* state = stateOf(file);
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  if (state->mapType == sunMapNone) {
    const double step = colours > 1 ? 255.0 / (colours - 1) : 0.0;
    for (int i = 0; i < colours; ++i) {
      const int level = int(i * step);
      map[i] = picEncodeColour(level, level, level);
    }
    return PIC_OK;
  }
  uint8_t bytes[sunMaxMapBytes];
  const int entries = std::min(state->mapEntries, colours);
  const int size = 3 * entries;
  picBinSeekSet(state->file, sunHeaderSize);
  if (picBinError(state->file) || (size > 0 && picBinRead(state->file, bytes, size) != size) ||
      picBinError(state->file))
    return picRefuse(PIC_ERR_READ, "map past the end of the file");
  for (int i = 0; i < entries; ++i) {
    if (state->mapType == sunMapTriplets)
      map[i] = picEncodeColour(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]);
    else
      map[i] = picEncodeColour(bytes[i], bytes[entries + i], bytes[2 * entries + i]);
  }
  picFillMissingColours(map, entries, colours);
  return PIC_OK;
}

// The next stored line into *stored: from the block of uncompressed lines, or
// run-length decoded into the line buffer.
int readStoredLine(picFile* file, const uint8_t** stored) {
  SunState* state = stateOf(file);
  picBinFile* stream = state->file;
  // The pixel data follows the whole map, whether or not the map is used.
  if (file->currentLine == file->height - 1) {
    picBinSeekSet(stream, int(sunHeaderSize + state->mapLength));
    state->run = {0, 0};
    if (picBinError(stream)) return picRefuse(PIC_ERR_READ, "map past the end of the file");
    // The line buffer waits until the data is known to hold a line, so that a
    // header alone never costs its line length in memory.
    if (!state->lineBuffer) {
      const int64_t stored = int64_t(picBinSize(stream)) - picBinTell(stream);
      const int64_t expansion = state->type == sunTypeRunLength ? sunMaxRunPerByte : 1;
      if (stored * expansion < state->lineLength) return picRefuse(PIC_ERR_READ, "too little data for a line");
      state->lineBuffer = picNewBytes(size_t(state->lineLength));
    }
    const bool started = state->type == sunTypeRunLength ? state->input.start(stream, sunInputBlock)
                                                         : state->rows.start(state->lineLength, file->height);
    if (!started) return PIC_ERR_READ;
  }
  if (!state->lineBuffer) return PIC_ERR_READ;
  uint8_t* line = state->lineBuffer.get();
  *stored = line;
  if (state->type != sunTypeRunLength) {
    *stored = state->rows.next(stream);
    return *stored ? PIC_OK : picRefuse(PIC_ERR_READ, "data ends inside a line");
  }

  const size_t length = size_t(state->lineLength);
  size_t produced = 0;
  for (;;) {
    const uint8_t* bytes;
    const int shown = state->input.look(sunInputLook, &bytes);
    state->input.consume(int(unpackRuns(bytes, size_t(shown), line, length, &state->run, &produced)));
    if (produced == length) return PIC_OK;
    // A short look showed all the data left (an escape may wait for its count or value).
    if (shown < sunInputLook) return picRefuse(PIC_ERR_READ, "run-length data ends inside a line");
  }
}

int readLine(picFile* file, uint8_t* line) {
  const uint8_t* stored;
  if (readStoredLine(file, &stored) != PIC_OK) return PIC_ERR_READ;
  const SunState* state = stateOf(file);
  // A set bit selects entry 0: black when the file has no map.
  picUnpackIndices(stored, state->depth, file->width, state->depth == 1, line);
  --file->currentLine;
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const uint8_t* stored;
  if (readStoredLine(file, &stored) != PIC_OK) return PIC_ERR_READ;
  const SunState* state = stateOf(file);
  const int step = state->depth / 8;
  // 32-bit pixels start with their unused byte.
  const uint8_t* pixel = stored + (step == 4 ? 1 : 0);
  const bool redFirst = state->type == sunTypeRgb;
  uint8_t* first = redFirst ? red : blue;
  uint8_t* last = redFirst ? blue : red;
  picSplitPixels(pixel, step, file->width, first, green, last);
  --file->currentLine;
  return PIC_OK;
}

int writeStoredLine(picFile* file) {
  SunState* state = stateOf(file);
  if (picBinWrite(state->file, state->lineBuffer.get(), state->lineLength) != state->lineLength ||
      picBinError(state->file))
    return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  SunState* state = stateOf(file);
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  uint8_t bytes[sunMaxMapBytes];
  for (int i = 0; i < colours; ++i)
    picDecodeColour(&bytes[i], &bytes[colours + i], &bytes[2 * colours + i], map[i]);
  const int size = 3 * colours;
  if (picBinWrite(state->file, bytes, size) != size || picBinError(state->file)) return PIC_ERR_WRITE;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  std::memcpy(stateOf(file)->lineBuffer.get(), line, size_t(file->width));
  return writeStoredLine(file);
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  picPackPixels(blue, green, red, file->width, stateOf(file)->lineBuffer.get());
  return writeStoredLine(file);
}

int control(void*, int) { return 0; }

// For tests of the size checks: a standard 24-bit header without a map
// claiming width x height, and no lines at all.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> b(sunHeaderSize, 0);
  picPutBE32(&b[0], sunMagic);
  picPutBE32(&b[4], uint32_t(width));
  picPutBE32(&b[8], uint32_t(height));
  picPutBE32(&b[12], 24);  // depth; length 0
  picPutBE32(&b[20], sunTypeStandard);
  return b;
}

picDriver driver = {PIC_DRIVER_SUN, control, openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picSunDriver(void) { return &driver; }

extern const picFormatInfo picSunFormat = {
    "sun", ".ras .sun", picSunDriver, true, true, picMapWriter::keeps,
    {{"none", PIC_COMP_NONE, "uncompressed", false}}, minimalHeader};
