// JPEG decode and encode through the picture library (memory buffers, planes)
// against the same work done with libjpeg's own calls (memory source and
// destination, interleaved rows). The ratio is the driver's overhead. The disk
// pairs add what a texture load pays on top: the drivers tried before JPEG
// each open the file, and stdio underneath.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "picture/core/picture.h"

namespace {

const int benchWidth = 1024;
const int benchHeight = 768;

struct Planes {
  std::vector<uint8_t> red, green, blue;
  Planes() : red(size_t(benchWidth) * benchHeight), green(red), blue(red) {}
};

Planes makePlanes() {
  Planes planes;
  for (int y = 0; y < benchHeight; ++y)
    for (int x = 0; x < benchWidth; ++x) {
      const size_t i = size_t(y) * benchWidth + x;
      planes.red[i] = uint8_t(x);
      planes.green[i] = uint8_t(y * 3);
      planes.blue[i] = uint8_t((x ^ y) & 0xff);
    }
  return planes;
}

std::string memoryName(std::vector<uint8_t>& buffer) {
  char name[64];
  picMemoryFileName(name, sizeof name, buffer.data(), int(buffer.size()));
  return name;
}

std::vector<uint8_t> libraryEncode(const Planes& planes) {
  std::vector<uint8_t> buffer(size_t(benchWidth) * benchHeight * 4);
  const std::string name = memoryName(buffer);
  picUseMemoryFiles();
  picSaveRGB(benchWidth, benchHeight, PIC_DRIVER_JPEG | PIC_COMP_RLE, planes.red.data(), planes.green.data(),
             planes.blue.data(), name.c_str());
  picUseDiskFiles();
  buffer.resize(size_t(picMemoryFileLength()));
  return buffer;
}

void BM_LibraryDecode(benchmark::State& state) {
  std::vector<uint8_t> bytes = libraryEncode(makePlanes());
  const std::string name = memoryName(bytes);
  Planes planes;
  picUseMemoryFiles();
  for (auto _ : state) {
    picLoadRGB(name.c_str(), planes.red.data(), planes.green.data(), planes.blue.data());
    benchmark::DoNotOptimize(planes.red.data());
  }
  picUseDiskFiles();
}

// libjpeg's plain decoding, one row per call, from a source already set.
void libjpegDecodeRows(jpeg_decompress_struct* decompressor, std::vector<uint8_t>* pixels) {
  jpeg_read_header(decompressor, TRUE);
  jpeg_start_decompress(decompressor);
  while (decompressor->output_scanline < decompressor->output_height) {
    JSAMPROW row = &(*pixels)[size_t(decompressor->output_scanline) * benchWidth * 3];
    jpeg_read_scanlines(decompressor, &row, 1);
  }
  jpeg_finish_decompress(decompressor);
  jpeg_destroy_decompress(decompressor);
  benchmark::DoNotOptimize(pixels->data());
}

void BM_LibjpegDecode(benchmark::State& state) {
  const std::vector<uint8_t> bytes = libraryEncode(makePlanes());
  std::vector<uint8_t> pixels(size_t(benchWidth) * benchHeight * 3);
  for (auto _ : state) {
    jpeg_decompress_struct decompressor;
    jpeg_error_mgr errors;
    decompressor.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompressor);
    jpeg_mem_src(&decompressor, bytes.data(), static_cast<unsigned long>(bytes.size()));
    libjpegDecodeRows(&decompressor, &pixels);
  }
}

// The benchmark picture as a disk file, made once.
const std::string& diskFile() {
  static const std::string path = [] {
    const std::string name = std::string(P_tmpdir) + "/solsys-jpeg-bench.jpg";
    const std::vector<uint8_t> bytes = libraryEncode(makePlanes());
    FILE* file = std::fopen(name.c_str(), "wb");
    if (file) {
      std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
    return name;
  }();
  return path;
}

// A decompressor reading the disk file through libjpeg's stdio source.
FILE* openStdioSource(jpeg_decompress_struct* decompressor, jpeg_error_mgr* errors) {
  FILE* file = std::fopen(diskFile().c_str(), "rb");
  decompressor->err = jpeg_std_error(errors);
  jpeg_create_decompress(decompressor);
  jpeg_stdio_src(decompressor, file);
  return file;
}

void BM_LibraryDecodeDisk(benchmark::State& state) {
  Planes planes;
  for (auto _ : state) {
    picLoadRGB(diskFile().c_str(), planes.red.data(), planes.green.data(), planes.blue.data());
    benchmark::DoNotOptimize(planes.red.data());
  }
}

void BM_LibjpegDecodeDisk(benchmark::State& state) {
  std::vector<uint8_t> pixels(size_t(benchWidth) * benchHeight * 3);
  for (auto _ : state) {
    jpeg_decompress_struct decompressor;
    jpeg_error_mgr errors;
    FILE* file = openStdioSource(&decompressor, &errors);
    libjpegDecodeRows(&decompressor, &pixels);
    std::fclose(file);
  }
}

// Identification alone: the whole driver chain against libjpeg's header read.
void BM_LibraryInfoDisk(benchmark::State& state) {
  int width = 0, height = 0, mode = 0, colours = 0;
  for (auto _ : state) benchmark::DoNotOptimize(picImageInfo(diskFile().c_str(), &width, &height, &mode, &colours));
}

void BM_LibjpegHeaderDisk(benchmark::State& state) {
  for (auto _ : state) {
    jpeg_decompress_struct decompressor;
    jpeg_error_mgr errors;
    FILE* file = openStdioSource(&decompressor, &errors);
    benchmark::DoNotOptimize(jpeg_read_header(&decompressor, TRUE));
    jpeg_destroy_decompress(&decompressor);
    std::fclose(file);
  }
}

void BM_LibraryEncode(benchmark::State& state) {
  const Planes planes = makePlanes();
  for (auto _ : state) benchmark::DoNotOptimize(libraryEncode(planes).size());
}

void BM_LibjpegEncode(benchmark::State& state) {
  const Planes planes = makePlanes();
  std::vector<uint8_t> pixels;
  for (size_t i = 0; i < planes.red.size(); ++i)
    pixels.insert(pixels.end(), {planes.red[i], planes.green[i], planes.blue[i]});
  for (auto _ : state) {
    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor, &data, &size);
    compressor.image_width = benchWidth;
    compressor.image_height = benchHeight;
    compressor.input_components = 3;
    compressor.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 100, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
      JSAMPROW row = &pixels[size_t(compressor.next_scanline) * benchWidth * 3];
      jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    benchmark::DoNotOptimize(size);
    std::free(data);
  }
}

BENCHMARK(BM_LibraryDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryDecodeDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDecodeDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryInfoDisk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibjpegHeaderDisk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibraryEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegEncode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
