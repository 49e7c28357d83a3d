// TIFF load and save on disk through the picture library, against the same work
// done with libtiff's own calls (open, one scanline per row, planes split or
// joined by hand): the difference is what the driver and the file layer cost.
// Pictures: 1024 x 768 RGB, uncompressed and LZW.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int width = 1024;
const int height = 768;

struct Planes {
  std::vector<uint8_t> red, green, blue;
  Planes() : red(size_t(width) * height), green(red), blue(red) {}
};

Planes makePlanes() {
  Planes planes;
  unsigned state = 12345;
  for (size_t i = 0; i < planes.red.size(); ++i) {
    state = state * 1103515245u + 12345u;
    planes.red[i] = uint8_t(i % width);
    planes.green[i] = uint8_t(i / width);
    planes.blue[i] = uint8_t((i / 16) % 2 ? state >> 24 : 40);
  }
  return planes;
}

std::string filePath(const char* name) {
  return "/tmp/solsys-tiff-bench-" + std::to_string(getpid()) + "-" + name + ".tif";
}

int compressionOf(int64_t lzw) { return lzw ? PIC_COMP_LZW : PIC_COMP_NONE; }

void librarySave(benchmark::State& state) {
  const Planes planes = makePlanes();
  const std::string path = filePath("library");
  for (auto _ : state)
    picSaveRGB(width, height, PIC_DRIVER_TIFF | compressionOf(state.range(0)), planes.red.data(),
               planes.green.data(), planes.blue.data(), path.c_str());
  unlink(path.c_str());
}

void libtiffSave(benchmark::State& state) {
  const Planes planes = makePlanes();
  const std::string path = filePath("libtiff");
  std::vector<uint8_t> line(size_t(width) * 3);
  for (auto _ : state) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, state.range(0) ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, uint32_t(-1)));
    for (int row = 0; row < height; ++row) {
      const size_t base = size_t(height - 1 - row) * width;
      for (int x = 0; x < width; ++x) {
        line[3 * x] = planes.red[base + x];
        line[3 * x + 1] = planes.green[base + x];
        line[3 * x + 2] = planes.blue[base + x];
      }
      TIFFWriteScanline(tiff, line.data(), uint32_t(row), 0);
    }
    TIFFClose(tiff);
  }
  unlink(path.c_str());
}

// A file to load, written once per benchmark.
std::string savedFile(int64_t lzw) {
  const Planes planes = makePlanes();
  const std::string path = filePath(lzw ? "load-lzw" : "load-none");
  picSaveRGB(width, height, PIC_DRIVER_TIFF | compressionOf(lzw), planes.red.data(), planes.green.data(),
             planes.blue.data(), path.c_str());
  return path;
}

void libraryLoad(benchmark::State& state) {
  const std::string path = savedFile(state.range(0));
  Planes planes;
  for (auto _ : state) {
    picLoadRGB(path.c_str(), planes.red.data(), planes.green.data(), planes.blue.data());
    benchmark::DoNotOptimize(planes.red.data());
  }
  unlink(path.c_str());
}

void libtiffLoad(benchmark::State& state) {
  const std::string path = savedFile(state.range(0));
  Planes planes;
  std::vector<uint8_t> line(size_t(width) * 3);
  for (auto _ : state) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    for (int row = 0; row < height; ++row) {
      TIFFReadScanline(tiff, line.data(), uint32_t(row), 0);
      const size_t base = size_t(height - 1 - row) * width;
      for (int x = 0; x < width; ++x) {
        planes.red[base + x] = line[3 * x];
        planes.green[base + x] = line[3 * x + 1];
        planes.blue[base + x] = line[3 * x + 2];
      }
    }
    TIFFClose(tiff);
    benchmark::DoNotOptimize(planes.red.data());
  }
  unlink(path.c_str());
}

}  // namespace

// Argument: 0 uncompressed, 1 LZW.
BENCHMARK(librarySave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(libtiffSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(libraryLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(libtiffLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
