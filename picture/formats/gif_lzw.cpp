#include "picture/formats/gif_lzw.h"

#include <cstring>

namespace {

const uint32_t emptySlot = 0xFFFFFFFFu;
const int hashMask = gifLzwHashSize - 1;
const int codeMask = gifLzwTableSize - 1;

// After a clear code: only the literals and the two control codes are known.
void resetTable(GifLzwDecoder* decoder) {
  decoder->nextCode = decoder->endCode + 1;
  decoder->codeBits = decoder->codeSize + 1;
  decoder->oldCode = -1;
}

// Codes widen once the next entry needs the extra bit. Checked after every
// string or literal code, the first after a clear included: with 1-bit pixels
// the first free entry already needs it.
void widen(GifLzwDecoder* decoder) {
  if (decoder->nextCode >= 1 << decoder->codeBits && decoder->codeBits < gifLzwMaxBits)
    ++decoder->codeBits;
}

// Checks a code against the table and defines the entry it completes. False
// for a code that names no string: a value not yet defined other than the
// entry being defined, or a string code right after a clear.
bool takeCode(GifLzwDecoder* decoder, int code) {
  const int oldCode = decoder->oldCode;
  if (oldCode < 0) {
    if (code >= decoder->clearCode) return false;
    decoder->oldCode = code;
    widen(decoder);
    return true;
  }
  const bool known =
      code < decoder->clearCode || (code > decoder->endCode && code < decoder->nextCode);
  if (!known && code != decoder->nextCode) return false;
  const int entry = decoder->nextCode;
  if (entry < gifLzwTableSize) {  // a full table stays as it is until a clear
    decoder->prefix[entry] = uint16_t(oldCode);
    decoder->suffix[entry] = known ? decoder->firstByte[code] : decoder->firstByte[oldCode];
    decoder->firstByte[entry] = decoder->firstByte[oldCode];
    decoder->length[entry] = uint16_t(decoder->length[oldCode] + 1);
    decoder->nextCode = entry + 1;
  }
  decoder->oldCode = code;
  widen(decoder);
  return true;
}

// Writes the string of a known code backwards from its last byte. Every entry
// is one byte longer than its prefix, so the walk ends on a literal.
void spell(const GifLzwDecoder* decoder, int code, uint8_t* string, int length) {
  for (uint8_t* p = string + length - 1; p > string; --p) {
    *p = decoder->suffix[code];
    code = decoder->prefix[code];
  }
  *string = decoder->suffix[code];
}

// Delivers what fits of a code's string; the rest waits on the stack.
size_t deliver(GifLzwDecoder* decoder, int code, uint8_t* destination, size_t room) {
  const int length = decoder->length[code];
  if (size_t(length) <= room) {
    spell(decoder, code, destination, length);
    return size_t(length);
  }
  spell(decoder, code, decoder->decodeStack, length);
  std::memcpy(destination, decoder->decodeStack, room);
  decoder->stackNext = int(room);
  decoder->stackDepth = length - int(room);
  return room;
}

}  // namespace

bool gifLzwStartDecoder(GifLzwDecoder* decoder, int codeSize) {
  if (codeSize < 1 || codeSize > 8) return false;
  decoder->codeSize = codeSize;
  decoder->clearCode = 1 << codeSize;
  decoder->endCode = decoder->clearCode + 1;
  resetTable(decoder);
  decoder->bitBuffer = 0;
  decoder->bitCount = 0;
  decoder->stackDepth = 0;
  decoder->stackNext = 0;
  decoder->ended = false;
  decoder->corrupt = false;
  for (int literal = 0; literal < decoder->clearCode; ++literal) {
    decoder->prefix[literal] = 0;
    decoder->suffix[literal] = uint8_t(literal);
    decoder->firstByte[literal] = uint8_t(literal);
    decoder->length[literal] = 1;
  }
  return true;
}

GifLzwResult gifLzwDecode(GifLzwDecoder* decoder, const uint8_t* source, size_t sourceLength,
                          size_t* used, uint8_t* destination, size_t destinationLength,
                          size_t* produced) {
  size_t in = 0, out = 0;
  auto finish = [&](GifLzwResult result) {
    *used = in;
    *produced = out;
    return result;
  };
  if (decoder->stackDepth > 0) {
    out = size_t(decoder->stackDepth) < destinationLength ? size_t(decoder->stackDepth)
                                                          : destinationLength;
    std::memcpy(destination, decoder->decodeStack + decoder->stackNext, out);
    decoder->stackNext += int(out);
    decoder->stackDepth -= int(out);
  }
  for (;;) {
    if (out == destinationLength) return finish(GifLzwResult::full);
    if (decoder->corrupt) return finish(GifLzwResult::badCode);
    if (decoder->ended) return finish(GifLzwResult::end);
    while (decoder->bitCount < decoder->codeBits) {
      if (in == sourceLength) return finish(GifLzwResult::needInput);
      decoder->bitBuffer |= uint32_t(source[in++]) << decoder->bitCount;
      decoder->bitCount += 8;
    }
    const int code = int(decoder->bitBuffer & ((1u << decoder->codeBits) - 1));
    decoder->bitBuffer >>= decoder->codeBits;
    decoder->bitCount -= decoder->codeBits;
    if (code == decoder->clearCode) {
      resetTable(decoder);
    } else if (code == decoder->endCode) {
      decoder->ended = true;
    } else if (!takeCode(decoder, code)) {
      decoder->corrupt = true;
    } else {
      out += deliver(decoder, code, destination + out, destinationLength - out);
    }
  }
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
