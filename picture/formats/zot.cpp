// ZOT text images: a colour-mapped image written as readable text.
//   ZOTImage = IMAGE[
//   0 = "r g b",
//   1 = "r g b"]
//   (width,height
//   ,i,i,...      one line per image line, top line first
//   ,i,i,...
//   )
// Reads and writes colour-mapped images of up to 256 colours; numbers are read
// by their digits alone. Indices are bytes (larger ones wrap), so a file that
// lists fewer than 256 colours is described with 256, the unlisted ones black. Refuses true colour, and every compression code but
// none and run-length (both write the same plain text).
// Memory: the fixed state and, for streams not read in place, a 4 KB
// read-ahead block; numbers go straight into the caller's rows.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

const char zotMagic[] = "ZOT";
const char zotHeader[] = "ZOTImage = IMAGE";
const int zotMaxDigits = 10;
const int zotChunk = 4096;

// Records why the text cannot be read: every caller refuses with PIC_ERR_READ.
bool unreadable(const char* reason) {
  picRefuse(PIC_ERR_READ, reason);
  return false;
}

// Skips non-digits, then takes up to ten digits; the character that ends the
// number is consumed. False, the reason recorded, on more digits, an error, or
// the end of the data.
bool readNumber(picInputWindow& window, uint64_t* value) {
  int c;
  do {
    c = window.get();
    if (c < 0) return unreadable("data ends before a number");
  } while (c < '0' || c > '9');
  uint64_t result = 0;
  int digits = 0;
  for (; c >= '0' && c <= '9'; c = window.get()) {
    if (++digits > zotMaxDigits) return unreadable("a number of more than ten digits");
    result = result * 10 + uint64_t(c - '0');
  }
  if (c < 0) return unreadable("data ends inside a number");
  *value = result;
  return true;
}

struct ZotState {
  picInputWindow window;
  picBinFile* stream;
  int64_t dataOffset;
  int entries;  // the colours the file lists
};

ZotState* stateOf(picFile* file) { return static_cast<ZotState*>(file->driverData); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, ZotState* state, int* status, int code) {
  if (state && state->stream) picBinClose(state->stream);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Reads from `offset` on: the window starts afresh there.
bool readFrom(ZotState* state, int64_t offset) {
  picBinSeekSet(state->stream, int(offset));
  return state->window.start(state->stream, zotChunk);
}

// Counts the colour list's "=" up to the picture's "("; the header's own "="
// is the one the count starts below zero for.
bool countColours(picInputWindow& window, int64_t* colours) {
  int64_t count = -1;
  for (int c = window.get(); c != '('; c = window.get()) {
    if (c < 0) return unreadable("data ends before the picture");
    if (c == '=') ++count;
  }
  *colours = count;
  return true;
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<ZotState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);
  picInputWindow& window = state->window;
  if (!window.start(state->stream, zotChunk)) return release(file, state, status, PIC_ERR_OPEN);

  const uint8_t* magic;
  if (window.look(3, &magic) < 3 || std::memcmp(magic, zotMagic, 3) != 0)
    return release(file, state, status, PIC_ERR_FORMAT);
  window.consume(3);

  int64_t colours;
  uint64_t width, height;
  if (!countColours(window, &colours) || !readNumber(window, &width) || !readNumber(window, &height))
    return release(file, state, status, PIC_ERR_READ);
  state->dataOffset = window.position();
  // Ten digits can pass an int; such a side is recorded as 0, which no
  // operation accepts, while the file is still recognised as ZOT.
  auto side = [](uint64_t value) { return value > uint64_t(INT_MAX) ? 0 : int(value); };
  // Indices are bytes: a list of fewer than 256 colours is described as 256,
  // the ones it does not list black, so no index passes the described map.
  state->entries = int(std::min<int64_t>(colours, INT_MAX));
  const int described = colours >= 0 && colours <= PIC_MAX_COLOURS ? picColoursForIndices(state->entries, 8)
                                                                    : state->entries;
  picDescribe(file, side(width), side(height), PIC_MAP, PIC_COMP_NONE, described);
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  file->driverData = state;
  int loadable = PIC_OK;
  if (colours < 0)
    loadable = picRefuse(PIC_ERR_DATA, "no colour list");
  else if (colours > PIC_MAX_COLOURS)
    loadable = picRefuse(PIC_ERR_DATA, "more than 256 colours");
  else
    loadable = picCheckReadSize(int64_t(width), int64_t(height));
  return picOpenResult(status, loadable, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  int refusal = PIC_OK;
  if (colourMode != PIC_MAP)
    refusal = picRefuse(PIC_ERR_DATA, "colour maps only");
  else if (colours < 0 || colours > PIC_MAX_COLOURS)
    refusal = picRefuse(PIC_ERR_DATA, "colour count outside 0 to 256");
  else if (compression != PIC_COMP_NONE && compression != PIC_COMP_RLE)
    refusal = picRefuse(PIC_ERR_COMPRESSION, "compression other than none or run-length");
  if (refusal != PIC_OK) return picOpenResult(status, refusal, nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<ZotState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  picDescribe(file, width, height, PIC_MAP, PIC_COMP_NONE, colours);
  file->mapFirst = 1;
  file->currentLine = height - 1;
  picBinWrite(state->stream, zotHeader, int(sizeof zotHeader - 1));
  if (picBinError(state->stream)) return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  ZotState* state = stateOf(file);
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile* file, int32_t* map) {
  ZotState* state = stateOf(file);
  picInputWindow& window = state->window;
  if (!readFrom(state, 0)) return PIC_ERR_READ;
  picFillMissingColours(map, 0, file->colours);
  for (int entry = 0; entry < state->entries; ++entry) {
    uint64_t index, red, green, blue;
    if (!readNumber(window, &index) || !readNumber(window, &red) || !readNumber(window, &green) ||
        !readNumber(window, &blue))
      return PIC_ERR_READ;
    // An entry naming an index outside the map is ignored.
    if (index < uint64_t(state->entries)) map[index] = picEncodeColour(int(red), int(green), int(blue));
  }
  return PIC_OK;
}

int readLine(picFile* file, uint8_t* line) {
  ZotState* state = stateOf(file);
  if (file->currentLine == file->height - 1 && !readFrom(state, state->dataOffset)) return PIC_ERR_READ;
  for (int x = 0; x < file->width; ++x) {
    uint64_t index;
    if (!readNumber(state->window, &index)) return PIC_ERR_READ;
    line[x] = uint8_t(index);
  }
  --file->currentLine;
  return PIC_OK;
}

// Collects text in a fixed buffer and writes it in pieces; no allocation, so
// nothing can throw into the library's C callers.
class TextWriter {
 public:
  explicit TextWriter(picBinFile* stream) : stream_(stream) {}
  // Appends one short formatted piece (a number with its separators).
  void add(const char* format, int value) {
    if (length_ > sizeof buffer_ - zotLongestPiece) flush();
    length_ += size_t(std::snprintf(buffer_ + length_, sizeof buffer_ - length_, format, value));
  }
  void add(const char* text) {
    for (; *text; ++text) add("%c", *text);
  }
  // Writes what is pending; true when every write so far succeeded.
  bool flush() {
    // After a failed write nothing more goes out, so the file holds no gap.
    if (!failed_ && length_ > 0 && picBinWrite(stream_, buffer_, int(length_)) != int(length_))
      failed_ = true;
    length_ = 0;
    return !failed_ && !picBinError(stream_);
  }

 private:
  static const size_t zotLongestPiece = 32;
  picBinFile* stream_;
  char buffer_[zotChunk];
  size_t length_ = 0;
  bool failed_ = false;
};

int writeMap(picFile* file, const int32_t* map) {
  TextWriter text(stateOf(file)->stream);
  text.add("[\n");
  for (int i = 0; i < file->colours; ++i) {
    uint8_t red, green, blue;
    picDecodeColour(&red, &green, &blue, map[i]);
    if (i) text.add(",\n");
    text.add("%d = \"", i);
    text.add("%d ", red);
    text.add("%d ", green);
    text.add("%d\"", blue);
  }
  text.add("]\n");
  return text.flush() ? PIC_OK : PIC_ERR_WRITE;
}

int writeLine(picFile* file, const uint8_t* line) {
  TextWriter text(stateOf(file)->stream);
  if (file->currentLine == file->height - 1) {
    text.add("(%d,", file->width);
    text.add("%d\n", file->height);
  }
  for (int x = 0; x < file->width; ++x) text.add(",%d", line[x]);
  text.add("\n");
  if (file->currentLine == 0) text.add(")");
  if (!text.flush()) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: a two-colour map and a picture claiming
// width x height whose indices end after three.
std::vector<uint8_t> minimalHeader(int width, int height) {
  const std::string text = std::string(zotHeader) + "[\n0 = \"0 0 0\",\n1 = \"255 255 255\"]\n(" +
                           std::to_string(width) + "," + std::to_string(height) + "\n,0,1,0";
  return std::vector<uint8_t>(text.begin(), text.end());
}

picDriver driver = {PIC_DRIVER_ZOT, control, openRead,  openWrite, close, readMap,
                    writeMap, readLine, writeLine, nullptr,   nullptr};

}  // namespace

picDriver* picZotDriver(void) { return &driver; }

extern const picFormatInfo picZotFormat = {
    "zot", ".zot", picZotDriver, true, false, picMapWriter::keeps, {{"none", PIC_COMP_NONE, "text", false}},
    minimalHeader};
