// GIF images. Reads the first image of a GIF87a or GIF89a file, interlaced or
// not, with its local colour table or else the global one, and any LZW code
// size from 1 to 8 bits; extensions before the image are passed over. A table
// shorter than the code size addresses (2 entries for 8-bit codes) is
// described with 2^(code size) colours, the entries past it black. Writes
// single-image GIF87a files with a 256-entry global colour table, compressed
// with LZW (compression PIC_COMP_LZW) or as plain 9-bit codes (any other
// compression). Colour-mapped images only: refuses true colour, and sides
// longer than a 16-bit field holds.
// Memory: the fixed state (the LZW tables, the colour table, a 4 KB read-ahead
// block for streams not read in place); lines are decoded straight into the
// caller's rows.
#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/formats/gif_lzw.h"

namespace {

const char gifSignature[] = "GIF";
const char gifWrittenVersion[] = "GIF87a";
const int gifSignatureSize = 3;
const int gifScreenSize = 10;      // version, width, height, flags, background, aspect
const int gifScreenFlags = 7;      // offset of the flags in the screen descriptor
const int gifDescriptorSize = 9;   // left, top, width, height, flags
const int gifDescriptorWidth = 4;  // offsets in the image descriptor
const int gifDescriptorHeight = 6;
const int gifDescriptorFlags = 8;
const int gifExtension = 0x21;
const int gifImage = 0x2C;
const uint8_t gifTrailer = 0x3B;
const int gifHasTable = 0x80;
const int gifInterlaced = 0x40;
const int gifTableSizeBits = 0x07;
const int gifMaxSide = 0xFFFF;
const int gifMaxBlock = 255;
const int gifWrittenScreenFlags = 0xF7;  // global table of 256 entries, 8-bit colour
const int gifWrittenImageFlags = 0x07;
const int gifWrittenCodeSize = 8;
const int gifTableBytes = 3 * PIC_MAX_COLOURS;
const int gifChunk = 4096;
const int gifPasses = 4;
const int interlaceStart[gifPasses] = {0, 4, 2, 1};
const int interlaceStep[gifPasses] = {8, 8, 4, 2};

struct picGifState {
  picBinFile* file;
  long mapOffset;  // writing: where the colour table lies
  int tableColours;  // reading: entries of the colour table the image uses
  int lzw;         // writing: 1 = LZW, 0 = plain 9-bit codes
  int pass;        // interlace pass of the next line
  int interlaced;
  // Reading.
  picInputWindow window;
  // Kept from the header: a disk file's window shows the stream's own buffer,
  // which going back to the table would refill.
  uint8_t table[gifTableBytes];
  int blockLeft;   // bytes of the current data sub-block not yet taken
  bool dataEnded;  // the block terminator or the end of the file was met
  GifLzwDecoder decoder;
  // Writing.
  GifLzwEncoder encoder;
  uint8_t block[1 + gifMaxBlock + 2];  // size byte, bytes collected, room for the trailer
  uint8_t codes[gifChunk];
};

picGifState* stateOf(picFile* file) { return static_cast<picGifState*>(file->driverData); }

int tableColours(int flags) { return 2 << (flags & gifTableSizeBits); }

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, picGifState* state, int* status, int code) {
  if (state && state->file) picBinClose(state->file);
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Passes over an extension's label and data sub-blocks.
bool skipExtension(picInputWindow& window) {
  if (window.get() < 0) return false;
  for (;;) {
    const int size = window.get();
    if (size < 0) return false;
    if (size == 0) return true;
    if (!window.skip(size)) return false;
  }
}

// Keeps a colour table; a local one replaces the global one.
bool takeTable(picInputWindow& window, int flags, picGifState* state) {
  state->tableColours = tableColours(flags);
  return window.read(state->table, 3 * state->tableColours);
}

// Reads the screen descriptor and the blocks up to the first image's data,
// filling the description of the picFile.
int readHeader(picFile* file, picGifState* state) {
  picInputWindow& window = state->window;
  uint8_t screen[gifScreenSize];
  if (!window.read(screen, gifScreenSize))
    return picRefuse(PIC_ERR_READ, "data ends inside the screen descriptor");
  if ((screen[gifScreenFlags] & gifHasTable) && !takeTable(window, screen[gifScreenFlags], state))
    return picRefuse(PIC_ERR_READ, "data ends inside the colour table");

  for (;;) {
    const int introducer = window.get();
    if (introducer < 0) return picRefuse(PIC_ERR_READ, "data ends before any image");
    if (introducer == gifImage) break;
    if (introducer != gifExtension) return picRefuse(PIC_ERR_FORMAT, "unknown block before the image");
    if (!skipExtension(window)) return picRefuse(PIC_ERR_FORMAT, "data ends inside an extension");
  }
  uint8_t descriptor[gifDescriptorSize];
  if (!window.read(descriptor, gifDescriptorSize))
    return picRefuse(PIC_ERR_READ, "data ends inside the image descriptor");
  const int width = picGetLE16(descriptor + gifDescriptorWidth);
  const int height = picGetLE16(descriptor + gifDescriptorHeight);
  const int flags = descriptor[gifDescriptorFlags];
  state->interlaced = (flags & gifInterlaced) != 0;
  if ((flags & gifHasTable) && !takeTable(window, flags, state))
    return picRefuse(PIC_ERR_READ, "data ends inside the colour table");
  if (state->tableColours == 0) return picRefuse(PIC_ERR_READ, "no colour table");

  const int codeSize = window.get();
  if (codeSize < 0) return picRefuse(PIC_ERR_READ, "data ends before the LZW code size");
  // Codes of codeSize bits reach 2^codeSize indices, whatever the table holds.
  const int colours =
      codeSize <= 8 ? picColoursForIndices(state->tableColours, codeSize) : state->tableColours;
  picDescribe(file, width, height, PIC_MAP, PIC_COMP_RLE, colours);
  if (picCheckReadSize(width, height) != PIC_OK) return PIC_ERR_DATA;
  if (!gifLzwStartDecoder(&state->decoder, codeSize))
    return picRefuse(PIC_ERR_DATA, "LZW code size outside 1 to 8");
  return PIC_OK;
}

picFile* openRead(const char* fileName, int* status) {
  picBinFile* stream = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!stream) return picOpenResult(status, PIC_ERR_OPEN, nullptr);
  char signature[gifSignatureSize];
  const bool complete =
      picBinRead(stream, signature, gifSignatureSize) == gifSignatureSize && !picBinError(stream);
  if (!complete || std::memcmp(signature, gifSignature, gifSignatureSize) != 0) {
    picBinClose(stream);
    // Not a GIF file: no reason. A file too short for a signature is a read error.
    const int code = complete ? PIC_ERR_FORMAT : picRefuse(PIC_ERR_READ, "data ends inside the signature");
    return picOpenResult(status, code, nullptr);
  }

  picFile* file = picNewFile();
  auto* state = picNewState<picGifState>();
  if (!file || !state) {
    picBinClose(stream);
    return release(file, state, status, PIC_ERR_OPEN);
  }
  state->file = stream;
  if (!state->window.start(stream, gifChunk)) return release(file, state, status, PIC_ERR_OPEN);
  const int code = readHeader(file, state);
  if (code != PIC_OK && code != PIC_ERR_DATA) return release(file, state, status, code);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  file->driverData = state;
  return picOpenResult(status, code, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_MAP)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour maps only"), nullptr);
  if (width < 1 || height < 1)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "a side of no pixels"), nullptr);
  if (width > gifMaxSide || height > gifMaxSide)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "a side longer than 65535"), nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<picGifState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);
  picDescribe(file, width, height, PIC_MAP, compression, colours);
  file->planar = 0;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  state->lzw = compression == PIC_COMP_LZW;

  // Screen, a black table that writeMap fills in, the image descriptor.
  uint8_t header[gifSignatureSize + gifScreenSize + gifTableBytes + 1 + gifDescriptorSize + 1] = {};
  uint8_t* p = header;
  std::memcpy(p, gifWrittenVersion, sizeof gifWrittenVersion - 1);
  p += sizeof gifWrittenVersion - 1;
  picPutLE16(p, uint32_t(width));
  picPutLE16(p + 2, uint32_t(height));
  p[4] = gifWrittenScreenFlags;  // then background 0 and aspect 0
  p += 7;
  state->mapOffset = long(p - header);
  p += gifTableBytes;
  *p++ = gifImage;
  p += 4;  // left and top 0
  picPutLE16(p, uint32_t(width));
  picPutLE16(p + 2, uint32_t(height));
  p[4] = gifWrittenImageFlags;
  p += 5;
  *p++ = gifWrittenCodeSize;
  state->block[0] = uint8_t(gifLzwStartEncoder(&state->encoder, state->lzw != 0, state->block + 1));

  if (picBinWrite(state->file, header, int(p - header)) != int(p - header) ||
      picBinError(state->file))
    return release(file, state, status, PIC_ERR_WRITE);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  picGifState* state = stateOf(file);
  const int closed = picCloseStream(state->file);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

// Runs a transfer at `offset`, then returns the stream to where it stood, so
// that the map can be written before, between or after the lines.
template <typename Transfer>
bool transferAt(picBinFile* stream, long offset, Transfer transfer) {
  const long back = picBinTell(stream);
  picBinSeekSet(stream, int(offset));
  const bool ok = !picBinError(stream) && transfer() && !picBinError(stream);
  picBinSeekSet(stream, int(back));
  return ok && !picBinError(stream);
}

int readMap(picFile* file, int32_t* map) {
  picGifState* state = stateOf(file);
  const int entries = std::min(state->tableColours, PIC_MAX_COLOURS);
  const uint8_t* table = state->table;
  for (int i = 0; i < entries; ++i)
    map[i] = picEncodeColour(table[3 * i], table[3 * i + 1], table[3 * i + 2]);
  picFillMissingColours(map, entries, file->colours);
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  picGifState* state = stateOf(file);
  // Never more than the 256 entries the written table holds; the rest stays black.
  const int colours = std::max(0, std::min(file->colours, PIC_MAX_COLOURS));
  uint8_t table[gifTableBytes] = {};
  for (int i = 0; i < colours; ++i)
    picDecodeColour(&table[3 * i], &table[3 * i + 1], &table[3 * i + 2], map[i]);
  const bool ok = transferAt(state->file, state->mapOffset, [&] {
    return picBinWrite(state->file, table, gifTableBytes) == gifTableBytes;
  });
  return ok ? PIC_OK : PIC_ERR_WRITE;
}

// The next run of image data bytes of the current sub-block, or 0 once the
// data has ended (block terminator, end of file or stream error).
int dataRun(picGifState* state, const uint8_t** run) {
  picInputWindow& window = state->window;
  while (state->blockLeft == 0) {
    if (state->dataEnded) return 0;
    const int size = window.get();
    if (size <= 0) {
      state->dataEnded = true;
      return 0;
    }
    state->blockLeft = size;
  }
  const int shown = window.look(state->blockLeft, run);
  if (shown == 0) {
    state->dataEnded = true;
    state->blockLeft = 0;
  }
  return shown;
}

// The buffer row of the next line: top-down, or by interlace passes.
void advanceLine(picFile* file, picGifState* state) {
  if (!state->interlaced) {
    --file->currentLine;
    return;
  }
  int row = file->height - 1 - file->currentLine + interlaceStep[state->pass];
  while (row >= file->height && state->pass < gifPasses - 1) row = interlaceStart[++state->pass];
  file->currentLine = file->height - 1 - row;
}

int readLine(picFile* file, uint8_t* line) {
  picGifState* state = stateOf(file);
  advanceLine(file, state);
  // Data that ended on an earlier line has nothing for this one.
  if (state->decoder.ended) return picRefuse(PIC_ERR_READ, "end code before the last row");
  const size_t width = size_t(file->width);
  size_t done = 0;
  while (done < width) {
    const uint8_t* run = nullptr;
    const int available = dataRun(state, &run);
    size_t used = 0, produced = 0;
    const GifLzwResult result = gifLzwDecode(&state->decoder, run, size_t(available), &used,
                                             line + done, width - done, &produced);
    state->window.consume(int(used));
    state->blockLeft -= int(used);
    done += produced;
    switch (result) {
      case GifLzwResult::full:
        break;
      case GifLzwResult::needInput:
        if (available == 0)
          return picRefuse(PIC_ERR_READ, state->window.failed() ? "read error" : "data ends inside a row");
        break;
      case GifLzwResult::end:
        // An end code with one pixel to go still ends the line, which gets index 0.
        if (width - done != 1) return picRefuse(PIC_ERR_READ, "end code inside a row");
        line[done++] = 0;
        break;
      case GifLzwResult::badCode:
        return picRefuse(PIC_ERR_READ, "LZW code that names no string");
    }
  }
  return PIC_OK;
}

// Appends code bytes to the sub-block, writing each one that fills up.
bool putCodes(picGifState* state, const uint8_t* bytes, size_t count) {
  uint8_t* block = state->block;
  for (size_t i = 0; i < count; ++i) {
    if (block[0] == gifMaxBlock) {
      if (picBinWrite(state->file, block, 1 + gifMaxBlock) != 1 + gifMaxBlock ||
          picBinError(state->file))
        return false;
      block[0] = 0;
    }
    block[1 + block[0]++] = bytes[i];
  }
  return true;
}

// The last codes, the last sub-block, the block terminator and the trailer.
bool finishImage(picGifState* state) {
  const size_t count = gifLzwFinishEncoder(&state->encoder, state->codes);
  if (!putCodes(state, state->codes, count)) return false;
  uint8_t* block = state->block;
  const int blockBytes = block[0] ? 1 + block[0] : 0;
  block[blockBytes] = 0;
  block[blockBytes + 1] = gifTrailer;
  return picBinWrite(state->file, block, blockBytes + 2) == blockBytes + 2 &&
         !picBinError(state->file);
}

int writeLine(picFile* file, const uint8_t* line) {
  picGifState* state = stateOf(file);
  const size_t width = size_t(file->width);
  for (size_t done = 0; done < width;) {
    size_t used = 0;
    const size_t count = gifLzwEncode(&state->encoder, line + done, width - done, &used,
                                      state->codes, sizeof state->codes);
    if (!putCodes(state, state->codes, count)) return PIC_ERR_WRITE;
    done += used;
  }
  if (--file->currentLine < 0 && !finishImage(state)) return PIC_ERR_WRITE;
  return PIC_OK;
}

int control(void*, int) { return 0; }

// For tests of the size checks: a 2-entry table and an image claiming
// width x height whose data holds a clear code and a pixel, then ends.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
  picPutLE16(&b[6], uint32_t(width));
  picPutLE16(&b[8], uint32_t(height));
  b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // flags, background, aspect, 2-entry table
  b.insert(b.end(), {gifImage, 0, 0, 0, 0, 0, 0, 0, 0});     // image descriptor: left, top, sides
  picPutLE16(&b[b.size() - 4], uint32_t(width));
  picPutLE16(&b[b.size() - 2], uint32_t(height));
  b.insert(b.end(), {0, 2, 2, 0x4c, 0x01});  // flags, code size, a sub-block: clear, a pixel; no end
  return b;
}

picDriver driver = {PIC_DRIVER_GIF, control, openRead,  openWrite, close,  readMap,
                    writeMap, readLine, writeLine, nullptr,   nullptr};

}  // namespace

picDriver* picGifDriver(void) { return &driver; }

extern const picFormatInfo picGifFormat = {
    "gif", ".gif", picGifDriver, true, false, picMapWriter::keeps,
    {{"lzw", PIC_COMP_LZW, "LZW", false}, {"none", PIC_COMP_NONE, "uncompressed 9-bit codes", false}},
    minimalHeader};
