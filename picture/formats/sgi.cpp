// SGI image files: a 512-byte big-endian header, then the channels one after
// the other, each bottom row first, stored verbatim or run-length encoded.
// Reads one or two bytes per sample; grey, dithered and screen files come as
// colour-mapped images with a built-in map (grey ramp or 3-3-2 colour cube),
// files of three or four channels as planar true colour (a fourth channel is
// not read), or row by row when a run-length file keeps the channels of each
// row together, so that its rows are read in file order. Writes verbatim files of one byte per sample: one grey channel for
// colour-mapped images (the indices themselves), three channels for true colour.
// Refuses colour-map-only files, other channel counts, other sample sizes and
// storage kinds, and LZW.
// Run-length tables: a file of dimension 1 has tables of one entry each (one
// row of one channel), one of dimension 2 of y size entries (one channel),
// whatever its y and z sizes say; netpbm reads them so, and ImageMagick and
// Pillow (who take y size * z size entries) agree on every file whose header
// says y size 1 and z size 1 for dimension 1, z size 1 for dimension 2.
// A file cut short is still described; its load fills the rows that are there.
// Memory: one packed row and one row of samples; run-length tables only for
// the entries the file holds.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

const int sgiMagic = 474;
const int sgiHeaderSize = 512;
const int sgiMaxSide = 0xffff;  // x and y sizes are 16-bit fields

// Header field offsets.
const int offStorage = 2;
const int offBytesPerSample = 3;
const int offDimension = 4;
const int offXSize = 6;
const int offYSize = 8;
const int offZSize = 10;
const int offMinimum = 12;
const int offMaximum = 16;
const int offColourMapKind = 104;

enum { storageVerbatim = 0, storageRunLength = 1 };
enum { kindNormal = 0, kindDithered = 1, kindScreen = 2 };

struct SgiState {
  picBinFile* stream;
  int storage;
  int bytesPerSample;
  int channels;
  int64_t tableRows;  // rows per channel in the run-length tables
  int64_t tableEntries;
  std::unique_ptr<uint32_t[]> rowOffsets;
  std::unique_ptr<uint32_t[]> rowLengths;
  uint32_t minimum;
  uint32_t maximum;
  uint32_t colourMapKind;
  int rowBytes;          // bytesPerSample * width
  int maxPackedRow;      // longest run-length row accepted, in bytes
  int64_t fileSize;      // -1 when the file table cannot tell
  int plane;             // planes completed so far
  std::unique_ptr<uint8_t[]> rowBuffer;
  std::unique_ptr<uint16_t[]> samples;  // a row of 2-byte samples, unpacked
};

SgiState* stateOf(picFile* file) { return static_cast<SgiState*>(file->driverData); }

// ---- Pure helpers -------------------------------------------------------

// The range 2-byte samples are scaled from. A header whose maximum is not above
// its minimum gives no usable range; the full 16-bit range is taken instead.
struct SampleRange {
  int32_t low;
  int32_t span;
};

SampleRange sampleRange(uint32_t minimum, uint32_t maximum) {
  const int32_t low = int32_t(minimum & 0xffff), high = int32_t(maximum & 0xffff);
  if (high <= low) return {0, 0xffff};
  return {low, high - low};
}

// Scales samples to 0..255; samples outside the range are clamped to its ends.
void scaleSamples(const uint16_t* samples, int count, SampleRange range, uint8_t* out) {
  for (int i = 0; i < count; ++i) {
    int32_t value = int32_t(samples[i]) - range.low;
    if (value < 0) value = 0;
    if (value > range.span) value = range.span;
    out[i] = uint8_t(value * 255 / range.span);
  }
}

// Big-endian 2-byte samples to host words.
void unpackWords(const uint8_t* bytes, int count, uint16_t* samples) {
  for (int i = 0; i < count; ++i) samples[i] = picGetBE16(bytes + 2 * i);
}

// Why a packed row cannot be expanded.
const char* const rowEndsEarly = "packed row ends before the row is full";  // or a count of 0 ends it
const char* const runPassesRow = "run passes the row";
const char* const rowEndsInRun = "packed row ends inside a run";

// Expands one run-length row of `width` 2-byte samples from `packed` of
// `length` bytes. Null when it fills the row, else why not: the row ends
// before `width` samples, a packet passes the row, or the data runs out
// inside a packet.
const char* expandWordRow(const uint8_t* packed, size_t length, uint16_t* out, int width) {
  size_t at = 0;
  int x = 0;
  while (x < width) {
    if (at + 2 > length) return rowEndsEarly;
    const unsigned head = picGetBE16(packed + at);
    const unsigned count = head & 0x7f;
    at += 2;
    if (count == 0) return rowEndsEarly;
    if (count > unsigned(width - x)) return runPassesRow;
    if (head & 0x80) {
      if (count * 2 > length - at) return rowEndsInRun;
      for (unsigned i = 0; i < count; ++i, at += 2) out[x++] = uint16_t(picGetBE16(packed + at));
    } else {
      if (at + 2 > length) return rowEndsInRun;
      const uint16_t value = uint16_t(picGetBE16(packed + at));
      at += 2;
      for (unsigned i = 0; i < count; ++i) out[x++] = value;
    }
  }
  return nullptr;
}

// Far from the ends of a row, packets are copied or filled 32 bytes at a time
// (a call of memcpy or memset for each short packet costs more than the
// bytes), up to 31 bytes past the packet: the next packets overwrite them.
const unsigned packetStep = 32;
const unsigned packetRoom = 128;  // a count of at most 127, in whole steps

// The same for 1-byte samples, a whole packet at a time.
const char* expandByteRow(const uint8_t* packed, size_t length, uint8_t* out, int width) {
  size_t at = 0;
  unsigned left = unsigned(width);
  while (left > 0) {
    if (at >= length) return rowEndsEarly;
    const unsigned count = packed[at] & 0x7f;
    const bool literal = (packed[at++] & 0x80) != 0;
    if (count == 0) return rowEndsEarly;
    if (count > left) return runPassesRow;
    if ((literal ? count : 1) > length - at) return rowEndsInRun;
    if (literal) {
      if (left >= packetRoom && length - at >= packetRoom)
        for (unsigned i = 0; i < count; i += packetStep) std::memcpy(out + i, packed + at + i, packetStep);
      else
        std::memcpy(out, packed + at, count);
      at += count;
    } else if (left >= packetRoom) {
      uint8_t copies[packetStep];
      std::memset(copies, packed[at++], packetStep);
      for (unsigned i = 0; i < count; i += packetStep) std::memcpy(out + i, copies, packetStep);
    } else {
      std::memset(out, packed[at++], count);
    }
    out += count;
    left -= count;
  }
  return nullptr;
}

// Entry i of the map of a dithered file: a 3-3-2 colour cube.
int32_t ditheredEntry(int i) {
  static const uint8_t redGreen[8] = {0, 36, 73, 109, 146, 182, 218, 255};
  static const uint8_t blue[4] = {0, 85, 170, 255};
  return picEncodeColour(redGreen[i & 7], redGreen[(i >> 3) & 7], blue[(i >> 6) & 3]);
}

struct Classification {
  int status;
  int colourMode;
  int colours;
  const char* reason;  // why the kind is not read, for PIC_ERR_DATA
};

Classification classify(uint32_t kind, int dimension, int channels) {
  if (kind == kindDithered || kind == kindScreen) return {PIC_OK, PIC_MAP, PIC_MAX_COLOURS, nullptr};
  const int guessedMode = channels >= 3 ? PIC_RGB : PIC_MAP;
  const int guessedColours = guessedMode == PIC_MAP ? PIC_MAX_COLOURS : 0;
  if (kind != kindNormal)
    return {PIC_ERR_DATA, guessedMode, guessedColours,
            "colour map kind other than normal, dithered or screen"};
  if (dimension == 1 || dimension == 2 || (dimension == 3 && channels == 1))
    return {PIC_OK, PIC_MAP, PIC_MAX_COLOURS, nullptr};
  if (dimension == 3 && (channels == 3 || channels == 4)) return {PIC_OK, PIC_RGB, 0, nullptr};
  return {PIC_ERR_DATA, guessedMode, guessedColours,
          dimension == 3 ? "channel count other than 1, 3 or 4" : "dimension outside 1 to 3"};
}

// ---- Operations ---------------------------------------------------------

picFile* release(picFile* file, SgiState* state, int* status, int code) {
  if (state && state->stream) picBinClose(state->stream);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

void setCommonFields(picFile* file) {
  file->planar = 1;
  file->mapFirst = 1;
  file->planeOrder[0] = 0;
  file->planeOrder[1] = 1;
  file->planeOrder[2] = 2;
  file->currentLine = 0;
}

// Reads both run-length tables (rows * channels entries each), keeping only the
// channels the image uses. Of a file cut short, only the entries whose offset
// and length are both there are kept (and allocated): the rows past them fail
// to load, the rows before them still do.
int readTables(SgiState* state, int64_t rows, int64_t channels, int channelsUsed) {
  const int64_t allEntries = rows * channels;
  const int64_t lengthsStart = sgiHeaderSize + 4 * allEntries;
  int64_t kept = rows * (channelsUsed < channels ? channelsUsed : channels);
  if (state->fileSize >= 0)
    kept = std::min(kept, std::max<int64_t>(0, (state->fileSize - lengthsStart) / 4));
  if (lengthsStart + 4 * kept > INT32_MAX) kept = 0;  // beyond any offset the stream takes
  state->tableRows = rows;
  state->tableEntries = kept;
  const size_t entries = size_t(kept);
  state->rowOffsets.reset(new (std::nothrow) uint32_t[entries ? entries : 1]);
  state->rowLengths.reset(new (std::nothrow) uint32_t[entries ? entries : 1]);
  if (!state->rowOffsets || !state->rowLengths) return PIC_ERR_READ;
  if (entries) {
    picBinRead32(state->stream, state->rowOffsets.get(), int(entries));
    picBinSeekSet(state->stream, int(lengthsStart));
    picBinRead32(state->stream, state->rowLengths.get(), int(entries));
  }
  if (picBinError(state->stream)) return picRefuse(PIC_ERR_READ, "the run-length tables cannot be read");
  return PIC_OK;
}

// Whether a load reads the rows of a run-length true-colour file with fewer
// jumps row by row (red, green and blue of a row, then the next row: how
// ImageMagick lays them out) than plane by plane (how netpbm and this
// library's tests do): the bytes skipped or gone back over between rows read
// one after the other, in each order. Files whose tables are cut keep the
// planes, so that their complete rows still load plane by plane.
bool rowsInterleaved(const SgiState& state) {
  const int64_t rows = state.tableRows;
  if (state.tableEntries < 3 * rows) return false;
  auto jump = [&state](int64_t from, int64_t to) {
    const int64_t end = int64_t(state.rowOffsets[size_t(from)]) + state.rowLengths[size_t(from)];
    const int64_t gap = int64_t(state.rowOffsets[size_t(to)]) - end;
    return gap < 0 ? -gap : gap;
  };
  int64_t byPlanes = 0, byRows = 0;
  for (int64_t y = 0; y < rows; ++y)
    for (int64_t channel = 0; channel < 3; ++channel) {
      const int64_t entry = y + channel * rows;
      if (y + 1 < rows) byPlanes += jump(entry, entry + 1);
      if (channel < 2)
        byRows += jump(entry, entry + rows);
      else if (y + 1 < rows)
        byRows += jump(entry, y + 1);
    }
  return byRows < byPlanes;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<SgiState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  uint8_t header[sgiHeaderSize];
  if (picBinReadAvailable(state->stream, header, 2) != 2 || picGetBE16(header) != sgiMagic)
    return release(file, state, status, PIC_ERR_FORMAT);
  if (picBinRead(state->stream, header + 2, sgiHeaderSize - 2) != sgiHeaderSize - 2 ||
      picBinError(state->stream))
    return release(file, state, status, picRefuse(PIC_ERR_READ, "data ends inside the header"));

  state->storage = header[offStorage];
  state->bytesPerSample = header[offBytesPerSample];
  const int dimension = picGetBE16(header + offDimension);
  const int width = picGetBE16(header + offXSize);
  const int ySize = picGetBE16(header + offYSize);
  const int zSize = picGetBE16(header + offZSize);
  state->channels = zSize;
  state->minimum = picGetBE32(header + offMinimum);
  state->maximum = picGetBE32(header + offMaximum);
  state->colourMapKind = picGetBE32(header + offColourMapKind);
  state->fileSize = picBinSize(state->stream);

  const Classification kind = classify(state->colourMapKind, dimension, zSize);
  picDescribe(file, width, dimension == 1 ? 1 : ySize, kind.colourMode,
              state->storage == storageRunLength ? PIC_COMP_RLE : PIC_COMP_NONE, kind.colours);
  setCommonFields(file);
  file->driverData = state;

  int refusal = kind.status == PIC_OK ? PIC_OK : picRefuse(kind.status, kind.reason);
  if (refusal == PIC_OK && state->storage != storageVerbatim && state->storage != storageRunLength)
    refusal = picRefuse(PIC_ERR_COMPRESSION, "storage other than verbatim or run-length");
  if (refusal == PIC_OK && (state->bytesPerSample < 1 || state->bytesPerSample > 2))
    refusal = picRefuse(PIC_ERR_DATA, "samples of other than 1 or 2 bytes");
  if (refusal == PIC_OK)
    refusal = picCheckReadSize(file->width, file->height, state->bytesPerSample);
  if (refusal != PIC_OK) return picOpenResult(status, refusal, file);

  const int channelsUsed = file->colourMode == PIC_RGB ? 3 : 1;
  state->rowBytes = width * state->bytesPerSample;
  // A row packed as badly as any writer would: a count before every sample.
  state->maxPackedRow = state->bytesPerSample * (2 * width + 2);
  if (state->storage == storageRunLength) {
    // One-row and grey files have one row or one channel whatever the sizes say.
    const int tables = readTables(state, dimension == 1 ? 1 : ySize, dimension < 3 ? 1 : zSize,
                                  channelsUsed);
    if (tables != PIC_OK) return release(file, state, status, tables);
    if (file->colourMode == PIC_RGB && rowsInterleaved(*state)) file->planar = 0;
  }
  // Verbatim planes that end early are found by the row that is not there.
  state->rowBuffer.reset(new (std::nothrow) uint8_t[size_t(state->maxPackedRow)]);
  state->samples.reset(new (std::nothrow) uint16_t[size_t(width)]);
  if (!state->rowBuffer || !state->samples) return release(file, state, status, PIC_ERR_READ);
  return picOpenResult(status, PIC_OK, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  int refusal = PIC_OK;
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    refusal = picRefuse(PIC_ERR_DATA, "unknown colour mode");
  else if (width <= 0 || height <= 0)
    refusal = picRefuse(PIC_ERR_DATA, "a side of no pixels");
  else if (width > sgiMaxSide || height > sgiMaxSide)  // the header holds 16-bit sizes
    refusal = picRefuse(PIC_ERR_DATA, "a side longer than 65535");
  else if (compression == PIC_COMP_LZW)
    refusal = picRefuse(PIC_ERR_COMPRESSION, "LZW compression");
  if (refusal != PIC_OK) return picOpenResult(status, refusal, nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<SgiState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  const bool mapped = colourMode == PIC_MAP;
  picDescribe(file, width, height, colourMode, PIC_COMP_NONE, colours);
  setCommonFields(file);
  state->storage = storageVerbatim;
  state->bytesPerSample = 1;
  state->channels = mapped ? 1 : 3;
  state->rowBytes = width;

  uint8_t header[sgiHeaderSize] = {};
  picPutBE16(header, sgiMagic);
  header[offStorage] = storageVerbatim;
  header[offBytesPerSample] = 1;
  picPutBE16(header + offDimension, mapped ? 2 : 3);
  picPutBE16(header + offXSize, uint32_t(width));
  picPutBE16(header + offYSize, uint32_t(height));
  picPutBE16(header + offZSize, uint32_t(state->channels));
  picPutBE32(header + offMinimum, 0);
  picPutBE32(header + offMaximum, 255);
  picPutBE32(header + offColourMapKind, kindNormal);
  if (picBinWrite(state->stream, header, sgiHeaderSize) != sgiHeaderSize || picBinError(state->stream))
    return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  SgiState* state = stateOf(file);
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile* file, int32_t* map) {
  const bool dithered = stateOf(file)->colourMapKind == kindDithered;
  for (int i = 0; i < file->colours && i < PIC_MAX_COLOURS; ++i)
    map[i] = dithered ? ditheredEntry(i) : picEncodeColour(i, i, i);
  return PIC_OK;
}

int writeMap(picFile*, const int32_t*) { return PIC_OK; }

// Moves to the next row, and to the first row of the next plane after the top one.
void advance(picFile* file) {
  if (++file->currentLine >= file->height) {
    file->currentLine = 0;
    ++stateOf(file)->plane;
  }
}

// Reads table entry `entry` (row y of channel z at y + z * table rows) and
// expands it into `line`, where the stream holds it (a memory file, a disk
// file's read-ahead buffer) or else through the row buffer; offsets and
// lengths must stay inside the file and a sane size.
int readPackedRow(picFile* file, int64_t entry, uint8_t* line) {
  SgiState* state = stateOf(file);
  if (entry >= state->tableEntries)
    return picRefuse(PIC_ERR_READ, "the run-length tables end before this row");
  const uint32_t offset = state->rowOffsets[size_t(entry)];
  const uint32_t length = state->rowLengths[size_t(entry)];
  if (length > uint32_t(state->maxPackedRow))
    return picRefuse(PIC_ERR_READ, "packed row longer than any writer makes");
  if (offset > uint32_t(INT32_MAX) || (state->fileSize >= 0 && int64_t(offset) + length > state->fileSize))
    return picRefuse(PIC_ERR_READ, "packed row past the end of the file");
  picBinSeekSet(state->stream, int(offset));
  const uint8_t* packed = picBinTakeInPlace(state->stream, length);
  if (!packed) {
    packed = state->rowBuffer.get();
    if (picBinRead(state->stream, state->rowBuffer.get(), int(length)) != int(length) ||
        picBinError(state->stream))
      return picRefuse(PIC_ERR_READ, "data ends inside a packed row");
  }
  if (state->bytesPerSample == 1) {
    const char* bad = expandByteRow(packed, length, line, file->width);
    return bad ? picRefuse(PIC_ERR_READ, bad) : PIC_OK;
  }
  if (const char* bad = expandWordRow(packed, length, state->samples.get(), file->width))
    return picRefuse(PIC_ERR_READ, bad);
  scaleSamples(state->samples.get(), file->width, sampleRange(state->minimum, state->maximum), line);
  return PIC_OK;
}

// Reads through the row buffer, so that a row the file cuts short leaves the
// caller's line as it was.
int readVerbatimRow(picFile* file, uint8_t* line) {
  SgiState* state = stateOf(file);
  const uint8_t* row = picBinTakeInPlace(state->stream, state->rowBytes);  // a memory file in place
  if (!row) {
    row = state->rowBuffer.get();
    if (picBinRead(state->stream, state->rowBuffer.get(), state->rowBytes) != state->rowBytes ||
        picBinError(state->stream))
      return picRefuse(PIC_ERR_READ, "data ends inside a row");
  }
  if (state->bytesPerSample == 1) {
    std::memcpy(line, row, size_t(file->width));
    return PIC_OK;
  }
  unpackWords(row, file->width, state->samples.get());
  scaleSamples(state->samples.get(), file->width, sampleRange(state->minimum, state->maximum), line);
  return PIC_OK;
}

int readLine(picFile* file, uint8_t* line) {
  SgiState* state = stateOf(file);
  const int result = state->storage == storageRunLength
                         ? readPackedRow(file, file->currentLine + int64_t(state->plane) * state->tableRows, line)
                         : readVerbatimRow(file, line);
  if (result != PIC_OK) return result;
  advance(file);
  return PIC_OK;
}

// Row `currentLine` of all three channels, for run-length files whose rows
// lie row by row (rowsInterleaved).
int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  SgiState* state = stateOf(file);
  uint8_t* const lines[3] = {red, green, blue};
  for (int channel = 0; channel < 3; ++channel) {
    const int result = readPackedRow(file, file->currentLine + channel * state->tableRows, lines[channel]);
    if (result != PIC_OK) return result;
  }
  advance(file);
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  picBinFile* stream = stateOf(file)->stream;
  if (picBinWrite(stream, line, file->width) != file->width || picBinError(stream)) return PIC_ERR_WRITE;
  advance(file);
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: the header of a verbatim three-channel file
// claiming width x height, and no samples.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> header(sgiHeaderSize, 0);
  picPutBE16(&header[0], sgiMagic);
  header[offStorage] = storageVerbatim;
  header[offBytesPerSample] = 1;
  picPutBE16(&header[offDimension], 3);
  picPutBE16(&header[offXSize], uint32_t(width));
  picPutBE16(&header[offYSize], uint32_t(height));
  picPutBE16(&header[offZSize], 3);
  picPutBE32(&header[offMaximum], 255);
  return header;
}

picDriver driver = {PIC_DRIVER_SGI, control, openRead,  openWrite,   close,
                    readMap,        writeMap, readLine, writeLine, readRGBLine, nullptr};

}  // namespace

picDriver* picSgiDriver(void) { return &driver; }

extern const picFormatInfo picSgiFormat = {
    "sgi", ".rgb .sgi .bw", picSgiDriver, true, true, picMapWriter::indicesAsGrey,
    {{"none", PIC_COMP_NONE, "uncompressed", false}}, minimalHeader};
