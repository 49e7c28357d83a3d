// The picture library against the decoders and encoders a caller would pick
// instead (stb_image, libjpeg-turbo, libtiff, giflib, libpng), in one run, on
// the same files, with a memcpy and a plane split of the same pixels as
// floors; it ends with a table (bench/run.sh builds and runs it).
//
// Files live in memory (the library's memory file table; the peers' memory
// readers), so the page cache and the disk stay out of the ratios. Every
// destination buffer is made once and reused, as a caller loading many files
// would; one row shows the cost of fresh planes. Each measurement is checked
// once against the source picture before it is timed. --quick measures
// 2048 x 2048 pictures only, otherwise 4096 x 4096 as well.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bench_peers.h"
#include "bench_table.h"
#include "picture/core/driver_support.h"  // picSplitPixels, the drivers' split
#include "picture/core/picture.h"

namespace {

// The current side's picture, its files (made on first use) and buffers.
struct Workload {
  SourcePicture picture;
  std::vector<Bytes> files = std::vector<Bytes>(size_t(fileKindCount));
  Bytes red, green, blue, indices, pixels, saved;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
  std::vector<std::string> checked;  // measurements already checked
};

int extraDrivers = -1;  // the PNM driver's index, or -1

Workload& workloadFor(int side) {
  static std::unique_ptr<Workload> current;
  if (!current || current->picture.side != side) {
    current.reset();  // one side's files at a time
    current = std::make_unique<Workload>();
    current->picture = makePlasmaPicture(side, 1994);
    const size_t count = current->picture.pixelCount();
    current->red.resize(count), current->green.resize(count), current->blue.resize(count);
    current->indices.resize(count), current->pixels.resize(count * 3);
    current->saved.reserve(count * 4);
  }
  return *current;
}

Bytes* fileFor(Workload& w, int kind) {
  Bytes& file = w.files[size_t(kind)];
  if (file.empty()) file = makeFile(fileKinds[kind], w.picture, extraDrivers);
  return file.empty() ? nullptr : &file;
}

// The interleaved top-down pixels a decoder of this kind should give.
Bytes expectedPixels(const Workload& w, const FileKind& kind) {
  if (!kind.mapped) return w.picture.pixels;
  Bytes pixels(w.picture.pixelCount() * 3);
  for (size_t i = 0; i < w.picture.pixelCount(); ++i) {
    const int32_t colour = w.picture.map[w.picture.topDownIndices[i]];
    pixels[3 * i] = uint8_t(colour >> 16), pixels[3 * i + 1] = uint8_t(colour >> 8), pixels[3 * i + 2] = uint8_t(colour);
  }
  return pixels;
}

// Planes (row 0 at the bottom) as interleaved top-down pixels.
Bytes interleavedTopDown(const Workload& w) {
  const int side = w.picture.side;
  Bytes pixels(w.picture.pixelCount() * 3);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const size_t plane = size_t(side - 1 - y) * side + x, at = 3 * (size_t(y) * side + x);
      pixels[at] = w.red[plane], pixels[at + 1] = w.green[plane], pixels[at + 2] = w.blue[plane];
    }
  return pixels;
}

// Exact kinds must decode to the source; JPEG within a mean error of 3 levels.
bool matches(const Bytes& got, const Bytes& expected, bool exact) {
  if (got.size() != expected.size()) return false;
  if (exact) return got == expected;
  double error = 0;
  for (size_t i = 0; i < got.size(); ++i) error += std::abs(int(got[i]) - int(expected[i]));
  return error <= 3.0 * double(got.size());
}

bool libraryLoad(Workload& w, Bytes& file, bool map, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const std::string name = memoryName(file);
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(name.c_str(), &width, &height, &mode, &colours) != PIC_OK) return false;
  if (size_t(width) * size_t(height) != w.picture.pixelCount()) return false;
  return (map ? picLoadMap(name.c_str(), w.indices.data(), w.map.data())
              : picLoadRGB(name.c_str(), red, green, blue)) == PIC_OK;
}

// ---- Loads. `who` is "solsys", "solsys-map", "solsys-fresh" or a peer name.

bool loadOnce(Workload& w, const FileKind& kind, Bytes& file, const std::string& who) {
  uint8_t* pixels = w.pixels.data();
  if (who == "solsys" || who == "solsys-map")
    return libraryLoad(w, file, who == "solsys-map", w.red.data(), w.green.data(), w.blue.data());
  if (who == "solsys-fresh") {
    // Straight from the kernel: malloc would hand back the pages it kept.
    const size_t count = w.picture.pixelCount();
    void* planes = mmap(nullptr, 3 * count, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (planes == MAP_FAILED) return false;
    uint8_t* red = static_cast<uint8_t*>(planes);
    const bool ok = libraryLoad(w, file, false, red, red + count, red + 2 * count);
    munmap(planes, 3 * count);
    return ok;
  }
  if (who == peerName(PEER_STB, false)) return stbLoad(file, nullptr);
  if (who == peerName(PEER_LIBJPEG_LINE, false)) return libjpegLoad(file, 1, pixels);
  if (who == peerName(PEER_LIBJPEG_16, false)) return libjpegLoad(file, 16, pixels);
  if (who == peerName(PEER_LIBTIFF, false)) return libtiffLoad(file, pixels);
  if (who == peerName(PEER_GIFLIB, false)) return giflibLoad(file, nullptr);
  if (who == peerName(PEER_LIBPNG, false)) return libpngLoad(file, pixels);
  (void)kind;
  return false;
}

// One decode kept and compared with the source picture.
std::string checkLoad(Workload& w, const FileKind& kind, Bytes& file, const std::string& who) {
  if (!loadOnce(w, kind, file, who)) return "the decoder reported a failure";
  if (who == "solsys-fresh") return "";
  if (who == "solsys-map")
    return w.indices == w.picture.indices && std::equal(w.picture.map.begin(), w.picture.map.end(), w.map.begin())
               ? ""
               : "indices or map differ from the source";
  if (who == peerName(PEER_GIFLIB, false)) {
    Bytes indices;
    giflibLoad(file, &indices);
    return indices == w.picture.topDownIndices ? "" : "indices differ from the source";
  }
  Bytes got;
  if (who == "solsys")
    got = interleavedTopDown(w);
  else if (who == peerName(PEER_STB, false))
    stbLoad(file, &got);
  else
    got = w.pixels;
  return matches(got, expectedPixels(w, kind), kind.exact) ? "" : "pixels differ from the source";
}

void loadBenchmark(benchmark::State& state, int side, int kindIndex, std::string who) {
  const std::string name = benchName("load", side, fileKinds[kindIndex].key, who);
  Workload& w = workloadFor(side);
  Bytes* file = fileFor(w, kindIndex);
  std::string failure = file ? "" : "the file could not be made";
  if (file && std::find(w.checked.begin(), w.checked.end(), name) == w.checked.end()) {
    failure = checkLoad(w, fileKinds[kindIndex], *file, who);
    w.checked.push_back(name);
  }
  if (!failure.empty()) {
    recordFailure(name, failure);
    state.SkipWithError(failure.c_str());
    return;
  }
  for (auto _ : state)
    if (!loadOnce(w, fileKinds[kindIndex], *file, who)) state.SkipWithError("decoding failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.picture.pixelCount()));
}

// ---- Saves.

bool saveOnce(Workload& w, const SaveKind& kind, const std::string& who) {
  const SourcePicture& p = w.picture;
  if (who == "solsys") {
    w.saved.resize(w.saved.capacity());
    const std::string name = memoryName(w.saved);
    const int format = kind.extraDriver ? kind.format + extraDrivers : kind.format;
    return (kind.mapped ? picSaveMap(p.side, p.side, format, p.indices.data(), 256, p.map.data(), name.c_str())
                        : picSaveRGB(p.side, p.side, format, p.red.data(), p.green.data(), p.blue.data(),
                                     name.c_str())) == PIC_OK;
  }
  const std::string key = kind.key;
  if (who == peerName(PEER_STB, true)) {
    if (key == "bmp24") return stbSaveBmp(p.pixels.data(), p.side, p.side, &w.saved);
    if (key == "jpeg") return stbSaveJpeg(p.pixels.data(), p.side, p.side, 100, &w.saved);
    return stbSaveTga(p.pixels.data(), p.side, p.side, key == "tga24rle", &w.saved);
  }
  if (who == peerName(PEER_LIBJPEG_LINE, true)) return libjpegSave(p.pixels.data(), p.side, p.side, 100, &w.saved);
  if (who == peerName(PEER_LIBTIFF, true)) return libtiffSave(p.pixels.data(), p.side, p.side, key == "tifflzw", &w.saved);
  if (who == peerName(PEER_GIFLIB, true))
    return giflibSave(p.topDownIndices.data(), p.side, p.side, p.map.data(), &w.saved);
  if (who == peerName(PEER_LIBPNG, true)) return libpngSave(p.pixels.data(), p.side, p.side, &w.saved);
  return false;
}

void saveBenchmark(benchmark::State& state, int side, int kindIndex, std::string who) {
  Workload& w = workloadFor(side);
  if (!saveOnce(w, saveKinds[kindIndex], who)) {
    recordFailure(benchName("save", side, saveKinds[kindIndex].key, who), "the encoder reported a failure");
    state.SkipWithError("encoding failed");
    return;
  }
  for (auto _ : state)
    if (!saveOnce(w, saveKinds[kindIndex], who)) state.SkipWithError("encoding failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.picture.pixelCount()));
}

// ---- Floors.

void memcpyFloor(benchmark::State& state, int side) {
  Workload& w = workloadFor(side);
  for (auto _ : state) {
    std::memcpy(w.pixels.data(), w.picture.pixels.data(), w.pixels.size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.picture.pixelCount()));
}

void splitFloor(benchmark::State& state, int side) {
  Workload& w = workloadFor(side);
  for (auto _ : state) {
    for (int y = 0; y < side; ++y) {
      const size_t row = size_t(y) * side;
      picSplitPixels(&w.picture.pixels[3 * row], 3, side, &w.red[row], &w.green[row], &w.blue[row]);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.picture.pixelCount()));
}

void registerSide(int side) {
  benchmark::RegisterBenchmark(benchName("floor", side, "memcpy", "").c_str(), memcpyFloor, side);
  benchmark::RegisterBenchmark(benchName("floor", side, "split", "").c_str(), splitFloor, side);
  for (int k = 0; k < fileKindCount; ++k) {
    const FileKind& kind = fileKinds[k];
    std::vector<std::string> who;
    if (!kind.extraDriver || extraDrivers >= 0) {
      who.push_back("solsys");
      if (kind.mapped) who.push_back("solsys-map");
      if (std::string(kind.key) == "bmp24") who.push_back("solsys-fresh");
    }
    for (unsigned bit = 1; bit <= PEER_LIBPNG; bit <<= 1)
      if (kind.peers & bit) who.push_back(peerName(bit, false));
    for (const std::string& w : who)
      benchmark::RegisterBenchmark(benchName("load", side, kind.key, w).c_str(), loadBenchmark, side, k, w)
          ->Unit(benchmark::kMillisecond);
  }
  for (int k = 0; k < saveKindCount; ++k) {
    const SaveKind& kind = saveKinds[k];
    std::vector<std::string> who;
    if (!kind.extraDriver || extraDrivers >= 0) who.push_back("solsys");
    for (unsigned bit = 1; bit <= PEER_LIBPNG; bit <<= 1)
      if (kind.peers & bit) who.push_back(peerName(bit, true));
    for (const std::string& w : who)
      benchmark::RegisterBenchmark(benchName("save", side, kind.key, w).c_str(), saveBenchmark, side, k, w)
          ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sides = {2048, 4096};
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], "--quick") == 0)
      sides = {2048};
    else
      args.push_back(argv[i]);
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  extraDrivers = picRegisterExtraDrivers();
  picUseMemoryFiles();
  for (int side : sides) registerSide(side);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printTables(reporter, sides, extraDrivers >= 0);
  return 0;
}
