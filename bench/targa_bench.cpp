// Targa decode and encode speed against a memcpy of the same pixel bytes (the
// floor any decoder sits on), measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int side = 1024;

struct Planes {
  std::vector<uint8_t> red, green, blue;
  Planes() : red(size_t(side) * side), green(red.size()), blue(red.size()) {}
};

Planes makePlanes() {
  Planes p;
  for (size_t i = 0; i < p.red.size(); ++i) {
    p.red[i] = uint8_t(i / side);
    p.green[i] = uint8_t((i % side) / 8);
    p.blue[i] = uint8_t((i * 2654435761u) >> 28);  // some noise between runs
  }
  return p;
}

std::string nameFor(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

std::vector<uint8_t> encoded(int compression) {
  const Planes p = makePlanes();
  std::vector<uint8_t> buffer(size_t(side) * side * 5);
  const std::string name = nameFor(buffer);
  picUseMemoryFiles();
  picSaveRGB(side, side, PIC_DRIVER_TARGA | compression, p.red.data(), p.green.data(), p.blue.data(), name.c_str());
  picUseDiskFiles();
  buffer.resize(size_t(picMemoryFileLength()));
  return buffer;
}

void decode(benchmark::State& state, int compression) {
  std::vector<uint8_t> file = encoded(compression);
  const std::string name = nameFor(file);
  Planes p;
  picUseMemoryFiles();
  for (auto _ : state) benchmark::DoNotOptimize(picLoadRGB(name.c_str(), p.red.data(), p.green.data(), p.blue.data()));
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * side * side * 3);
}

void BM_TargaDecodeRaw(benchmark::State& state) { decode(state, PIC_COMP_NONE); }
void BM_TargaDecodeRle(benchmark::State& state) { decode(state, PIC_COMP_RLE); }

void BM_TargaEncodeRle(benchmark::State& state) {
  const Planes p = makePlanes();
  std::vector<uint8_t> buffer(size_t(side) * side * 5);
  const std::string name = nameFor(buffer);
  picUseMemoryFiles();
  for (auto _ : state)
    benchmark::DoNotOptimize(picSaveRGB(side, side, PIC_DRIVER_TARGA | PIC_COMP_RLE, p.red.data(), p.green.data(),
                                        p.blue.data(), name.c_str()));
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * side * side * 3);
}

void BM_MemcpyBaseline(benchmark::State& state) {
  std::vector<uint8_t> from(size_t(side) * side * 3, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}

BENCHMARK(BM_TargaDecodeRaw);
BENCHMARK(BM_TargaDecodeRle);
BENCHMARK(BM_TargaEncodeRle);
BENCHMARK(BM_MemcpyBaseline);

}  // namespace

BENCHMARK_MAIN();
