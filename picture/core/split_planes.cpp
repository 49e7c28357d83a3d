// Splitting interleaved pixels into three planes, the hot loop of every
// uncompressed true-colour load, and packing planes into pixels, its inverse
// for saves: plain loops, and beside them vectorised ones (SSSE3 byte
// shuffles, 16 pixels a step; for packs also AVX2 shuffles, 32 pixels a step;
// AVX-512 VBMI permutes, 64 pixels a step, in split_planes_vbmi.cpp) chosen at
// run time when the processor has them.
#include <array>
#include <cstdint>

#include "picture/core/driver_support.h"
#include "picture/core/split_paths.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define PIC_SPLIT_SSSE3 1
#include <immintrin.h>
#endif

void picSplitPixelsPlain(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first,
                         uint8_t* second, uint8_t* third) {
  for (int x = 0; x < width; ++x, pixels += pixelBytes) {
    first[x] = pixels[0];
    second[x] = pixels[1];
    third[x] = pixels[2];
  }
}

void picPackPixelsPlain(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                        uint8_t* pixels) {
  for (int x = 0; x < width; ++x, pixels += 3) {
    pixels[0] = first[x];
    pixels[1] = second[x];
    pixels[2] = third[x];
  }
}

#ifdef PIC_SPLIT_SSSE3
namespace {

using ShuffleMask = std::array<uint8_t, 16>;

// The shuffle that moves, from the 16-byte vector number `vector` of a group of
// 16 pixels, the bytes of sample `sample` to their places in the plane's 16
// bytes; 0x80 clears the places other vectors fill.
constexpr ShuffleMask shuffleFor(int pixelBytes, int sample, int vector) {
  ShuffleMask mask{};
  for (int i = 0; i < 16; ++i) {
    const int at = pixelBytes * i + sample;
    mask[size_t(i)] = uint8_t(at / 16 == vector ? at % 16 : 0x80);
  }
  return mask;
}

template <int PixelBytes>
struct SplitMasks {
  ShuffleMask masks[3][PixelBytes];  // [sample][vector]
  constexpr SplitMasks() : masks() {
    for (int s = 0; s < 3; ++s)
      for (int v = 0; v < PixelBytes; ++v) masks[s][v] = shuffleFor(PixelBytes, s, v);
  }
};

constexpr SplitMasks<3> masks3;
constexpr SplitMasks<4> masks4;

template <int PixelBytes>
__attribute__((target("ssse3"))) __m128i gatherSample(const __m128i* vectors, const SplitMasks<PixelBytes>& m,
                                                      int sample) {
  __m128i plane = _mm_shuffle_epi8(
      vectors[0], _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.masks[sample][0].data())));
  for (int v = 1; v < PixelBytes; ++v)
    plane = _mm_or_si128(plane, _mm_shuffle_epi8(vectors[v], _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                                   m.masks[sample][v].data()))));
  return plane;
}

template <int PixelBytes>
__attribute__((target("ssse3"))) void splitShuffled(const uint8_t* pixels, int width, uint8_t* first,
                                                    uint8_t* second, uint8_t* third,
                                                    const SplitMasks<PixelBytes>& m) {
  // The last pixel's fourth byte may lie past the end of the source.
  const int64_t readable = int64_t(width - 1) * PixelBytes + 3;
  int x = 0;
  for (; int64_t(x + 16) * PixelBytes <= readable; x += 16, pixels += 16 * PixelBytes) {
    __m128i vectors[PixelBytes];
    for (int v = 0; v < PixelBytes; ++v)
      vectors[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(first + x), gatherSample(vectors, m, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(second + x), gatherSample(vectors, m, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(third + x), gatherSample(vectors, m, 2));
  }
  picSplitPixelsPlain(pixels, PixelBytes, width - x, first + x, second + x, third + x);
}

// The shuffle that places, in the 16-byte vector number `vector` of 16 packed
// 3-byte pixels, the bytes of sample `sample` from that sample's plane.
constexpr ShuffleMask packShuffleFor(int sample, int vector) {
  ShuffleMask mask{};
  for (int i = 0; i < 16; ++i) {
    const int at = 16 * vector + i;
    mask[size_t(i)] = uint8_t(at % 3 == sample ? at / 3 : 0x80);
  }
  return mask;
}

struct PackMasks {
  ShuffleMask masks[3][3];  // [vector][sample]
  constexpr PackMasks() : masks() {
    for (int v = 0; v < 3; ++v)
      for (int s = 0; s < 3; ++s) masks[v][s] = packShuffleFor(s, v);
  }
};

constexpr PackMasks packMasks;

__attribute__((target("ssse3"))) void packShuffled(const uint8_t* first, const uint8_t* second,
                                                   const uint8_t* third, int width, uint8_t* pixels) {
  auto mask = [](int vector, int sample) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(packMasks.masks[vector][sample].data()));
  };
  int x = 0;
  for (; x + 16 <= width; x += 16, pixels += 48) {
    const __m128i samples[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + x)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + x)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(third + x))};
    for (int v = 0; v < 3; ++v) {
      const __m128i packed = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(samples[0], mask(v, 0)),
                                                       _mm_shuffle_epi8(samples[1], mask(v, 1))),
                                          _mm_shuffle_epi8(samples[2], mask(v, 2)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + 16 * v), packed);
    }
  }
  picPackPixelsPlain(first + x, second + x, third + x, width - x, pixels);
}

// The same shuffles on two groups of 16 pixels at once, one in each half (AVX2
// shuffles stay within 128-bit halves); the halves are then put in file order.
// Written out vector by vector, since the compiler keeps loops over arrays of
// vectors in memory.
__attribute__((target("avx2"))) inline __m256i packedVector(__m256i first, __m256i second, __m256i third,
                                                            const ShuffleMask* masks) {
  __m256i mask[3];
  for (int sample = 0; sample < 3; ++sample)
    mask[sample] =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[sample].data())));
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(first, mask[0]), _mm256_shuffle_epi8(second, mask[1])),
                         _mm256_shuffle_epi8(third, mask[2]));
}

__attribute__((target("avx2"))) void packShuffledAvx2(const uint8_t* first, const uint8_t* second,
                                                      const uint8_t* third, int width, uint8_t* pixels) {
  int x = 0;
  for (; x + 32 <= width; x += 32, pixels += 96) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + x));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second + x));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(third + x));
    // Each: the first 16 pixels' vector in the low half, the next 16 pixels' in the high.
    const __m256i v0 = packedVector(a, b, c, packMasks.masks[0]);
    const __m256i v1 = packedVector(a, b, c, packMasks.masks[1]);
    const __m256i v2 = packedVector(a, b, c, packMasks.masks[2]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), _mm256_permute2x128_si256(v0, v1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + 32), _mm256_permute2x128_si256(v2, v0, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + 64), _mm256_permute2x128_si256(v1, v2, 0x31));
  }
  packShuffled(first + x, second + x, third + x, width - x, pixels);
}

}  // namespace
#endif

namespace {

// What the processor runs, asked once: constant for the process, and a
// function-local static is initialised once, safely from any thread.
struct ProcessorFeatures {
  bool ssse3, avx2;
};

const ProcessorFeatures& processorFeatures() {
#ifdef PIC_SPLIT_SSSE3
  static const ProcessorFeatures features = {__builtin_cpu_supports("ssse3") != 0,
                                             __builtin_cpu_supports("avx2") != 0};
#else
  static const ProcessorFeatures features = {false, false};
#endif
  return features;
}

bool hasAvx2() { return processorFeatures().avx2; }

// The pack by `path` (short of VBMI), or by the next simpler one the processor has.
void packShuffledBy(picSplitPath path, const uint8_t* first, const uint8_t* second, const uint8_t* third,
                    int width, uint8_t* pixels) {
#ifdef PIC_SPLIT_SSSE3
  if (path >= picSplitPath::avx2 && hasAvx2()) return packShuffledAvx2(first, second, third, width, pixels);
  if (path >= picSplitPath::ssse3 && processorFeatures().ssse3)
    return packShuffled(first, second, third, width, pixels);
#endif
  picPackPixelsPlain(first, second, third, width, pixels);
}

}  // namespace

bool picHasSsse3() { return processorFeatures().ssse3; }

void picSplitPixelsSsse3(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                         uint8_t* third) {
#ifdef PIC_SPLIT_SSSE3
  if (picHasSsse3()) {
    if (pixelBytes == 3) return splitShuffled(pixels, width, first, second, third, masks3);
    if (pixelBytes == 4) return splitShuffled(pixels, width, first, second, third, masks4);
  }
#endif
  picSplitPixelsPlain(pixels, pixelBytes, width, first, second, third);
}

void picSplitPixels(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                    uint8_t* third) {
  if (width >= 64 && picHasVbmi()) return picSplitPixelsVbmi(pixels, pixelBytes, width, first, second, third);
  picSplitPixelsSsse3(pixels, pixelBytes, width, first, second, third);
}

void picSplitPixelsBy(picSplitPath path, const uint8_t* pixels, int pixelBytes, int width, uint8_t* first,
                      uint8_t* second, uint8_t* third) {
  if (path == picSplitPath::vbmi && picHasVbmi())
    return picSplitPixelsVbmi(pixels, pixelBytes, width, first, second, third);
  if (path != picSplitPath::plain) return picSplitPixelsSsse3(pixels, pixelBytes, width, first, second, third);
  picSplitPixelsPlain(pixels, pixelBytes, width, first, second, third);
}

void picPackPixelsShuffled(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                           uint8_t* pixels) {
  packShuffledBy(picSplitPath::avx2, first, second, third, width, pixels);
}

void picPackPixels(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                   uint8_t* pixels) {
  if (width >= 64 && picHasVbmi()) return picPackPixelsVbmi(first, second, third, width, pixels);
  picPackPixelsShuffled(first, second, third, width, pixels);
}

void picPackPixelsBy(picSplitPath path, const uint8_t* first, const uint8_t* second, const uint8_t* third,
                     int width, uint8_t* pixels) {
  if (path == picSplitPath::vbmi && picHasVbmi()) return picPackPixelsVbmi(first, second, third, width, pixels);
  packShuffledBy(path, first, second, third, width, pixels);
}
