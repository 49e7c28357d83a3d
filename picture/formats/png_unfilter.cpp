// PNG's row filters undone. Sub, Average and Paeth chain each pixel to the
// one before it, so the vectorised loops go a pixel at a time, its bytes
// side by side in one register: 4-byte loads and stores for pixels of 3 and 4
// bytes, 8-byte ones for 6 and 8 (3-byte loads and stores would stall on
// store forwarding). Up has no chain: 16 bytes a step. The last pixels, whose
// wide load would pass the row's end, and rows of 1- and 2-byte pixels go
// through the plain loop.
#include "picture/formats/png_unfilter.h"

#include <cstring>

#include "picture/core/driver_support.h"
#include "picture/formats/png_filter.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define PNG_UNFILTER_SSSE3 1
#include <tmmintrin.h>
#endif

namespace {

// The plain loops from byte `from` on; the bytes before it are done.
void unfilterFrom(int filter, uint8_t* row, const uint8_t* prior, size_t from, size_t rowBytes, size_t pixelBytes) {
  size_t i = from;
  switch (filter) {
    case pngFilterSub:
      for (i = i < pixelBytes ? pixelBytes : i; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - pixelBytes]);
      break;
    case pngFilterUp:
      for (; i < rowBytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
      break;
    case pngFilterAverage:
      for (; i < pixelBytes && i < rowBytes; ++i) row[i] = uint8_t(row[i] + (prior[i] >> 1));
      for (; i < rowBytes; ++i) row[i] = uint8_t(row[i] + ((row[i - pixelBytes] + prior[i]) >> 1));
      break;
    case pngFilterPaeth:
      for (; i < pixelBytes && i < rowBytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
      for (; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + pngPaethPredictor(row[i - pixelBytes], prior[i], prior[i - pixelBytes]));
      break;
    default: break;
  }
}

#ifdef PNG_UNFILTER_SSSE3

template <int Load>
__attribute__((target("ssse3"))) __m128i loadPixel(const uint8_t* bytes) {
  if (Load == 4) {
    int32_t word;
    std::memcpy(&word, bytes, 4);
    return _mm_cvtsi32_si128(word);
  }
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
}

template <int Load>
__attribute__((target("ssse3"))) void storePixel(uint8_t* bytes, __m128i pixel) {
  if (Load == 4) {
    const int32_t word = _mm_cvtsi128_si32(pixel);
    std::memcpy(bytes, &word, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), pixel);
  }
}

// The pixel's bytes of a load; the rest are added nothing.
template <int PixelBytes>
__attribute__((target("ssse3"))) __m128i pixelMask() {
  return _mm_set_epi64x(0, PixelBytes == 8 ? -1 : int64_t((uint64_t(1) << (8 * PixelBytes)) - 1));
}

// The chained filters a pixel at a time. The bytes of a load past its pixel
// are cleared, so that each step leaves zeros there; its store puts those
// zeros on the next pixel's first bytes, which were loaded before the store
// (a load that waits on a store it only partly overlaps stalls) and are put
// back after the last step. Each step keeps its own left neighbour. Returns
// the first byte left undone.
template <int PixelBytes, typename Step, int Load = PixelBytes <= 4 ? 4 : 8>
__attribute__((target("ssse3"))) size_t chainPixels(uint8_t* row, const uint8_t* prior, size_t rowBytes, Step step) {
  if (rowBytes < PixelBytes + Load) return 0;
  const __m128i mask = pixelMask<PixelBytes>();
  __m128i nextPixel = loadPixel<Load>(row);
  size_t i = 0;
  for (; i + PixelBytes + Load <= rowBytes; i += PixelBytes) {
    const __m128i pixel = _mm_and_si128(nextPixel, mask);
    const __m128i above = _mm_and_si128(loadPixel<Load>(prior + i), mask);
    nextPixel = loadPixel<Load>(row + i + PixelBytes);
    storePixel<Load>(row + i, step(pixel, above));
  }
  storePixel<Load>(row + i, nextPixel);
  return i;
}

struct SubStep {
  __m128i left = _mm_setzero_si128();
  __attribute__((target("ssse3"))) __m128i operator()(__m128i pixel, __m128i) {
    left = _mm_add_epi8(pixel, left);
    return left;
  }
};

// The mean rounded down is ~avg(~left, ~above) (avg rounds up); carried as
// ~left, each step is one average and one subtraction.
struct AverageStep {
  const __m128i ones = _mm_set1_epi8(-1);
  __m128i notLeft = ones;
  __attribute__((target("ssse3"))) __m128i operator()(__m128i pixel, __m128i above) {
    notLeft = _mm_sub_epi8(_mm_avg_epu8(notLeft, _mm_xor_si128(above, ones)), pixel);
    return _mm_xor_si128(notLeft, ones);
  }
};

// Samples in 16-bit lanes, the left and upper-left pixels carried so: the
// distances need nine bits.
struct PaethStep {
  const __m128i zero = _mm_setzero_si128(), lowBytes = _mm_set1_epi16(0xff);
  __m128i left = zero, upperLeft = zero;
  __attribute__((target("ssse3"))) __m128i operator()(__m128i pixelBytes, __m128i aboveBytes) {
    const __m128i above = _mm_unpacklo_epi8(aboveBytes, zero);
    const __m128i aboveMinusUpperLeft = _mm_sub_epi16(above, upperLeft);
    const __m128i leftMinusUpperLeft = _mm_sub_epi16(left, upperLeft);
    const __m128i toLeft = _mm_abs_epi16(aboveMinusUpperLeft);
    const __m128i toAbove = _mm_abs_epi16(leftMinusUpperLeft);
    const __m128i toUpperLeft = _mm_abs_epi16(_mm_add_epi16(aboveMinusUpperLeft, leftMinusUpperLeft));
    const __m128i notLeft = _mm_or_si128(_mm_cmpgt_epi16(toLeft, toAbove), _mm_cmpgt_epi16(toLeft, toUpperLeft));
    const __m128i useUpperLeft = _mm_cmpgt_epi16(toAbove, toUpperLeft);
    const __m128i aboveOrUpperLeft =
        _mm_or_si128(_mm_and_si128(useUpperLeft, upperLeft), _mm_andnot_si128(useUpperLeft, above));
    const __m128i predictor = _mm_or_si128(_mm_and_si128(notLeft, aboveOrUpperLeft), _mm_andnot_si128(notLeft, left));
    left = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(pixelBytes, zero), predictor), lowBytes);
    upperLeft = above;
    return _mm_packus_epi16(left, left);
  }
};

__attribute__((target("ssse3"))) size_t upBytes(uint8_t* row, const uint8_t* prior, size_t rowBytes) {
  size_t i = 0;
  for (; i + 16 <= rowBytes; i += 16) {
    const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), sum);
  }
  return i;
}

template <int PixelBytes>
size_t chainedPixels(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes) {
  switch (filter) {
    case pngFilterSub: return chainPixels<PixelBytes>(row, prior, rowBytes, SubStep());
    case pngFilterAverage: return chainPixels<PixelBytes>(row, prior, rowBytes, AverageStep());
    case pngFilterPaeth: return chainPixels<PixelBytes>(row, prior, rowBytes, PaethStep());
    default: return 0;
  }
}

// The bytes the vectorised loops did.
size_t unfilterVectorised(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int pixelBytes) {
  if (filter == pngFilterUp) return upBytes(row, prior, rowBytes);
  switch (pixelBytes) {
    case 3: return chainedPixels<3>(filter, row, prior, rowBytes);
    case 4: return chainedPixels<4>(filter, row, prior, rowBytes);
    case 6: return chainedPixels<6>(filter, row, prior, rowBytes);
    case 8: return chainedPixels<8>(filter, row, prior, rowBytes);
    default: return 0;
  }
}

#endif

}  // namespace

bool pngUnfilterRowPlain(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int pixelBytes) {
  if (filter < 0 || filter >= pngFilterTypes) return false;
  unfilterFrom(filter, row, prior, 0, rowBytes, size_t(pixelBytes));
  return true;
}

bool pngUnfilterRow(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int pixelBytes) {
  if (filter < 0 || filter >= pngFilterTypes) return false;
  size_t done = 0;
#ifdef PNG_UNFILTER_SSSE3
  if (filter != pngFilterNone && picHasSsse3()) done = unfilterVectorised(filter, row, prior, rowBytes, pixelBytes);
#endif
  unfilterFrom(filter, row, prior, done, rowBytes, size_t(pixelBytes));
  return true;
}
