#include "picture/formats/gif_lzw.h"

#include <cstring>

#include "picture/core/driver_support.h"

namespace {

const uint32_t emptySlot = 0xFFFFFFFFu;
const int hashMask = gifLzwHashSize - 1;
const int codeMask = gifLzwTableSize - 1;

GifLzwEntry makeEntry(int prefix, int length, int suffix, int firstByte) {
  return uint64_t(uint16_t(prefix)) | uint64_t(uint16_t(length)) << 16 |
         uint64_t(uint8_t(suffix)) << 32 | uint64_t(uint8_t(firstByte)) << 40;
}
int prefixOf(GifLzwEntry entry) { return int(entry & 0xFFFF); }
int lengthOf(GifLzwEntry entry) { return int(entry >> 16 & 0xFFFF); }
uint8_t suffixOf(GifLzwEntry entry) { return uint8_t(entry >> 32); }
uint8_t firstByteOf(GifLzwEntry entry) { return uint8_t(entry >> 40); }

// After a clear code: only the literals and the two control codes are known.
void resetTable(const GifLzwDecoder* decoder, GifLzwCursor* cursor) {
  cursor->nextCode = decoder->endCode + 1;
  cursor->codeBits = decoder->codeSize + 1;
  cursor->oldCode = -1;
}

// Codes widen once the next entry needs the extra bit. Checked after every
// string or literal code, the first after a clear included: with 1-bit pixels
// the first free entry already needs it.
void widen(GifLzwCursor* cursor) {
  if (cursor->nextCode >= 1 << cursor->codeBits && cursor->codeBits < gifLzwMaxBits)
    ++cursor->codeBits;
}

// Checks a code against the table and defines the entry it completes. False
// for a code that names no string: a value not yet defined other than the
// entry being defined, or a string code right after a clear.
bool takeCode(GifLzwDecoder* decoder, GifLzwCursor* cursor, int code) {
  const int oldCode = cursor->oldCode;
  if (oldCode < 0) {
    if (code >= decoder->clearCode) return false;
    cursor->oldCode = code;
    widen(cursor);
    return true;
  }
  const int entry = cursor->nextCode;
  const bool known =
      code < decoder->clearCode || (code > decoder->endCode && code < entry);
  if (!known && code != entry) return false;
  if (entry < gifLzwTableSize) {  // a full table stays as it is until a clear
    const GifLzwEntry old = decoder->table[oldCode];
    const uint8_t suffix = known ? firstByteOf(decoder->table[code]) : firstByteOf(old);
    decoder->table[entry] = makeEntry(oldCode, lengthOf(old) + 1, suffix, firstByteOf(old));
    cursor->nextCode = entry + 1;
  }
  cursor->oldCode = code;
  widen(cursor);
  return true;
}

// Writes the string of a known code backwards from its last byte. Every entry
// is one byte longer than its prefix, so the walk ends on a literal.
void spell(const GifLzwEntry* table, int code, uint8_t* string, int length) {
  for (uint8_t* p = string + length - 1; p > string; --p) {
    *p = suffixOf(table[code]);
    code = prefixOf(table[code]);
  }
  *string = suffixOf(table[code]);
}

// Delivers what fits of a code's string; the rest waits on the stack.
size_t deliver(GifLzwDecoder* decoder, int code, uint8_t* destination, size_t room) {
  const int length = lengthOf(decoder->table[code]);
  if (size_t(length) <= room) {
    spell(decoder->table, code, destination, length);
    return size_t(length);
  }
  spell(decoder->table, code, decoder->decodeStack, length);
  std::memcpy(destination, decoder->decodeStack, room);
  decoder->stackNext = int(room);
  decoder->stackDepth = length - int(room);
  return room;
}

uint64_t loadLE64(const uint8_t* bytes) {
  return uint64_t(picGetLE32(bytes)) | uint64_t(picGetLE32(bytes + 4)) << 32;
}

const size_t wholeLoad = 8;  // source bytes a refill takes at once

// Adds whole source bytes to the bit buffer, from eight at hand: 56 bits or
// more are then held. The bits above the count are those of the next byte,
// which the next load puts there again.
void refillWhole(GifLzwCursor* cursor, const uint8_t* source, size_t* in) {
  cursor->bitBuffer |= loadLE64(source + *in) << cursor->bitCount;
  *in += size_t(63 - cursor->bitCount) >> 3;
  cursor->bitCount |= 56;
}

// Tops the bit buffer up to a whole code at least; false when the source ends first.
bool refill(GifLzwCursor* cursor, const uint8_t* source, size_t sourceLength, size_t* in) {
  if (sourceLength - *in >= wholeLoad) {
    refillWhole(cursor, source, in);
    return true;
  }
  while (cursor->bitCount < cursor->codeBits) {
    if (*in == sourceLength) return false;
    cursor->bitBuffer |= uint64_t(source[(*in)++]) << cursor->bitCount;
    cursor->bitCount += 8;
  }
  return true;
}

// The run of literal codes that follows a literal, as files of uncompressed
// codes are made of: each code is its pixel and defines the entry (previous
// literal, this one). Stops before any other code, before the entry that
// would widen the codes, at the end of the room, or where fewer than eight
// source bytes are left. Returns the pixels given.
size_t decodeLiteralRun(GifLzwCursor* cursor, GifLzwEntry* table, int clearCode,
                        const uint8_t* source, size_t sourceLength, size_t* in,
                        uint8_t* destination, size_t room) {
  GifLzwCursor c = *cursor;
  const int width = c.codeBits;
  const uint64_t mask = (uint64_t(1) << width) - 1;
  const size_t entriesLeft = size_t((1 << width) - 1 - c.nextCode);
  const size_t count = room < entriesLeft ? room : entriesLeft;
  size_t given = 0;
  for (; given < count; ++given) {
    if (c.bitCount < width) {
      if (sourceLength - *in < wholeLoad) break;
      refillWhole(&c, source, in);
    }
    const int code = int(c.bitBuffer & mask);
    if (code >= clearCode) break;
    c.bitBuffer >>= width;
    c.bitCount -= width;
    table[c.nextCode++] = makeEntry(c.oldCode, 2, code, c.oldCode);
    destination[given] = uint8_t(code);
    c.oldCode = code;
  }
  *cursor = c;
  return given;
}

}  // namespace

bool gifLzwStartDecoder(GifLzwDecoder* decoder, int codeSize) {
  if (codeSize < 1 || codeSize > 8) return false;
  decoder->codeSize = codeSize;
  decoder->clearCode = 1 << codeSize;
  decoder->endCode = decoder->clearCode + 1;
  resetTable(decoder, &decoder->cursor);
  decoder->cursor.bitBuffer = 0;
  decoder->cursor.bitCount = 0;
  decoder->stackDepth = 0;
  decoder->stackNext = 0;
  decoder->ended = false;
  decoder->corrupt = false;
  for (int literal = 0; literal < decoder->clearCode; ++literal)
    decoder->table[literal] = makeEntry(0, 1, literal, literal);
  return true;
}

GifLzwResult gifLzwDecode(GifLzwDecoder* decoder, const uint8_t* source, size_t sourceLength,
                          size_t* used, uint8_t* destination, size_t destinationLength,
                          size_t* produced) {
  size_t in = 0, out = 0;
  if (decoder->stackDepth > 0) {
    out = size_t(decoder->stackDepth) < destinationLength ? size_t(decoder->stackDepth)
                                                          : destinationLength;
    std::memcpy(destination, decoder->decodeStack + decoder->stackNext, out);
    decoder->stackNext += int(out);
    decoder->stackDepth -= int(out);
  }
  // In locals while the codes run: a store to the destination may alias any
  // field, and would make every pixel reload them.
  GifLzwCursor cursor = decoder->cursor;
  GifLzwEntry* const table = decoder->table;
  const int clearCode = decoder->clearCode;
  auto finish = [&](GifLzwResult result) {
    cursor.bitBuffer &= (uint64_t(1) << cursor.bitCount) - 1;
    decoder->cursor = cursor;
    *used = in;
    *produced = out;
    return result;
  };
  if (out == destinationLength) return finish(GifLzwResult::full);
  if (decoder->corrupt) return finish(GifLzwResult::badCode);
  if (decoder->ended) return finish(GifLzwResult::end);
  while (out < destinationLength) {
    if (cursor.bitCount < cursor.codeBits && !refill(&cursor, source, sourceLength, &in))
      return finish(GifLzwResult::needInput);
    const int code = int(cursor.bitBuffer & ((1u << cursor.codeBits) - 1));
    cursor.bitBuffer >>= cursor.codeBits;
    cursor.bitCount -= cursor.codeBits;
    // The common case of files of literal codes: a literal after another code,
    // defining an entry that leaves the width as it is. The literals after it
    // go through the run's own loop.
    if (code < clearCode && cursor.oldCode >= 0 && cursor.nextCode < (1 << cursor.codeBits) - 1) {
      const GifLzwEntry old = table[cursor.oldCode];
      table[cursor.nextCode++] = makeEntry(cursor.oldCode, lengthOf(old) + 1, code, firstByteOf(old));
      cursor.oldCode = code;
      destination[out++] = uint8_t(code);
      out += decodeLiteralRun(&cursor, table, clearCode, source, sourceLength, &in,
                              destination + out, destinationLength - out);
    } else if (code == clearCode) {
      resetTable(decoder, &cursor);
    } else if (code == decoder->endCode) {
      decoder->ended = true;
      return finish(GifLzwResult::end);
    } else if (!takeCode(decoder, &cursor, code)) {
      decoder->corrupt = true;
      return finish(GifLzwResult::badCode);
    } else {
      out += deliver(decoder, code, destination + out, destinationLength - out);
    }
  }
  return finish(GifLzwResult::full);
}

namespace {

void clearHash(GifLzwEncoder* encoder) {
  for (uint32_t& slot : encoder->hashTable) slot = emptySlot;
}

// Puts a code above the bits held and gives every whole byte.
size_t emit(GifLzwEncoder* encoder, int code, uint8_t* destination) {
  encoder->bitBuffer |= uint32_t(code) << encoder->bitCount;
  encoder->bitCount += encoder->codeBits;
  size_t given = 0;
  while (encoder->bitCount >= 8) {
    destination[given++] = uint8_t(encoder->bitBuffer);
    encoder->bitBuffer >>= 8;
    encoder->bitCount -= 8;
  }
  // The decoder widens its codes once it has defined the entry below the limit.
  if (encoder->lzw && encoder->nextCode >= encoder->codeLimit &&
      encoder->codeBits < gifLzwMaxBits) {
    ++encoder->codeBits;
    encoder->codeLimit <<= 1;
  }
  return given;
}

size_t emitClear(GifLzwEncoder* encoder, uint8_t* destination) {
  const size_t given = emit(encoder, encoder->clearCode, destination);
  encoder->codeBits = encoder->codeSize + 1;
  encoder->codeLimit = 1 << encoder->codeBits;
  if (encoder->lzw) {
    encoder->nextCode = encoder->endCode + 1;
    clearHash(encoder);
  } else {
    encoder->nextCode = 0;
  }
  return given;
}

int hashOf(uint32_t key) { return int(((key >> 12) ^ key) & hashMask); }

// One more pixel of LZW: extends the pending string, or emits it and starts anew.
size_t encodeLzw(GifLzwEncoder* encoder, uint8_t pixel, uint8_t* destination) {
  const uint32_t key = uint32_t(encoder->pendingCode) << 8 | pixel;
  int slot = hashOf(key);
  for (; encoder->hashTable[slot] != emptySlot; slot = (slot + 1) & hashMask) {
    if (encoder->hashTable[slot] >> gifLzwMaxBits == key) {
      encoder->pendingCode = int(encoder->hashTable[slot] & codeMask);
      return 0;
    }
  }
  size_t given = emit(encoder, encoder->pendingCode, destination);
  // Entries stop below 4095, leaving the decoder's table a code to spare.
  if (encoder->nextCode < gifLzwTableSize - 1) {
    encoder->hashTable[slot] = key << gifLzwMaxBits | uint32_t(encoder->nextCode);
    ++encoder->nextCode;
  } else {
    given += emitClear(encoder, destination + given);
  }
  encoder->pendingCode = pixel;
  return given;
}

// One more pixel as a literal code; a clear code every 254 codes keeps the
// decoder's table from growing, so the width stays at 9 bits.
size_t encodeLiteral(GifLzwEncoder* encoder, uint8_t pixel, uint8_t* destination) {
  size_t given = emit(encoder, encoder->pendingCode, destination);
  encoder->pendingCode = pixel;
  if (++encoder->nextCode == encoder->clearCode - 2)
    given += emitClear(encoder, destination + given);
  return given;
}

}  // namespace

size_t gifLzwStartEncoder(GifLzwEncoder* encoder, bool lzw, uint8_t* destination) {
  encoder->lzw = lzw;
  encoder->codeSize = 8;
  encoder->clearCode = 1 << encoder->codeSize;
  encoder->endCode = encoder->clearCode + 1;
  encoder->pendingCode = -1;
  encoder->bitBuffer = 0;
  encoder->bitCount = 0;
  encoder->codeBits = encoder->codeSize + 1;
  encoder->codeLimit = 1 << encoder->codeBits;
  encoder->nextCode = lzw ? encoder->endCode + 1 : 0;
  return emitClear(encoder, destination);
}

size_t gifLzwEncode(GifLzwEncoder* encoder, const uint8_t* source, size_t sourceLength,
                    size_t* used, uint8_t* destination, size_t destinationLength) {
  size_t in = 0, out = 0;
  if (sourceLength > 0 && encoder->pendingCode < 0) encoder->pendingCode = source[in++];
  for (; in < sourceLength && destinationLength - out >= gifLzwRoomPerPixel; ++in)
    out += encoder->lzw ? encodeLzw(encoder, source[in], destination + out)
                        : encodeLiteral(encoder, source[in], destination + out);
  *used = in;
  return out;
}

size_t gifLzwFinishEncoder(GifLzwEncoder* encoder, uint8_t* destination) {
  size_t given = 0;
  if (encoder->pendingCode >= 0) given += emit(encoder, encoder->pendingCode, destination);
  encoder->pendingCode = -1;
  given += emit(encoder, encoder->endCode, destination + given);
  if (encoder->bitCount > 0) destination[given++] = uint8_t(encoder->bitBuffer);
  encoder->bitBuffer = 0;
  encoder->bitCount = 0;
  return given;
}
