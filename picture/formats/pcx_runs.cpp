#include "picture/formats/pcx_runs.h"

#include <algorithm>
#include <cstring>

#include "picture/core/driver_support.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define PIC_PCX_SSSE3 1
#include <tmmintrin.h>
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const uint8_t pcxRunFlag = 0xc0;  // both top bits set: a count in the low six bits
const size_t pcxMaxRun = 63;
const uint8_t pcxEscapeFrom = 0x40;  // literals from here up are written as runs of one

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Bit i set where byte i of a little-endian word has both flag bits.
inline unsigned flaggedBytes(uint64_t bytes) {
  const uint64_t flags = bytes & (bytes << 1) & UINT64_C(0x8080808080808080);
  return unsigned((flags >> 7) * UINT64_C(0x0102040810204080) >> 56);
}

// Which flagged bytes are codes, bit i for byte i, when byte 0 is not a
// value: in a stretch of flagged bytes the first is a code, the next its
// value, and so on, so codes lie at even offsets from where a stretch starts.
// Adding a stretch's first bit clears it when it starts at an even position.
inline uint64_t codesAmong(uint64_t flagged) {
  const uint64_t even = UINT64_C(0x5555555555555555);
  const uint64_t starts = flagged & ~(flagged << 1);
  const uint64_t evenStretches = flagged & ~(flagged + (starts & even));
  return (evenStretches & even) | (flagged & ~evenStretches & ~even);
}

// A chunk: 64 source bytes, one bit of a word for each.
const size_t chunkBytes = 64;

// Bit i set where byte i of the chunk has both flag bits.
inline uint64_t flaggedInChunk(const uint8_t* source) {
  uint64_t flagged = 0;
#ifdef __SSE2__
  const __m128i flagBits = _mm_set1_epi8(char(pcxRunFlag));
  for (size_t block = 0; block < chunkBytes / 16; ++block) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16 * block));
    const __m128i both = _mm_cmpeq_epi8(_mm_and_si128(bytes, flagBits), flagBits);
    flagged |= uint64_t(unsigned(_mm_movemask_epi8(both))) << (16 * block);
  }
#else
  for (size_t word = 0; word < chunkBytes / 8; ++word) {
    uint64_t bytes;
    std::memcpy(&bytes, source + 8 * word, sizeof bytes);
    flagged |= uint64_t(flaggedBytes(bytes)) << (8 * word);
  }
#endif
  return flagged;
}

// Copies a stretch of at most 63 literals, storing 32 or 64 bytes.
inline void copyLiterals(uint8_t* out, const uint8_t* source, size_t count) {
  std::memcpy(out, source, 32);
  if (count > 32) std::memcpy(out + 32, source + 32, 32);
}

// How far past what a code produces its stores may reach: a stretch of up to
// 63 literals is stored as 64 bytes, a run as 8 at least.
const size_t storeReach = 64;

// A chunk of any mix (how other writers store rows: literals below 0xc0,
// runs and runs of one among them): the codes among its bytes found at once,
// then each stretch of literals stored by one 32-byte copy (two when longer)
// and each run by an 8-byte fill. A code in the last byte is left for the
// next chunk, and so is the rest when the next store could pass the target's
// end. The source holds 2 * chunkBytes bytes (copies read past the chunk).
// Returns the source bytes used; *codeCount receives the runs expanded.
size_t expandChunk(const uint8_t* source, uint8_t* target, size_t targetLength, size_t* filled, int* codeCount) {
  uint64_t codes = codesAmong(flaggedInChunk(source));  // a chunk never starts on a value
  size_t end = chunkBytes;
  if (codes >> (chunkBytes - 1)) end = chunkBytes - 1, codes &= ~(UINT64_C(1) << (chunkBytes - 1));
  size_t fill = *filled, at = 0;
  int count = 0;
  if (targetLength - fill >= storeReach) {
    const size_t fillLimit = targetLength - storeReach;
    while (codes) {
      const size_t code = size_t(unsigned(__builtin_ctzll(codes)));
      const unsigned head = source[code];
      const size_t stretch = code - at;
      const size_t next = fill + stretch + (head & pcxMaxRun);
      if (next > fillLimit) break;
      codes &= codes - 1;
      copyLiterals(target + fill, source + at, stretch);
      const uint64_t copies = source[code + 1] * UINT64_C(0x0101010101010101);
      std::memcpy(target + fill + stretch, &copies, sizeof copies);
      if ((head & pcxMaxRun) > sizeof copies)
        std::memset(target + fill + stretch + sizeof copies, source[code + 1], (head & pcxMaxRun) - sizeof copies);
      fill = next;
      at = code + 2;
      ++count;
    }
  }
  if (codes) end = at;  // too near the target's end: the steps after chunks go on from here
  if (end > at) {
    if (targetLength - fill < storeReach) {
      end = at;
    } else {
      copyLiterals(target + fill, source + at, end - at);
      fill += end - at;
    }
  }
  *codeCount = count;
  *filled = fill;
  return end;
}
#endif

#ifdef PIC_PCX_SSSE3
// Four pairs "count, value" whose counts are 1 to 4 expand to at most 16
// bytes: one byte shuffle of the pairs, chosen by the four counts (two bits
// each, count - 1), and the expanded length.
struct ShortRunShuffles {
  uint8_t shuffle[256][16];
  uint8_t length[256];
};

constexpr ShortRunShuffles makeShortRunShuffles() {
  ShortRunShuffles tables{};
  for (int key = 0; key < 256; ++key) {
    int length = 0;
    for (int pair = 0; pair < 4; ++pair)
      for (int copy = 0; copy <= (key >> (2 * pair) & 3); ++copy) tables.shuffle[key][length++] = uint8_t(2 * pair + 1);
    tables.length[key] = uint8_t(length);
  }
  return tables;
}

alignas(16) constexpr ShortRunShuffles shortRunShuffles = makeShortRunShuffles();

// Expands groups of four such pairs while the source holds them, storing 16
// bytes a group (the room is checked for all 16); returns the source bytes used.
__attribute__((target("ssse3"))) size_t expandShortRunsShuffled(const uint8_t* source, size_t sourceLength,
                                                                uint8_t* target, size_t targetLength,
                                                                size_t* filled) {
  const uint64_t codeMask = UINT64_C(0x00f800f800f800f8), codes = UINT64_C(0x00c000c000c000c0);
  const uint64_t countMask = UINT64_C(0x0007000700070007), ones = UINT64_C(0x0001000100010001);
  size_t used = 0;
  while (used + 8 <= sourceLength && *filled + 16 <= targetLength) {
    uint64_t pairs;
    std::memcpy(&pairs, source + used, sizeof pairs);
    // Counts 1..4 give count - 1 in 0..3; a count of 0 borrows and fails the test.
    const uint64_t lessOne = (pairs & countMask) - ones;
    if ((pairs & codeMask) != codes || (lessOne & ~(ones * 3)) != 0) break;
    const unsigned key = unsigned((lessOne | lessOne >> 14 | lessOne >> 28 | lessOne >> 42) & 0xff);
    const __m128i packed = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + used));
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(shortRunShuffles.shuffle[key]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + *filled), _mm_shuffle_epi8(packed, shuffle));
    *filled += shortRunShuffles.length[key];
    used += 8;
  }
  return used;
}
#endif

// The word-wise steps below; with Shuffled, groups of short runs go through
// SSSE3 shuffles first (the caller has checked that the processor has them).
template <bool Shuffled>
size_t unpackWordwise(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                      size_t* produced) {
  size_t used = 0;
  size_t filled = *produced;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Far from both ends, eight source bytes at a time, as the file holds
  // either: a stretch of literals (no code with both flag bits set), stored
  // at once; or pairs "run of one, value" (how writers keep a value with the
  // flag bits, or every value from 0x40 up as this library's writer does),
  // their values gathered four at a time. Stores may pass what is produced;
  // later output overwrites those bytes, and the room left covers them.
  const uint64_t highBits = UINT64_C(0x8080808080808080), lowBytes = UINT64_C(0x00ff00ff00ff00ff);
  const uint64_t runsOfOne = UINT64_C(0x00c100c100c100c1);
  // This library's writer stores nothing but pairs "count, value": sixteen
  // source bytes at once when they are eight pairs of runs of at most seven.
  const uint64_t shortRunMask = UINT64_C(0x00f800f800f800f8), shortRunCodes = UINT64_C(0x00c000c000c000c0);
  while (used + 8 <= sourceLength && filled + pcxMaxRun + 8 <= targetLength) {
#ifdef PIC_PCX_SSSE3
    if (Shuffled) {
      const size_t expanded = expandShortRunsShuffled(source + used, sourceLength - used, target, targetLength,
                                                      &filled);
      used += expanded;
      if (expanded > 0) continue;
    }
#endif
    uint64_t bytes;
    std::memcpy(&bytes, source + used, sizeof bytes);
    if (used + 16 <= sourceLength && (bytes & shortRunMask) == shortRunCodes) {
      uint64_t next;
      std::memcpy(&next, source + used + 8, sizeof next);
      if ((next & shortRunMask) == shortRunCodes) {
        for (uint64_t pairs : {bytes, next}) {
          for (int k = 0; k < 4; ++k, pairs >>= 16) {
            const uint64_t copies = (pairs >> 8 & 0xff) * UINT64_C(0x0101010101010101);
            std::memcpy(target + filled, &copies, sizeof copies);
            filled += pairs & 7;
          }
        }
        used += 16;
        continue;
      }
    }
    if (used + 2 * chunkBytes <= sourceLength) {
      // Chunks while they hold literals among their runs, as other writers'
      // data does; this library's pairs go back to the steps above.
      const size_t start = used;
      int codeCount = 0;
      size_t step = 0;
      do {
        step = expandChunk(source + used, target, targetLength, &filled, &codeCount);
        used += step;
      } while (step >= chunkBytes - 1 && codeCount < 24 && used + 2 * chunkBytes <= sourceLength);
      if (used > start) continue;  // the word read above is behind now
    }
    const uint64_t codes = bytes & (bytes << 1) & highBits;  // bits 7 and 6 of a byte both set
    if ((codes & 0xff) == 0) {
      const size_t literals = codes ? size_t(__builtin_ctzll(codes)) / 8 : sizeof bytes;
      std::memcpy(target + filled, &bytes, sizeof bytes);
      used += literals;
      filled += literals;
      continue;
    }
    const uint64_t otherCodes = (bytes ^ runsOfOne) & lowBytes;  // non-zero where a pair is not (0xc1, value)
    const size_t pairs = otherCodes ? size_t(__builtin_ctzll(otherCodes)) / 16 : 4;
    if (pairs > 0) {
      const uint64_t values = (bytes >> 8) & lowBytes;  // the values in bytes 0, 2, 4, 6
      const uint64_t packed = values | values >> 8;       // ... in bytes 0-1 and 4-5
      const uint32_t four = uint32_t((packed & 0xffff) | (packed >> 16 & 0xffff0000u));
      std::memcpy(target + filled, &four, sizeof four);
      used += 2 * pairs;
      filled += pairs;
      continue;
    }
    const size_t count = source[used] & pcxMaxRun;
    const uint8_t value = source[used + 1];
    const uint64_t copies = value * UINT64_C(0x0101010101010101);
    std::memcpy(target + filled, &copies, sizeof copies);
    if (count > sizeof copies) std::memset(target + filled + sizeof copies, value, count - sizeof copies);
    used += 2;
    filled += count;
  }
#endif
  while (filled < targetLength && used < sourceLength) {
    // Bytes without the run flag stand for themselves: one copy for a stretch of them.
    const size_t room = std::min(targetLength - filled, sourceLength - used);
    size_t literals = 0;
    while (literals < room && (source[used + literals] & pcxRunFlag) != pcxRunFlag) ++literals;
    if (literals > 0) {
      std::memcpy(target + filled, source + used, literals);
      filled += literals;
      used += literals;
      continue;
    }
    if (used + 1 >= sourceLength) break;
    size_t count = source[used] & pcxMaxRun;
    const uint8_t value = source[used + 1];
    used += 2;
    if (count > targetLength - filled) count = targetLength - filled;
    if (count == 1)
      target[filled] = value;  // a byte with the flag's bits, stored as a run of one
    else
      std::memset(target + filled, value, count);
    filled += count;
  }
  *produced = filled;
  return used;
}

}  // namespace

size_t picPcxUnpackRunsPlain(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                             size_t* produced) {
  size_t used = 0;
  size_t filled = *produced;
  while (filled < targetLength && used < sourceLength) {
    const uint8_t code = source[used];
    if ((code & pcxRunFlag) != pcxRunFlag) {
      target[filled++] = code;
      ++used;
      continue;
    }
    if (used + 1 >= sourceLength) break;  // the value byte is not there yet
    const size_t count = std::min(size_t(code & pcxMaxRun), targetLength - filled);
    std::memset(target + filled, source[used + 1], count);
    filled += count;
    used += 2;
  }
  *produced = filled;
  return used;
}

bool picPcxRunDecoderAvailable(picPcxRunDecoder decoder) {
#ifdef PIC_PCX_SSSE3
  if (decoder == picPcxRunDecoder::shuffled) return picHasSsse3();
#else
  if (decoder == picPcxRunDecoder::shuffled) return false;
#endif
  return true;
}

size_t picPcxUnpackRunsWith(picPcxRunDecoder decoder, const uint8_t* source, size_t sourceLength, uint8_t* target,
                            size_t targetLength, size_t* produced) {
  switch (decoder) {
    case picPcxRunDecoder::plain:
      return picPcxUnpackRunsPlain(source, sourceLength, target, targetLength, produced);
    case picPcxRunDecoder::shuffled:
      if (picPcxRunDecoderAvailable(decoder))
        return unpackWordwise<true>(source, sourceLength, target, targetLength, produced);
      break;
    case picPcxRunDecoder::wordwise: break;
  }
  return unpackWordwise<false>(source, sourceLength, target, targetLength, produced);
}

size_t picPcxUnpackRuns(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                        size_t* produced) {
  if (picPcxRunDecoderAvailable(picPcxRunDecoder::shuffled))
    return unpackWordwise<true>(source, sourceLength, target, targetLength, produced);
  return unpackWordwise<false>(source, sourceLength, target, targetLength, produced);
}

size_t picPcxPackRuns(const uint8_t* source, size_t length, uint8_t* target) {
  size_t out = 0;
  for (size_t i = 0; i < length;) {
    const uint8_t value = source[i];
    size_t run = 1;
    while (i + run < length && run < size_t(pcxMaxRun) && source[i + run] == value) ++run;
    if (run > 1 || value >= pcxEscapeFrom) target[out++] = uint8_t(pcxRunFlag | run);
    target[out++] = value;
    i += run;
  }
  return out;
}

