// PNG row filters: plain loops over any range of a row, and SSE2 loops for
// the middle of a row, 16 bytes a step (the first pixel, with nothing to its
// left, and the tail shorter than a step go through the plain loops). Every
// filter reads only the row and the one above, so each step is independent.
#include "picture/formats/png_filter.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define PIC_PNG_FILTER_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// The magnitude of a filtered byte taken as signed: v for 0..127, 256 - v for 128..255.
inline unsigned magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

// x filtered with `type`, given its left (a), upper (b) and upper-left (c) neighbours.
inline uint8_t filterByte(int type, uint8_t x, uint8_t a, uint8_t b, uint8_t c) {
  switch (type) {
    case pngFilterSub: return uint8_t(x - a);
    case pngFilterUp: return uint8_t(x - b);
    case pngFilterAverage: return uint8_t(x - ((a + b) >> 1));
    case pngFilterPaeth: return uint8_t(x - pngPaethPredictor(a, b, c));
    default: return x;
  }
}

void sumRange(const uint8_t* row, const uint8_t* above, size_t from, size_t to, size_t pixelBytes,
              uint64_t sums[pngFilterTypes]) {
  for (size_t i = from; i < to; ++i) {
    const uint8_t a = i >= pixelBytes ? row[i - pixelBytes] : 0, c = i >= pixelBytes ? above[i - pixelBytes] : 0;
    for (int type = 0; type < pngFilterTypes; ++type) sums[type] += magnitude(filterByte(type, row[i], a, above[i], c));
  }
}

void applyRange(int type, const uint8_t* row, const uint8_t* above, size_t from, size_t to, size_t pixelBytes,
                uint8_t* out) {
  for (size_t i = from; i < to; ++i) {
    const uint8_t a = i >= pixelBytes ? row[i - pixelBytes] : 0, c = i >= pixelBytes ? above[i - pixelBytes] : 0;
    out[i] = filterByte(type, row[i], a, above[i], c);
  }
}

#ifdef PIC_PNG_FILTER_SSE2

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Where mask is set, whenSet; elsewhere whenClear.
inline __m128i select(__m128i mask, __m128i whenSet, __m128i whenClear) {
  return _mm_or_si128(_mm_and_si128(mask, whenSet), _mm_andnot_si128(mask, whenClear));
}

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// The Paeth predictor of eight 16-bit lanes (values 0..255).
inline __m128i paethHalf(__m128i a, __m128i b, __m128i c) {
  const __m128i bMinusC = _mm_sub_epi16(b, c), aMinusC = _mm_sub_epi16(a, c);
  const __m128i pa = abs16(bMinusC), pb = abs16(aMinusC), pc = abs16(_mm_add_epi16(bMinusC, aMinusC));
  const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
  const __m128i notB = _mm_cmpgt_epi16(pb, pc);
  return select(notA, select(notB, c, b), a);
}

// The 16 bytes at i (i >= pixelBytes) under each filter type.
struct FilteredVectors {
  __m128i none, sub, up, average, paeth;
};

inline FilteredVectors filterVectors(const uint8_t* row, const uint8_t* above, size_t i, size_t pixelBytes) {
  const __m128i x = load(row + i), a = load(row + i - pixelBytes), b = load(above + i),
                c = load(above + i - pixelBytes), zero = _mm_setzero_si128();
  // The floor of (a + b) / 2: the rounded-up average less the bit it rounded.
  const __m128i average =
      _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
  const __m128i paeth =
      _mm_packus_epi16(paethHalf(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero)),
                       paethHalf(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero)));
  return {x, _mm_sub_epi8(x, a), _mm_sub_epi8(x, b), _mm_sub_epi8(x, average), _mm_sub_epi8(x, paeth)};
}

// The magnitudes of 16 filtered bytes, summed into two 64-bit lanes.
inline __m128i magnitudeSums(__m128i v) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero);
}

uint64_t laneTotal(__m128i v) {
  uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), v);
  return lanes[0] + lanes[1];
}

// Sums the middle of the row from `from`; returns where the plain loop takes over.
size_t sumMiddle(const uint8_t* row, const uint8_t* above, size_t from, size_t length, size_t pixelBytes,
                 uint64_t sums[pngFilterTypes]) {
  __m128i totals[pngFilterTypes];
  for (__m128i& total : totals) total = _mm_setzero_si128();
  size_t i = from;
  for (; i + 16 <= length; i += 16) {
    const FilteredVectors v = filterVectors(row, above, i, pixelBytes);
    totals[pngFilterNone] = _mm_add_epi64(totals[pngFilterNone], magnitudeSums(v.none));
    totals[pngFilterSub] = _mm_add_epi64(totals[pngFilterSub], magnitudeSums(v.sub));
    totals[pngFilterUp] = _mm_add_epi64(totals[pngFilterUp], magnitudeSums(v.up));
    totals[pngFilterAverage] = _mm_add_epi64(totals[pngFilterAverage], magnitudeSums(v.average));
    totals[pngFilterPaeth] = _mm_add_epi64(totals[pngFilterPaeth], magnitudeSums(v.paeth));
  }
  for (int type = 0; type < pngFilterTypes; ++type) sums[type] += laneTotal(totals[type]);
  return i;
}

size_t applyMiddle(int type, const uint8_t* row, const uint8_t* above, size_t from, size_t length,
                   size_t pixelBytes, uint8_t* out) {
  size_t i = from;
  for (; i + 16 <= length; i += 16) {
    const FilteredVectors v = filterVectors(row, above, i, pixelBytes);
    const __m128i chosen = type == pngFilterSub       ? v.sub
                           : type == pngFilterUp      ? v.up
                           : type == pngFilterAverage ? v.average
                                                      : v.paeth;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), chosen);
  }
  return i;
}

#endif

}  // namespace

void pngFilterSumsPlain(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                        uint64_t sums[pngFilterTypes]) {
  for (int type = 0; type < pngFilterTypes; ++type) sums[type] = 0;
  sumRange(row, above, 0, length, size_t(pixelBytes), sums);
}

void pngFilterSums(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                   uint64_t sums[pngFilterTypes]) {
#ifdef PIC_PNG_FILTER_SSE2
  for (int type = 0; type < pngFilterTypes; ++type) sums[type] = 0;
  const size_t head = length < size_t(pixelBytes) ? length : size_t(pixelBytes);
  sumRange(row, above, 0, head, size_t(pixelBytes), sums);
  const size_t tail = sumMiddle(row, above, head, length, size_t(pixelBytes), sums);
  sumRange(row, above, tail, length, size_t(pixelBytes), sums);
#else
  pngFilterSumsPlain(row, above, length, pixelBytes, sums);
#endif
}

void pngApplyFilterPlain(int type, const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                         uint8_t* out) {
  applyRange(type, row, above, 0, length, size_t(pixelBytes), out);
}

void pngApplyFilter(int type, const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                    uint8_t* out) {
  if (type == pngFilterNone) {
    std::memcpy(out, row, length);
    return;
  }
#ifdef PIC_PNG_FILTER_SSE2
  const size_t head = length < size_t(pixelBytes) ? length : size_t(pixelBytes);
  applyRange(type, row, above, 0, head, size_t(pixelBytes), out);
  const size_t tail = applyMiddle(type, row, above, head, length, size_t(pixelBytes), out);
  applyRange(type, row, above, tail, length, size_t(pixelBytes), out);
#else
  pngApplyFilterPlain(type, row, above, length, pixelBytes, out);
#endif
}

unsigned pngFiltersTried(int width, int height) {
  const unsigned looksAbove = 1u << pngFilterUp | 1u << pngFilterAverage | 1u << pngFilterPaeth;
  const unsigned looksLeft = 1u << pngFilterSub | 1u << pngFilterAverage | 1u << pngFilterPaeth;
  return ((1u << pngFilterTypes) - 1) & ~(height == 1 ? looksAbove : 0) & ~(width == 1 ? looksLeft : 0);
}

int pngChooseFilter(const uint64_t sums[pngFilterTypes], unsigned tried) {
  int best = pngFilterNone;
  for (int type = 1; type < pngFilterTypes; ++type)
    if ((tried >> type & 1) && sums[type] < sums[best]) best = type;
  return best;
}

void pngFilterRowAdaptive(const uint8_t* row, const uint8_t* above, size_t length, int pixelBytes,
                          unsigned tried, uint8_t* out) {
  uint64_t sums[pngFilterTypes];
  pngFilterSums(row, above, length, pixelBytes, sums);
  const int type = pngChooseFilter(sums, tried);
  out[0] = uint8_t(type);
  pngApplyFilter(type, row, above, length, pixelBytes, out + 1);
}
