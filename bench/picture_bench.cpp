// The picture library against the decoders and encoders a caller would pick
// instead (stb_image, libjpeg-turbo, libtiff, giflib, libpng), in one run, on
// the same files, with a memcpy and a plane split of the same pixels as
// floors; it ends with tables (bench/run.sh builds and runs it).
//
// The files: one per format and compression of the library's format list,
// the variants it cannot know, and files of other tools (bench_kinds). Each
// is written to a scratch folder and kept in memory: every load is timed from
// the disk file (page cache warm: picImageInfo + picLoadRGB by name, as
// callers load; the peers' file readers) and from the memory file (the
// library's memory files; the peers' memory readers). Saves go to memory.
// Destination buffers are made once and reused, as a caller loading many
// files would; one row shows the cost of fresh planes. Each measurement is
// checked once against the picture before it is timed. --quick measures
// 2048 x 2048 pictures only, otherwise 4096 x 4096 as well.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bench_kinds.h"
#include "bench_outside.h"
#include "bench_peers.h"
#include "bench_table.h"
#include "picture/core/driver_support.h"  // picSplitPixels, the drivers' split
#include "picture/core/picture.h"

namespace {

struct BenchFile {
  Bytes bytes;
  std::string path;  // the same bytes on disk
};

// The current side's picture, its files and buffers.
struct Workload {
  SourcePicture picture;
  std::vector<BenchFile> files;
  Bytes red, green, blue, indices, pixels;
  // Saves: the library's memory file over saveArea, made once (a save zero-fills
  // nothing); the peers append to `saved`, whose capacity stays. savedSize: the last file's.
  Bytes saveArea, saved;
  size_t savedSize = 0;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
  std::vector<std::string> checked;  // measurements already checked
};

std::string scratchFolder;
std::vector<FileKind> loadKindList;
std::vector<SaveKind> saveKindList;

// Made on the side's first measurement: the picture and every file of it.
Workload& workloadFor(int side) {
  static std::unique_ptr<Workload> current;
  if (!current || current->picture.side != side) {
    if (current)  // one side's files at a time
      for (const BenchFile& file : current->files) std::remove(file.path.c_str());
    current.reset();
    current = std::make_unique<Workload>();
    Workload& w = *current;
    w.picture = makePlasmaPicture(side, 1994);
    const size_t count = w.picture.pixelCount();
    w.red.resize(count), w.green.resize(count), w.blue.resize(count);
    w.indices.resize(count), w.pixels.resize(count * 3);
    w.saveArea.resize(count * 8);
    w.saved.reserve(count * 8);
    for (const FileKind& kind : loadKindList) {
      BenchFile file;
      file.bytes = kind.make(w.picture);
      file.path = scratchFolder + "/" + kind.key + "-" + std::to_string(side) + ".bench";
      if (file.bytes.empty() || !writeWholeFile(file.path, file.bytes)) file.bytes.clear();
      w.files.push_back(std::move(file));
    }
  }
  return *current;
}

// ---- Loads. `who` is "solsys", "solsys-map", "solsys-fresh" or a peer name.

bool libraryLoad(Workload& w, BenchFile& file, bool disk, bool map, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (disk)
    picUseDiskFiles();
  else
    picUseMemoryFiles();
  const std::string name = disk ? file.path : memoryName(file.bytes);
  int width = 0, height = 0, mode = 0, colours = 0;
  if (picImageInfo(name.c_str(), &width, &height, &mode, &colours) != PIC_OK) return false;
  if (size_t(width) * size_t(height) != w.picture.pixelCount()) return false;
  return (map ? picLoadMap(name.c_str(), w.indices.data(), w.map.data())
              : picLoadRGB(name.c_str(), red, green, blue)) == PIC_OK;
}

bool loadOnce(Workload& w, BenchFile& file, const std::string& who, bool disk) {
  uint8_t* pixels = w.pixels.data();
  if (who == "solsys" || who == "solsys-map")
    return libraryLoad(w, file, disk, who == "solsys-map", w.red.data(), w.green.data(), w.blue.data());
  if (who == "solsys-fresh") {
    // Straight from the kernel: malloc would hand back the pages it kept.
    const size_t count = w.picture.pixelCount();
    void* planes = mmap(nullptr, 3 * count, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (planes == MAP_FAILED) return false;
    uint8_t* red = static_cast<uint8_t*>(planes);
    const bool ok = libraryLoad(w, file, disk, false, red, red + count, red + 2 * count);
    munmap(planes, 3 * count);
    return ok;
  }
  const std::string noPath;
  const PeerInput input{file.bytes, disk ? file.path : noPath};
  if (who == peerName(PEER_STB, false)) return stbLoad(input, nullptr);
  if (who == peerName(PEER_LIBJPEG_LINE, false)) return libjpegLoad(input, 1, pixels);
  if (who == peerName(PEER_LIBJPEG_16, false)) return libjpegLoad(input, 16, pixels);
  if (who == peerName(PEER_LIBTIFF, false)) return libtiffLoad(input, pixels);
  if (who == peerName(PEER_GIFLIB, false)) return giflibLoad(input, nullptr);
  if (who == peerName(PEER_LIBPNG, false)) return libpngLoad(input, pixels);
  return false;
}

// The planes (row 0 at the bottom), or indices through the map, as
// interleaved top-down pixels.
Bytes libraryPixels(const Workload& w, bool map) {
  const int side = w.picture.side;
  Bytes pixels(w.picture.pixelCount() * 3);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const size_t plane = size_t(side - 1 - y) * side + x, at = 3 * (size_t(y) * side + x);
      if (map) {
        const int32_t colour = w.map[w.indices[plane]];
        pixels[at] = uint8_t(colour >> 16), pixels[at + 1] = uint8_t(colour >> 8), pixels[at + 2] = uint8_t(colour);
      } else {
        pixels[at] = w.red[plane], pixels[at + 1] = w.green[plane], pixels[at + 2] = w.blue[plane];
      }
    }
  return pixels;
}

// Exact kinds must decode to the picture; JPEG within a mean error of 3 levels.
bool matches(const Bytes& got, const Bytes& expected, bool exact) {
  if (got.size() != expected.size()) return false;
  if (exact) return got == expected;
  double error = 0;
  for (size_t i = 0; i < got.size(); ++i) error += std::abs(int(got[i]) - int(expected[i]));
  return error <= 3.0 * double(got.size());
}

// One decode kept and compared with the picture.
std::string checkLoad(Workload& w, const FileKind& kind, BenchFile& file, const std::string& who, bool disk) {
  if (!loadOnce(w, file, who, disk)) return "the decoder reported a failure";
  if (who == "solsys-fresh") return "";
  Bytes got;
  const std::string noPath;
  if (who == "solsys" || who == "solsys-map")
    got = libraryPixels(w, who == "solsys-map");
  else if (who == peerName(PEER_STB, false))
    stbLoad({file.bytes, noPath}, &got);
  else if (who == peerName(PEER_GIFLIB, false))
    giflibLoad({file.bytes, noPath}, &got);
  else
    got = w.pixels;
  return matches(got, expectedPixels(w.picture, kind.mapped), kind.exact) ? "" : "pixels differ from the picture";
}

void loadBenchmark(benchmark::State& state, int side, int kindIndex, std::string who, bool disk) {
  const FileKind& kind = loadKindList[size_t(kindIndex)];
  const std::string name = benchName("load", side, kind.key, who + (disk ? "/disk" : "/memory"));
  Workload& w = workloadFor(side);
  BenchFile& file = w.files[size_t(kindIndex)];
  std::string failure = file.bytes.empty() ? "the file could not be made" : "";
  if (failure.empty() && std::find(w.checked.begin(), w.checked.end(), name) == w.checked.end()) {
    failure = checkLoad(w, kind, file, who, disk);
    w.checked.push_back(name);
  }
  if (!failure.empty()) {
    recordFailure(name, failure);
    state.SkipWithError(failure.c_str());
    return;
  }
  for (auto _ : state)
    if (!loadOnce(w, file, who, disk)) state.SkipWithError("decoding failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.picture.pixelCount()));
}

// ---- Saves, to memory.

bool savePeer(Workload& w, const SaveKind& kind, const std::string& who);

bool saveOnce(Workload& w, const SaveKind& kind, const std::string& who) {
  const SourcePicture& p = w.picture;
  if (who == "solsys") {
    picUseMemoryFiles();
    const std::string name = memoryName(w.saveArea);
    const bool ok = (kind.mapped ? picSaveMap(p.side, p.side, kind.format, p.indices.data(), 256, p.map.data(),
                                              name.c_str())
                                 : picSaveRGB(p.side, p.side, kind.format, p.red.data(), p.green.data(),
                                              p.blue.data(), name.c_str())) == PIC_OK;
    w.savedSize = size_t(picMemoryFileLength());
    return ok;
  }
  const bool ok = savePeer(w, kind, who);
  w.savedSize = w.saved.size();
  return ok;
}

bool savePeer(Workload& w, const SaveKind& kind, const std::string& who) {
  const SourcePicture& p = w.picture;
  const int compression = kind.format & ~0xff;
  if (who == peerName(PEER_STB, true)) {
    if (kind.key.rfind("bmp", 0) == 0) return stbSaveBmp(p.pixels.data(), p.side, p.side, &w.saved);
    if (kind.key.rfind("jpeg", 0) == 0) return stbSaveJpeg(p.pixels.data(), p.side, p.side, 100, &w.saved);
    return stbSaveTga(p.pixels.data(), p.side, p.side, compression == PIC_COMP_RLE, &w.saved);
  }
  if (who == peerName(PEER_LIBJPEG_LINE, true)) return libjpegSave(p.pixels.data(), p.side, p.side, 100, &w.saved);
  if (who == peerName(PEER_LIBTIFF, true)) return libtiffSave(p.pixels.data(), p.side, p.side, compression, &w.saved);
  if (who == peerName(PEER_GIFLIB, true))
    return giflibSave(p.topDownIndices.data(), p.side, p.side, p.map.data(), &w.saved);
  if (who == peerName(PEER_LIBPNG, true))
    return libpngSave(p.pixels.data(), p.side, p.side, kind.compressionLevel, &w.saved);
  return false;
}

void saveBenchmark(benchmark::State& state, int side, int kindIndex, std::string who) {
  Workload& w = workloadFor(side);
  const SaveKind& kind = saveKindList[size_t(kindIndex)];
  const std::string name = benchName("save", side, kind.key, who);
  if (!saveOnce(w, kind, who)) {
    recordFailure(name, "the encoder reported a failure");
    state.SkipWithError("encoding failed");
    return;
  }
  recordFileSize(name, w.savedSize);
  for (auto _ : state)
    if (!saveOnce(w, kind, who)) state.SkipWithError("encoding failed");
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

void registerLoad(int side, int k, const std::string& who, bool disk) {
  const FileKind& kind = loadKindList[size_t(k)];
  benchmark::RegisterBenchmark(benchName("load", side, kind.key, who + (disk ? "/disk" : "/memory")).c_str(),
                               loadBenchmark, side, k, who, disk)
      ->Unit(benchmark::kMillisecond);
}

void registerSide(int side) {
  benchmark::RegisterBenchmark(benchName("floor", side, "memcpy", "").c_str(), memcpyFloor, side);
  benchmark::RegisterBenchmark(benchName("floor", side, "split", "").c_str(), splitFloor, side);
  for (int k = 0; k < int(loadKindList.size()); ++k) {
    const FileKind& kind = loadKindList[size_t(k)];
    std::vector<std::string> who = {"solsys"};
    if (kind.mapped) who.push_back("solsys-map");
    for (unsigned bit = 1; bit <= PEER_LAST; bit <<= 1)
      if (kind.peers & bit) who.push_back(peerName(bit, false));
    for (const std::string& w : who)
      for (bool disk : {true, false}) registerLoad(side, k, w, disk);
    if (k == 0) registerLoad(side, k, "solsys-fresh", false);
  }
  for (int k = 0; k < int(saveKindList.size()); ++k) {
    const SaveKind& kind = saveKindList[size_t(k)];
    std::vector<std::string> who = {"solsys"};
    for (unsigned bit = 1; bit <= PEER_LAST; bit <<= 1)
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

  picRegisterExtraDrivers();
  scratchFolder = makeScratchFolder();
  if (scratchFolder.empty()) return std::fprintf(stderr, "no scratch folder for the files\n"), 1;
  loadKindList = loadKinds(scratchFolder);
  saveKindList = saveKinds();
  for (int side : sides) registerSide(side);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (!std::getenv("SOLSYS_BENCH_KEEP")) removeScratchFolder(scratchFolder);
  printTables(reporter, sides, loadKindList, saveKindList);
  return 0;
}
