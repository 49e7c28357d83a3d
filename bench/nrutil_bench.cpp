// Cost of the guarded allocator against the bare heap it wraps.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <vector>

#include "nrutil/nrutil.h"

namespace {
void BM_HeapVector(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* plane = std::calloc(1, bytes);
    benchmark::DoNotOptimize(plane);
    std::free(plane);
  }
}

void BM_GuardedVector(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    void* plane = G_NEW_ARRAY(1, VECTOR, count, 0, 0, 0);
    benchmark::DoNotOptimize(plane);
    G_FREE_ARRAY(plane, VECTOR);
  }
}

void BM_HeapMatrix(benchmark::State& state) {
  const auto rows = static_cast<size_t>(state.range(0));
  void** matrix = static_cast<void**>(std::calloc(rows, sizeof(void*)));
  for (auto _ : state) {
    for (size_t row = 0; row < rows; ++row) matrix[row] = std::calloc(rows, sizeof(double));
    benchmark::DoNotOptimize(matrix);
    for (size_t row = 0; row < rows; ++row) std::free(matrix[row]);
  }
  std::free(matrix);
}

void BM_GuardedMatrix(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    void* matrix = G_NEW_ARRAY(sizeof(double), MATRIX, rows, rows, 0, 0);
    benchmark::DoNotOptimize(matrix);
    G_FREE_ARRAY(matrix, MATRIX);
  }
}

// A pure shift of the column bounds touches only row pointers.
void BM_GuardedMatrixShift(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  void* matrix = G_NEW_ARRAY(sizeof(double), MATRIX, rows, rows, 0, 0);
  uint32_t low = 0;
  for (auto _ : state) {
    low ^= 1;
    matrix = g_realloc(matrix, MATRIX, 0u, rows - 1, low, low + rows - 1);
  }
  G_FREE_ARRAY(matrix, MATRIX);
}

// Bytes handed out by the heap, large (mapped) blocks included.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Heap kept after a million arrays are made and then all released: the
// addresses are all different, so none is forgotten through reuse, and only
// the bound on the record of releases holds the guarded allocator's share.
template <bool guarded>
void BM_HeapKeptAfterMillionReleases(benchmark::State& state) {
  constexpr size_t arrays = 1000000;
  std::vector<void*> live(arrays);
  for (auto _ : state) {
    const size_t before = HeapInUse();
    for (void*& array : live)
      array = guarded ? G_NEW_ARRAY(1, VECTOR, 8, 0, 0, 0) : std::calloc(1, 64 + 8 + 8);
    for (void* array : live)
      if (guarded)
        G_FREE_ARRAY(array, VECTOR);
      else
        std::free(array);
    state.counters["kept_kB"] = (static_cast<double>(HeapInUse()) - before) / 1024;
  }
}
}  // namespace

BENCHMARK(BM_HeapKeptAfterMillionReleases<false>)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeapKeptAfterMillionReleases<true>)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeapVector)->Arg(64)->Arg(1 << 20);
BENCHMARK(BM_GuardedVector)->Arg(64)->Arg(1 << 20);
BENCHMARK(BM_HeapMatrix)->Arg(256);
BENCHMARK(BM_GuardedMatrix)->Arg(256);
BENCHMARK(BM_GuardedMatrixShift)->Arg(256);
BENCHMARK_MAIN();
