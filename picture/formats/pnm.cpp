// Netpbm images (PBM, PGM, PPM): a text header (magic, width, height and,
// except in PBM, the largest sample value "maxval") with "#" comments wherever
// blanks may stand, then the samples, top line first: as decimal text (P1,
// P2, P3) or binary (P4 eight pixels a byte, most significant bit first; P5
// and P6 one byte a sample, or two big-endian bytes when maxval is above 255).
// Reads all six kinds with maxval 1 to 65535, samples scaled to 8 bits with
// rounding; of a file holding several images, the first. PBM and PGM read as
// colour-mapped with a grey map (PBM two levels, black and white; PGM
// maxval + 1 levels, or 256 when maxval is above 255), PPM as true colour.
// Writes binary files of maxval 255: P6 from true colour, P5 from a
// colour-mapped image whose map is grey, P6 from any other map. Refuses
// samples above maxval, and every compression code but PIC_COMP_NONE.
// Memory: a 64 KB read-ahead block for streams not read in place, and one
// line as 16-bit samples and as stored bytes, allocated once the data could
// fill a line.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/format_info.h"
#include "picture/core/sample_scale.h"

namespace {

enum PnmKind { plainBitmap = 1, plainGrey, plainColour, rawBitmap, rawGrey, rawColour };
const int pnmMaxValue = 65535;
const int pnmMaxDigits = 10;
const int pnmChunk = 64 << 10;
const int pnmWrittenMaxValue = 255;
const int pnmHeaderRoom = 64;  // "P6\n" two 10-digit numbers "\n255\n"

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool plainKind(int kind) { return kind <= plainColour; }
bool bitmapKind(int kind) { return kind == plainBitmap || kind == rawBitmap; }
bool colourKind(int kind) { return kind == plainColour || kind == rawColour; }

// Passes the rest of a comment's line.
void skipComment(picInputWindow& window) {
  for (int c = window.get(); c >= 0 && c != '\n' && c != '\r'; c = window.get()) {
  }
}

// Takes blanks and comments (from "#" to the end of the line) and the
// character after them: returned, or -1 at the end of the data.
int afterBlanks(picInputWindow& window) {
  for (;;) {
    const int c = window.get();
    if (c == '#')
      skipComment(window);
    else if (!isBlank(c))
      return c;
  }
}

// A decimal number after blanks and comments. The character that ends it is
// taken too (with the rest of the line when it starts a comment), as a
// binary file's single blank before the samples. PIC_ERR_READ when the data
// ends before a digit, PIC_ERR_DATA for anything but a number of ten digits
// at most followed by a blank, a comment or the end of the data; every caller
// refuses the file then, so the reason is recorded here.
int readNumber(picInputWindow& window, uint32_t* value) {
  int c = afterBlanks(window);
  if (c < 0) return picRefuse(PIC_ERR_READ, "data ends before a number");
  uint64_t result = 0;
  int digits = 0;
  for (; isDigit(c); c = window.get()) {
    if (++digits > pnmMaxDigits) return picRefuse(PIC_ERR_DATA, "a number of more than ten digits");
    result = result * 10 + uint64_t(c - '0');
  }
  if (digits == 0) return picRefuse(PIC_ERR_DATA, "not a number");
  if (result > INT32_MAX) return picRefuse(PIC_ERR_DATA, "a number past 2^31 - 1");
  if (c == '#') skipComment(window);
  else if (c >= 0 && !isBlank(c)) return picRefuse(PIC_ERR_DATA, "no blank after a number");
  *value = uint32_t(result);
  return PIC_OK;
}

struct PnmState {
  picBinFile* stream;
  picInputWindow window;
  int kind;
  int maxValue;
  int channels;  // 1 (PBM, PGM) or 3 (PPM)
  int rowBytes;  // of a binary row
  std::unique_ptr<uint8_t[]> row;       // a binary row as stored; for writing, a packed line
  std::unique_ptr<uint16_t[]> samples;  // one line's samples
  uint8_t scale[pnmMaxValue + 1];       // sample -> 0..255, rounded
  // Writing: the map's colours (unused indices stay black), and what went wrong.
  uint8_t mapRed[PIC_MAX_COLOURS], mapGreen[PIC_MAX_COLOURS], mapBlue[PIC_MAX_COLOURS];
  bool writing, headerWritten, greyOutput, writeFailed;
};

PnmState* stateOf(picFile* file) { return static_cast<PnmState*>(file->driverData); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, PnmState* state, int* status, int code) {
  if (state && state->stream) picBinClose(state->stream);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// ---- Pure helpers on memory.

// Samples of a binary row: one byte each, or two big-endian bytes when
// maxValue is above 255. False when one passes maxValue.
bool unpackSamples(const uint8_t* source, size_t count, int maxValue, uint16_t* values) {
  bool valid = true;
  if (maxValue > 255) {
    for (size_t i = 0; i < count; ++i) {
      values[i] = uint16_t(source[2 * i] << 8 | source[2 * i + 1]);
      valid &= values[i] <= maxValue;
    }
  } else {
    for (size_t i = 0; i < count; ++i) {
      values[i] = source[i];
      valid &= values[i] <= maxValue;
    }
  }
  return valid;
}

void fillScale(int maxValue, uint8_t* scale) {
  for (int v = 0; v <= maxValue; ++v) scale[v] = picScaleSample(uint32_t(v), uint32_t(maxValue));
}

// ---- Reading.

// Records why a line cannot be read: the line readers return PIC_ERR_READ.
bool unreadable(const char* reason) {
  picRefuse(PIC_ERR_READ, reason);
  return false;
}

// Reads the header into the picFile; PIC_ERR_FORMAT when the magic is not a
// netpbm one this driver reads.
int readHeader(picFile* file, PnmState* state) {
  picInputWindow& window = state->window;
  const uint8_t* magic;
  if (window.look(3, &magic) < 3 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6' ||
      (magic[2] != '#' && !isBlank(magic[2])))
    return PIC_ERR_FORMAT;
  window.consume(2);
  state->kind = magic[1] - '0';
  state->channels = colourKind(state->kind) ? 3 : 1;

  uint32_t width = 0, height = 0, maxValue = 1;
  int status = readNumber(window, &width);
  if (status == PIC_OK) status = readNumber(window, &height);
  if (status == PIC_OK && !bitmapKind(state->kind)) status = readNumber(window, &maxValue);
  const bool maxValueValid = maxValue >= 1 && maxValue <= pnmMaxValue;
  // PBM and PGM have maxval + 1 levels (256 above 255), once the header is whole.
  const int colours = status != PIC_OK || !maxValueValid || colourKind(state->kind) ? 0
                      : maxValue > 255                                             ? 256
                                                                                   : int(maxValue) + 1;
  const int mode = colourKind(state->kind) ? PIC_RGB : PIC_MAP;
  picDescribe(file, int32_t(width), int32_t(height), mode, PIC_COMP_NONE, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  if (status != PIC_OK) return status;
  if (!maxValueValid) return picRefuse(PIC_ERR_DATA, "maxval outside 1 to 65535");
  // A line's samples are held as 16-bit values.
  if (picCheckReadSize(width, height, 2 * state->channels) != PIC_OK) return PIC_ERR_DATA;
  state->maxValue = int(maxValue);  // set only for a file that can be loaded
  const int64_t sampleBytes = maxValue > 255 ? 2 : 1;
  state->rowBytes = bitmapKind(state->kind) ? int((int64_t(width) + 7) / 8)
                                            : int(int64_t(width) * state->channels * sampleBytes);
  fillScale(state->maxValue, state->scale);
  return PIC_OK;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<PnmState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);
  if (!state->window.start(state->stream, pnmChunk)) return release(file, state, status, PIC_ERR_OPEN);

  const int headerStatus = readHeader(file, state);
  if (headerStatus != PIC_OK && headerStatus != PIC_ERR_DATA)
    return release(file, state, status, headerStatus);
  file->driverData = state;
  return picOpenResult(status, headerStatus, file);
}

// Before the first line: the line buffers, once the data is known to hold a
// line, so that a header alone never costs its line length in memory.
bool prepareLines(picFile* file, PnmState* state) {
  if (state->samples) return true;
  if (state->maxValue == 0) return unreadable("a header that cannot be loaded");  // described only
  const int64_t samples = int64_t(file->width) * state->channels;
  // A text sample takes a digit and, but for the last, a blank; a P1 pixel a digit.
  const int64_t leastBytes = plainKind(state->kind) ? (state->kind == plainBitmap ? samples : 2 * samples - 1)
                                                    : state->rowBytes;
  if (int64_t(picBinSize(state->stream)) - state->window.position() < leastBytes)
    return unreadable("data ends before the first row");
  state->samples.reset(new (std::nothrow) uint16_t[size_t(samples)]);
  if (!plainKind(state->kind)) state->row.reset(new (std::nothrow) uint8_t[size_t(state->rowBytes)]);
  return state->samples && (plainKind(state->kind) || state->row);
}

// The next line's samples into state->samples (for PBM, indices 0 black and
// 1 white); false when the data ends or holds something else.
bool fetchLine(picFile* file) {
  PnmState* state = stateOf(file);
  if (state->writing || !prepareLines(file, state)) return false;
  picInputWindow& window = state->window;
  uint16_t* values = state->samples.get();
  const size_t count = size_t(file->width) * size_t(state->channels);
  if (!plainKind(state->kind)) {
    if (!window.read(state->row.get(), state->rowBytes)) return unreadable("data ends inside a row");
    return unpackSamples(state->row.get(), count, state->maxValue, values) ||
           unreadable("a sample above maxval");
  }
  for (size_t i = 0; i < count; ++i) {
    if (state->kind == plainBitmap) {
      const int c = afterBlanks(window);
      if (c < 0) return unreadable("data ends inside a row");
      if (c != '0' && c != '1') return unreadable("a P1 pixel other than 0 or 1");
      values[i] = uint16_t('1' - c);
      continue;
    }
    uint32_t value;
    if (readNumber(window, &value) != PIC_OK) return false;
    if (value > uint32_t(state->maxValue)) return unreadable("a sample above maxval");
    values[i] = uint16_t(value);
  }
  return true;
}

// Binary grey or colour with maxval 255: the stored bytes are the samples the
// caller gets, so the row is taken as it is, not widened and scaled back.
// PBM's rows are taken as they are too, and unpacked straight into the line.
bool storedAsDelivered(const PnmState* state) {
  return ((state->kind == rawGrey || state->kind == rawColour) && state->maxValue == 255) ||
         state->kind == rawBitmap;
}

// The next binary row as stored: where the window shows it, or copied into
// state->row when it does not lie there whole; null when the data ends.
const uint8_t* fetchStoredRow(picFile* file) {
  PnmState* state = stateOf(file);
  if (state->writing || !prepareLines(file, state)) return nullptr;
  const int bytes = state->rowBytes;
  const uint8_t* inPlace;
  if (state->window.look(bytes, &inPlace) == bytes) {
    state->window.consume(bytes);
    return inPlace;
  }
  if (state->window.read(state->row.get(), bytes)) return state->row.get();
  unreadable("data ends inside a row");
  return nullptr;
}

int readMap(picFile* file, int32_t* map) {
  const PnmState* state = stateOf(file);
  const int colours = file->colours;
  for (int i = 0; i < colours; ++i) {
    const int level = colours == 256 ? i : state->scale[i];
    map[i] = picEncodeColour(level, level, level);
  }
  return PIC_OK;
}

int readLine(picFile* file, uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;
  const PnmState* state = stateOf(file);
  if (storedAsDelivered(state)) {
    const uint8_t* stored = fetchStoredRow(file);
    if (!stored) return PIC_ERR_READ;
    if (state->kind == rawBitmap)
      picUnpackIndices(stored, 1, file->width, true, line);  // a set bit is black, index 0
    else
      std::memcpy(line, stored, size_t(file->width));
    --file->currentLine;
    return PIC_OK;
  }
  if (!fetchLine(file)) return PIC_ERR_READ;
  const uint16_t* values = state->samples.get();
  // maxval + 1 levels index by the sample itself; above 255, by its scaled value.
  if (state->maxValue > 255)
    for (int x = 0; x < file->width; ++x) line[x] = state->scale[values[x]];
  else
    for (int x = 0; x < file->width; ++x) line[x] = uint8_t(values[x]);
  --file->currentLine;
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_READ;
  const PnmState* state = stateOf(file);
  if (storedAsDelivered(state)) {
    const uint8_t* stored = fetchStoredRow(file);
    if (!stored) return PIC_ERR_READ;
    picSplitPixels(stored, 3, file->width, red, green, blue);
  } else {
    if (!fetchLine(file)) return PIC_ERR_READ;
    const uint16_t* values = state->samples.get();
    for (int x = 0; x < file->width; ++x, values += 3) {
      red[x] = state->scale[values[0]];
      green[x] = state->scale[values[1]];
      blue[x] = state->scale[values[2]];
    }
  }
  --file->currentLine;
  return PIC_OK;
}

// ---- Writing.

bool writeBytes(PnmState* state, const void* bytes, int count) {
  if (picBinWrite(state->stream, bytes, count) != count || picBinError(state->stream))
    state->writeFailed = true;
  return !state->writeFailed;
}

bool writeHeader(picFile* file, PnmState* state, bool grey) {
  char header[pnmHeaderRoom];
  const int length = std::snprintf(header, sizeof header, "P%d\n%d %d\n%d\n", grey ? rawGrey : rawColour,
                                   file->width, file->height, pnmWrittenMaxValue);
  state->greyOutput = grey;
  state->headerWritten = writeBytes(state, header, length);
  return state->headerWritten;
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  int refusal = PIC_OK;
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    refusal = picRefuse(PIC_ERR_DATA, "unknown colour mode");
  else if (colourMode == PIC_MAP && (colours < 0 || colours > PIC_MAX_COLOURS))
    refusal = picRefuse(PIC_ERR_DATA, "colour count outside 0 to 256");
  else if (compression != PIC_COMP_NONE)
    refusal = picRefuse(PIC_ERR_COMPRESSION, "compression other than none");
  else
    refusal = picCheckImageSize(width, height, 3);
  if (refusal != PIC_OK) return picOpenResult(status, refusal, nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<PnmState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->writing = true;
  state->row.reset(new (std::nothrow) uint8_t[size_t(width) * 3]);
  if (!state->row) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  picDescribe(file, width, height, colourMode, PIC_COMP_NONE, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  // A colour-mapped image's kind (P5 or P6) waits for its map.
  if (colourMode == PIC_RGB && !writeHeader(file, state, false))
    return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  PnmState* state = stateOf(file);
  const bool failed = state->writing && state->writeFailed;
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return failed ? PIC_ERR_WRITE : closed;
}

int writeMap(picFile* file, const int32_t* map) {
  PnmState* state = stateOf(file);
  if (state->headerWritten) return PIC_ERR_WRITE;
  bool grey = true;
  for (int i = 0; i < file->colours; ++i) {
    picDecodeColour(&state->mapRed[i], &state->mapGreen[i], &state->mapBlue[i], map[i]);
    grey &= state->mapRed[i] == state->mapGreen[i] && state->mapGreen[i] == state->mapBlue[i];
  }
  return writeHeader(file, state, grey) ? PIC_OK : PIC_ERR_WRITE;
}

int writeLine(picFile* file, const uint8_t* line) {
  PnmState* state = stateOf(file);
  if (file->colourMode != PIC_MAP || !state->headerWritten) return PIC_ERR_WRITE;
  uint8_t* row = state->row.get();
  if (state->greyOutput) {
    for (int x = 0; x < file->width; ++x) row[x] = state->mapRed[line[x]];
  } else {
    for (int x = 0; x < file->width; ++x, row += 3) {
      row[0] = state->mapRed[line[x]];
      row[1] = state->mapGreen[line[x]];
      row[2] = state->mapBlue[line[x]];
    }
  }
  if (!writeBytes(state, state->row.get(), file->width * (state->greyOutput ? 1 : 3))) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  PnmState* state = stateOf(file);
  if (file->colourMode != PIC_RGB || !state->headerWritten) return PIC_ERR_WRITE;
  picPackPixels(red, green, blue, file->width, state->row.get());
  if (!writeBytes(state, state->row.get(), file->width * 3)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: a P6 header claiming width x height whose
// samples end after two pixels.
std::vector<uint8_t> minimalHeader(int width, int height) {
  const std::string text = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\nabcdef";
  return std::vector<uint8_t>(text.begin(), text.end());
}

picDriver driver = {0,        control,  openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picPnmDriver(void) { return &driver; }

extern const picFormatInfo picPnmFormat = {
    "pnm", ".ppm .pgm .pbm .pnm", picPnmDriver, false, true, picMapWriter::keeps,
    {{"none", PIC_COMP_NONE, "uncompressed", false}}, minimalHeader};
