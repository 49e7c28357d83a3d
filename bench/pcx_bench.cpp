// PCX decode and encode speed against a memcpy of the same pixel bytes (the
// floor any codec sits on), measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int side = 1024;

struct Planes {
  std::vector<uint8_t> red, green, blue;
  Planes() : red(size_t(side) * side), green(red.size()), blue(red.size()) {
    for (size_t i = 0; i < red.size(); ++i) {
      red[i] = uint8_t(i / side);
      green[i] = uint8_t((i % side) / 8);
      blue[i] = uint8_t((i * 2654435761u) >> 28);  // some noise between runs
    }
  }
};

std::string nameFor(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

int save(const Planes& p, int compression, std::vector<uint8_t>& buffer) {
  const std::string name = nameFor(buffer);
  picUseMemoryFiles();
  const int status = picSaveRGB(side, side, PIC_DRIVER_PCX | compression, p.red.data(), p.green.data(),
                                p.blue.data(), name.c_str());
  picUseDiskFiles();
  return status;
}

void decode(benchmark::State& state, int compression) {
  const Planes source;
  std::vector<uint8_t> file(size_t(side) * side * 7);
  save(source, compression, file);
  file.resize(size_t(picMemoryFileLength()));
  const std::string name = nameFor(file);
  Planes p;
  picUseMemoryFiles();
  for (auto _ : state) benchmark::DoNotOptimize(picLoadRGB(name.c_str(), p.red.data(), p.green.data(), p.blue.data()));
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * side * side * 3);
}

void encode(benchmark::State& state, int compression) {
  const Planes source;
  std::vector<uint8_t> file(size_t(side) * side * 7);
  for (auto _ : state) benchmark::DoNotOptimize(save(source, compression, file));
  state.SetBytesProcessed(int64_t(state.iterations()) * side * side * 3);
}

void BM_PcxDecodeRaw(benchmark::State& state) { decode(state, PIC_COMP_NONE); }
void BM_PcxDecodeRunLength(benchmark::State& state) { decode(state, PIC_COMP_RLE); }
void BM_PcxEncodeRunLength(benchmark::State& state) { encode(state, PIC_COMP_RLE); }

void BM_MemcpyBaseline(benchmark::State& state) {
  std::vector<uint8_t> from(size_t(side) * side * 3, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}

BENCHMARK(BM_MemcpyBaseline);
BENCHMARK(BM_PcxDecodeRaw);
BENCHMARK(BM_PcxDecodeRunLength);
BENCHMARK(BM_PcxEncodeRunLength);

}  // namespace

BENCHMARK_MAIN();
