// pictool convert: load IN as it is stored (true colour or a colour map), turn
// it into what the target's writers keep without losing colours the target can
// hold (formats.cpp says what that is per format), and save it under a
// temporary name that is renamed to OUT once complete.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "picture/core/picture.h"
#include "picture/core/quantise.h"
#include "tools/pictool/formats.h"
#include "tools/pictool/pending_output.h"
#include "tools/pictool/progress_bar.h"
#include "tools/pictool/subcommands.h"

namespace pictool {

namespace {

// Planes of width * height bytes are kept below this (3 of them for true colour).
const int64_t maxPixels = int64_t(1) << 30;

// Planes are left uninitialised: pages are committed only as rows are loaded,
// so a small file that claims a huge picture and fails costs no memory.
using Plane = std::unique_ptr<uint8_t[]>;
Plane newPlane(size_t pixels) { return Plane(new uint8_t[pixels]); }

struct Image {
  int width = 0, height = 0, mode = PIC_RGB, colours = 0;
  Plane red, green, blue, indices;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);

  size_t pixels() const { return size_t(width) * size_t(height); }
  void makePlanes() { red = newPlane(pixels()), green = newPlane(pixels()), blue = newPlane(pixels()); }
};

// The whole input in memory, so that the description the planes are sized
// from and the load read the same bytes, whatever happens to the file.
int readInput(const std::string& file, std::vector<uint8_t>* bytes) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (!stream) return PIC_ERR_OPEN;
  std::vector<uint8_t> chunk(1 << 20);
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), stream)) > 0 && bytes->size() <= size_t(INT32_MAX))
    bytes->insert(bytes->end(), chunk.begin(), chunk.begin() + long(got));
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return PIC_ERR_READ;
  return bytes->size() > size_t(INT32_MAX) ? PIC_ERR_DATA : PIC_OK;  // memory streams hold an int of bytes
}

int describeAndLoad(const char* name, bool quiet, const std::string& shownName, Image* image) {
  int status = picImageInfo(name, &image->width, &image->height, &image->mode, &image->colours);
  if (status != PIC_OK) return status;
  const int64_t pixels = int64_t(image->width) * image->height;
  if (image->width <= 0 || image->height <= 0 || pixels > maxPixels ||
      image->colours > PIC_MAX_COLOURS || image->colours < 0)
    return PIC_ERR_DATA;
  const ProgressBar bar(!quiet, pixels, shownName);
  if (image->mode == PIC_MAP) {
    image->indices = newPlane(image->pixels());
    return picLoadMap(name, image->indices.get(), image->map.data());
  }
  image->makePlanes();
  return picLoadRGB(name, image->red.get(), image->green.get(), image->blue.get());
}

int load(const std::string& file, bool quiet, Image* image) {
  std::vector<uint8_t> bytes;
  int status = readInput(file, &bytes);
  if (status != PIC_OK) return status;
  bytes.reserve(1);  // a buffer address even for an empty file
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  picUseMemoryFiles();
  status = describeAndLoad(name, quiet, file, image);
  picUseDiskFiles();
  return status;
}

// True colour to a map of at most 256 entries, exact when the image has no more colours.
int quantise(Image* image, bool dither) {
  image->indices = newPlane(image->pixels());
  const int status = picQuantise(image->width, image->height, image->red.get(), image->green.get(),
                                 image->blue.get(), PIC_MAX_COLOURS, dither, image->indices.get(),
                                 image->map.data(), &image->colours);
  image->mode = PIC_MAP;
  return status;
}

void expandMap(Image* image) {
  image->makePlanes();
  picMapToRGB(image->width, image->height, image->indices.get(), image->colours, image->map.data(),
              image->red.get(), image->green.get(), image->blue.get());
  image->mode = PIC_RGB;
}

// A grey map as a grey ramp with the grey levels as indices: what SGI stores.
void toGreyRamp(Image* image) {
  Plane grey = newPlane(image->pixels());
  std::vector<int32_t> ramp(PIC_MAX_COLOURS);
  picMapToGrey(image->width, image->height, image->indices.get(), image->colours, image->map.data(),
               grey.get(), ramp.data());
  image->indices.swap(grey);
  image->map.swap(ramp);
  image->colours = PIC_MAX_COLOURS;
}

// Any image as grey levels indexing a grey ramp.
void toGrey(Image* image) {
  if (image->mode == PIC_MAP) return toGreyRamp(image);
  image->indices = newPlane(image->pixels());
  picRGBToGrey(image->width, image->height, image->red.get(), image->green.get(), image->blue.get(),
               image->indices.get(), image->map.data());
  image->mode = PIC_MAP;
  image->colours = PIC_MAX_COLOURS;
}

// Brings the image into the form the target keeps whole.
int prepare(const Format& target, bool dither, bool grey, Image* image) {
  if (grey) {
    toGrey(image);
    return PIC_OK;
  }
  if (image->mode == PIC_RGB) return target.writesRgb ? PIC_OK : quantise(image, dither);
  if (target.mapWriter == MapWriter::keeps) return PIC_OK;
  if (picMapIsGrey(image->colours, image->map.data()))
    toGreyRamp(image);
  else
    expandMap(image);
  return PIC_OK;
}

int save(const Image& image, int format, const char* file) {
  if (image.mode == PIC_MAP)
    return picSaveMap(image.width, image.height, format, image.indices.get(), image.colours, image.map.data(),
                      file);
  return picSaveRGB(image.width, image.height, format, image.red.get(), image.green.get(), image.blue.get(),
                    file);
}

int convert(const ConvertRequest& request) {
  const Format& target = *request.format;
  const int driver = driverOf(target);
  if (driver < 0) {
    std::fprintf(stderr, "pictool: %s: the %s driver is not available\n", request.output.c_str(), target.name);
    return exitFailure;
  }
  Image image;
  int status = load(request.input, request.quiet, &image);
  if (status != PIC_OK) return reportFailure(request.input, status);
  status = prepare(target, request.dither, request.grey, &image);
  if (status != PIC_OK) return reportFailure(request.input, status);

  const int compression = request.compression >= 0 ? request.compression : target.defaultCompression;
  PendingOutput output;
  status = output.create(request.output);
  if (status == PIC_OK) {
    const ProgressBar bar(!request.quiet, int64_t(image.pixels()), request.output);
    status = save(image, driver | compression, output.temporaryPath());
  }
  if (status == PIC_OK) status = output.commit();
  return status == PIC_OK ? exitSuccess : reportFailure(request.output, status);
}

}  // namespace

int runConvert(const ConvertRequest& request) {
  try {
    return convert(request);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "pictool: %s: not enough memory for the picture\n", request.input.c_str());
    return exitFailure;
  }
}

}  // namespace pictool
