// GIF save and load through memory buffers, against copying the same pixels
// (the floor any codec sits on). Pictures: a smooth one that LZW compresses
// well and a noisy one that fills the string table again and again.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int side = 512;

struct Picture {
  std::vector<uint8_t> indices;
  std::vector<int32_t> map;
};

Picture makePicture(bool noisy) {
  Picture picture;
  picture.indices.resize(size_t(side) * side);
  unsigned state = 12345;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      state = state * 1103515245u + 12345u;
      picture.indices[size_t(y) * side + x] = uint8_t(noisy ? state >> 16 : (x / 8 + y / 16) % 64);
    }
  for (int i = 0; i < PIC_MAX_COLOURS; ++i)
    picture.map.push_back(picEncodeColour(i, 255 - i, i / 2));
  return picture;
}

std::string memoryName(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

std::vector<uint8_t> save(const Picture& picture, int format) {
  std::vector<uint8_t> buffer(size_t(side) * side * 2 + 4096);
  const std::string name = memoryName(buffer);
  picUseMemoryFiles();
  picSaveMap(side, side, format, picture.indices.data(), PIC_MAX_COLOURS, picture.map.data(),
             name.c_str());
  picUseDiskFiles();
  buffer.resize(size_t(picMemoryFileLength()));
  return buffer;
}

void copyBaseline(benchmark::State& state) {
  const Picture picture = makePicture(state.range(0) != 0);
  std::vector<uint8_t> copy(picture.indices.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), picture.indices.data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(copy.size()));
}

void saveGif(benchmark::State& state) {
  const Picture picture = makePicture(state.range(0) != 0);
  const int format = PIC_DRIVER_GIF | int(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(save(picture, format).size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(picture.indices.size()));
}

void loadGif(benchmark::State& state) {
  const Picture picture = makePicture(state.range(0) != 0);
  std::vector<uint8_t> file = save(picture, PIC_DRIVER_GIF | int(state.range(1)));
  const std::string name = memoryName(file);
  std::vector<uint8_t> indices(picture.indices.size());
  std::vector<int32_t> map(PIC_MAX_COLOURS);
  picUseMemoryFiles();
  for (auto _ : state)
    benchmark::DoNotOptimize(picLoadMap(name.c_str(), indices.data(), map.data()));
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(indices.size()));
}

}  // namespace

// Arguments: noisy (0/1), compression (0 plain codes, 0x200 LZW).
BENCHMARK(copyBaseline)->Args({0})->Args({1});
BENCHMARK(saveGif)->Args({0, 0})->Args({0, 0x200})->Args({1, 0})->Args({1, 0x200});
BENCHMARK(loadGif)->Args({0, 0})->Args({0, 0x200})->Args({1, 0})->Args({1, 0x200});

BENCHMARK_MAIN();
