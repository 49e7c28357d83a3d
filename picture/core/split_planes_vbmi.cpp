// The split of pixels into planes with AVX-512 VBMI byte permutes: 64 pixels
// a step, each plane's 64 bytes gathered by two permutes from the three or four
// source vectors, where the SSSE3 path needs a shuffle per source vector for
// every 16 pixels; the pack back, two permutes per 64 packed bytes. Chosen at
// run time (picHasVbmi).
#include "picture/core/split_paths.h"

#include <array>

#include "picture/core/driver_support.h"

#ifdef PIC_SPLIT_VBMI
#include <immintrin.h>

namespace {

using PermuteIndex = std::array<uint8_t, 64>;

// For plane `sample` of 64 pixels: the source byte of each of its 64 bytes,
// counted from the first source vector (7 bits select from two vectors).
constexpr PermuteIndex planeIndex(int pixelBytes, int sample, int firstVector) {
  PermuteIndex index{};
  for (int i = 0; i < 64; ++i) index[size_t(i)] = uint8_t((pixelBytes * i + sample - 64 * firstVector) & 0x7f);
  return index;
}

// The plane bytes that come from vectors 2 and 3 rather than 0 and 1.
constexpr uint64_t fromLaterVectors(int pixelBytes, int sample) {
  uint64_t mask = 0;
  for (int i = 0; i < 64; ++i)
    if (pixelBytes * i + sample >= 128) mask |= uint64_t(1) << i;
  return mask;
}

template <int PixelBytes>
struct VbmiIndices {
  PermuteIndex early[3], late[3];  // [sample]: from vectors 0-1, and from 2 (-3)
  uint64_t lateMask[3];
  constexpr VbmiIndices() : early(), late(), lateMask() {
    for (int s = 0; s < 3; ++s) {
      early[s] = planeIndex(PixelBytes, s, 0);
      late[s] = planeIndex(PixelBytes, s, 2);
      lateMask[s] = fromLaterVectors(PixelBytes, s);
    }
  }
};

constexpr VbmiIndices<3> indices3;
constexpr VbmiIndices<4> indices4;

#define PIC_VBMI_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

PIC_VBMI_TARGET inline __m512i loadIndex(const PermuteIndex& index) {
  return _mm512_loadu_si512(index.data());
}

template <int PixelBytes>
PIC_VBMI_TARGET void splitPermuted(const uint8_t* pixels, int width, uint8_t* first, uint8_t* second,
                                   uint8_t* third, const VbmiIndices<PixelBytes>& m) {
  uint8_t* planes[3] = {first, second, third};
  __m512i early[3], late[3];
  for (int s = 0; s < 3; ++s) early[s] = loadIndex(m.early[s]), late[s] = loadIndex(m.late[s]);
  // The last pixel's fourth byte may lie past the end of the source.
  const int64_t readable = int64_t(width - 1) * PixelBytes + 3;
  int x = 0;
  for (; int64_t(x + 64) * PixelBytes <= readable; x += 64, pixels += 64 * PixelBytes) {
    const __m512i v0 = _mm512_loadu_si512(pixels), v1 = _mm512_loadu_si512(pixels + 64);
    const __m512i v2 = _mm512_loadu_si512(pixels + 128);
    for (int s = 0; s < 3; ++s) {
      const __m512i head = _mm512_permutex2var_epi8(v0, early[s], v1);
      __m512i plane;
      if constexpr (PixelBytes == 3) {
        plane = _mm512_mask_permutexvar_epi8(head, m.lateMask[s], late[s], v2);
      } else {
        const __m512i v3 = _mm512_loadu_si512(pixels + 192);
        plane = _mm512_mask_blend_epi8(m.lateMask[s], head, _mm512_permutex2var_epi8(v2, late[s], v3));
      }
      _mm512_storeu_si512(planes[s] + x, plane);
    }
  }
  picSplitPixelsSsse3(pixels, PixelBytes, width - x, first + x, second + x, third + x);
}

// For packed vector `vector` (bytes 64 * vector on) of 64 pixels: each byte's
// pixel, with bit 6 set for the second sample, so that one index serves the
// permute of the first two planes and, masked, the permute of the third.
struct PackIndices {
  PermuteIndex index[3];
  uint64_t thirdMask[3];  // the bytes that take the third sample
  constexpr PackIndices() : index(), thirdMask() {
    for (int v = 0; v < 3; ++v)
      for (int i = 0; i < 64; ++i) {
        const int at = 64 * v + i, sample = at % 3;
        index[v][size_t(i)] = uint8_t(at / 3 | (sample == 1 ? 64 : 0));
        if (sample == 2) thirdMask[v] |= uint64_t(1) << i;
      }
  }
};

constexpr PackIndices packIndices;

PIC_VBMI_TARGET void packPermuted(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                                  uint8_t* pixels) {
  __m512i index[3];
  for (int v = 0; v < 3; ++v) index[v] = loadIndex(packIndices.index[v]);
  int x = 0;
  for (; x + 64 <= width; x += 64, pixels += 192) {
    const __m512i a = _mm512_loadu_si512(first + x), b = _mm512_loadu_si512(second + x);
    const __m512i c = _mm512_loadu_si512(third + x);
    for (int v = 0; v < 3; ++v) {
      const __m512i two = _mm512_permutex2var_epi8(a, index[v], b);
      _mm512_storeu_si512(pixels + 64 * v, _mm512_mask_permutexvar_epi8(two, packIndices.thirdMask[v], index[v], c));
    }
  }
  picPackPixelsShuffled(first + x, second + x, third + x, width - x, pixels);
}

}  // namespace
#endif

bool picHasVbmi() {
#ifdef PIC_SPLIT_VBMI
  // Constant for the process; the check includes the system's saving of AVX-512 state.
  static const bool has = __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
  return has;
#else
  return false;
#endif
}

void picSplitPixelsVbmi(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                        uint8_t* third) {
#ifdef PIC_SPLIT_VBMI
  if (pixelBytes == 3) return splitPermuted(pixels, width, first, second, third, indices3);
  if (pixelBytes == 4) return splitPermuted(pixels, width, first, second, third, indices4);
#endif
  picSplitPixelsSsse3(pixels, pixelBytes, width, first, second, third);
}

void picPackPixelsVbmi(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                       uint8_t* pixels) {
#ifdef PIC_SPLIT_VBMI
  packPermuted(first, second, third, width, pixels);
#else
  picPackPixelsShuffled(first, second, third, width, pixels);
#endif
}
