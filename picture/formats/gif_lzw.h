// The variable-width LZW codec of GIF image data, on memory only: the decoder
// takes the data bytes with the sub-block framing already removed, the encoder
// gives bytes still to be framed. Codes are packed least significant bit first.
#ifndef PICTURE_FORMATS_GIF_LZW_H
#define PICTURE_FORMATS_GIF_LZW_H

#include <cstddef>
#include <cstdint>

const int gifLzwMaxBits = 12;
const int gifLzwTableSize = 1 << gifLzwMaxBits;  // codes 0 .. 4095
const int gifLzwHashSize = 8192;

enum class GifLzwResult {
  full,       // the destination is full; more codes may follow
  needInput,  // every source byte is used and the destination is not full
  end,        // the end code arrived; nothing more will be decoded
  badCode     // a code names no string; the data is corrupt
};

// One table entry, packed so that defining one is a single store: a string as
// the entry of the string one byte shorter (bits 0-15), its length (16-31,
// every string is shorter than the table), its last byte (32-39) and its
// first (40-47).
typedef uint64_t GifLzwEntry;

// What changes code by code; a decode keeps it in locals while it runs.
struct GifLzwCursor {
  uint64_t bitBuffer;  // bits not yet taken, the next code lowest
  int bitCount;
  int codeBits;  // width of the next code
  int nextCode;  // the table entry the next code defines
  int oldCode;   // the previous code, or -1 after a clear
};

struct GifLzwDecoder {
  int codeSize;   // bits of a pixel: literal codes are 0 .. 2^codeSize - 1
  int clearCode;  // 2^codeSize
  int endCode;    // clearCode + 1
  GifLzwCursor cursor;
  int stackDepth;  // bytes of the last string not yet delivered
  int stackNext;   // where they start in decodeStack
  bool ended;
  bool corrupt;
  GifLzwEntry table[gifLzwTableSize];
  uint8_t decodeStack[gifLzwTableSize];
};

// False when codeSize is outside 1 .. 8 (a pixel must fit a byte).
bool gifLzwStartDecoder(GifLzwDecoder* decoder, int codeSize);

// Decodes until the destination is full, the source is used up, or the data
// ends. *used and *produced receive the bytes taken and given. The state carries
// over between calls, so a string may span two destinations.
GifLzwResult gifLzwDecode(GifLzwDecoder* decoder, const uint8_t* source, size_t sourceLength,
                          size_t* used, uint8_t* destination, size_t destinationLength,
                          size_t* produced);

struct GifLzwEncoder {
  bool lzw;  // false: every pixel goes out as a literal 9-bit code
  int codeSize;
  int clearCode;
  int endCode;
  int nextCode;  // with lzw the code of the next string; without, codes since the clear
  int codeBits;
  int codeLimit;    // 2^codeBits
  int pendingCode;  // the string not yet emitted, or -1
  uint32_t bitBuffer;
  int bitCount;
  uint32_t hashTable[gifLzwHashSize];  // (prefix * 256 + byte) << 12 | code; all ones = empty
};

// Room for one pixel's codes (at most two of 12 bits) or for the finish.
const size_t gifLzwRoomPerPixel = 3;
const size_t gifLzwFinishRoom = 4;

// Starts a stream of 8-bit pixels with a clear code; its whole bytes go into
// destination (room for gifLzwFinishRoom bytes). Returns their count.
size_t gifLzwStartEncoder(GifLzwEncoder* encoder, bool lzw, uint8_t* destination);

// Encodes pixels while the destination has room for a pixel's codes; *used
// receives the pixels taken. Returns the bytes given.
size_t gifLzwEncode(GifLzwEncoder* encoder, const uint8_t* source, size_t sourceLength,
                    size_t* used, uint8_t* destination, size_t destinationLength);

// Emits the pending string, the end code and the last, zero-padded byte
// (room for gifLzwFinishRoom bytes). Returns the bytes given.
size_t gifLzwFinishEncoder(GifLzwEncoder* encoder, uint8_t* destination);

#endif
