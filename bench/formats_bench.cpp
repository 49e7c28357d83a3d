// Load and save speed of every built-in format through memory files, on one
// 1024 x 1024 picture, against a memcpy of the same pixel bytes measured in the
// same run (the floor any codec sits on). JPEG and TIFF have their own
// benchmarks against plain libjpeg and libtiff.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int side = 1024;
const size_t pixels = size_t(side) * side;

struct Picture {
  std::vector<uint8_t> red, green, blue, indices;
  std::vector<int32_t> map;
  Picture() : red(pixels), green(pixels), blue(pixels), indices(pixels), map(256) {
    for (size_t i = 0; i < pixels; ++i) {
      red[i] = uint8_t(i / side);
      green[i] = uint8_t((i % side) / 8);
      blue[i] = uint8_t((i * 2654435761u) >> 28);  // some noise between runs
      indices[i] = uint8_t(red[i] / 4 + (blue[i] & 3));
    }
    for (int i = 0; i < 256; ++i) map[size_t(i)] = picEncodeColour(i, 255 - i, i / 2);
  }
};

struct Variant {
  const char* name;
  int format;
  int colourMode;
};

const Variant variants[] = {
    {"Bmp24", PIC_DRIVER_BMP, PIC_RGB},
    {"Bmp8", PIC_DRIVER_BMP, PIC_MAP},
    {"Bmp8Rle", PIC_DRIVER_BMP | PIC_COMP_RLE, PIC_MAP},
    {"Pcx24Rle", PIC_DRIVER_PCX | PIC_COMP_RLE, PIC_RGB},
    {"Pcx8Rle", PIC_DRIVER_PCX | PIC_COMP_RLE, PIC_MAP},
    {"Gif8", PIC_DRIVER_GIF | PIC_COMP_LZW, PIC_MAP},
    {"Sun24", PIC_DRIVER_SUN, PIC_RGB},
    {"Sgi24", PIC_DRIVER_SGI, PIC_RGB},
    {"Targa24", PIC_DRIVER_TARGA, PIC_RGB},
    {"Targa24Rle", PIC_DRIVER_TARGA | PIC_COMP_RLE, PIC_RGB},
    {"Zot8", PIC_DRIVER_ZOT, PIC_MAP},
};

std::string nameFor(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

// Saves the picture into `buffer` (cut to the bytes written on success).
int save(const Picture& p, const Variant& v, std::vector<uint8_t>& buffer) {
  const std::string name = nameFor(buffer);
  picUseMemoryFiles();
  const int status =
      v.colourMode == PIC_RGB
          ? picSaveRGB(side, side, v.format, p.red.data(), p.green.data(), p.blue.data(), name.c_str())
          : picSaveMap(side, side, v.format, p.indices.data(), 256, p.map.data(), name.c_str());
  picUseDiskFiles();
  return status;
}

std::vector<uint8_t> roomyBuffer() { return std::vector<uint8_t>(pixels * 8); }

void saveBenchmark(benchmark::State& state, Variant v) {
  const Picture source;
  std::vector<uint8_t> buffer = roomyBuffer();
  for (auto _ : state)
    if (save(source, v, buffer) != PIC_OK) state.SkipWithError("save failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels) * 3);
}

void loadBenchmark(benchmark::State& state, Variant v) {
  Picture p;
  std::vector<uint8_t> file = roomyBuffer();
  if (save(p, v, file) != PIC_OK) {
    state.SkipWithError("save failed");
    return;
  }
  file.resize(size_t(picMemoryFileLength()));
  const std::string name = nameFor(file);
  picUseMemoryFiles();
  for (auto _ : state)
    if (picLoadRGB(name.c_str(), p.red.data(), p.green.data(), p.blue.data()) != PIC_OK)
      state.SkipWithError("load failed");
  picUseDiskFiles();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels) * 3);
}

void BM_MemcpyBaseline(benchmark::State& state) {
  std::vector<uint8_t> from(pixels * 3, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}
BENCHMARK(BM_MemcpyBaseline);

const bool registered = [] {
  for (const Variant& v : variants) {
    benchmark::RegisterBenchmark((std::string("Load/") + v.name).c_str(), loadBenchmark, v);
    benchmark::RegisterBenchmark((std::string("Save/") + v.name).c_str(), saveBenchmark, v);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
