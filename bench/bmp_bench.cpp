// BMP decode and encode speed through memory files, against a memcpy of the
// same number of bytes as the floor any reader must pay.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int side = 1024;

struct Picture {
  std::vector<uint8_t> red, green, blue, indices;
  std::vector<int32_t> map;
  Picture() : red(side * side), green(side * side), blue(side * side), indices(side * side), map(256) {
    for (int i = 0; i < side * side; ++i) {
      red[i] = uint8_t(i);
      green[i] = uint8_t(i >> 10);
      blue[i] = uint8_t(i * 7 >> 4);
      indices[i] = uint8_t((i % side) / 9 + i / side % 3);  // runs for the run-length code
    }
    for (int c = 0; c < 256; ++c) map[c] = picEncodeColour(c, 255 - c, c / 2);
  }
};

const Picture& picture() {
  static const Picture p;
  return p;
}

std::string nameOf(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

// Saves into memory with `format`; returns the file's bytes.
std::vector<uint8_t> save(int format, bool mapped) {
  const Picture& p = picture();
  std::vector<uint8_t> buffer(size_t(side) * side * 4 + 4096);
  const std::string name = nameOf(buffer);
  picUseMemoryFiles();
  if (mapped)
    picSaveMap(side, side, format, p.indices.data(), 256, p.map.data(), name.c_str());
  else
    picSaveRGB(side, side, format, p.red.data(), p.green.data(), p.blue.data(), name.c_str());
  picUseDiskFiles();
  buffer.resize(size_t(picMemoryFileLength()));
  return buffer;
}

void load(benchmark::State& state, int format, bool mapped) {
  std::vector<uint8_t> file = save(format, mapped);
  const std::string name = nameOf(file);
  std::vector<uint8_t> red(side * side), green(side * side), blue(side * side);
  picUseMemoryFiles();
  for (auto _ : state) {
    benchmark::DoNotOptimize(picLoadRGB(name.c_str(), red.data(), green.data(), blue.data()));
  }
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void BM_LoadRgb24(benchmark::State& state) { load(state, PIC_DRIVER_BMP, false); }
void BM_LoadMap8(benchmark::State& state) { load(state, PIC_DRIVER_BMP, true); }
void BM_LoadMapRle8(benchmark::State& state) { load(state, PIC_DRIVER_BMP | PIC_COMP_RLE, true); }

void BM_SaveRgb24(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(save(PIC_DRIVER_BMP, false));
}
void BM_SaveMapRle8(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(save(PIC_DRIVER_BMP | PIC_COMP_RLE, true));
}

// The floor: copying a 24-bit file's worth of bytes.
void BM_MemcpyRgb24(benchmark::State& state) {
  const size_t bytes = size_t(side) * side * 3;
  std::vector<uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

BENCHMARK(BM_MemcpyRgb24);
BENCHMARK(BM_LoadRgb24);
BENCHMARK(BM_LoadMap8);
BENCHMARK(BM_LoadMapRle8);
BENCHMARK(BM_SaveRgb24);
BENCHMARK(BM_SaveMapRle8);

}  // namespace

BENCHMARK_MAIN();
