// pictool convert: read IN (bounded, described from its first bytes), load it
// as it is stored (true colour or a colour map), turn it into what the
// target's writers keep without losing colours the target can hold
// (formats.cpp says what that is per format), save it completely to a
// temporary file and only then put it in place (pending_output.h).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "picture/core/picture.h"
#include "picture/core/quantise.h"
#include "tools/pictool/formats.h"
#include "tools/pictool/input.h"
#include "tools/pictool/pending_output.h"
#include "tools/pictool/progress_bar.h"
#include "tools/pictool/resolution.h"
#include "tools/pictool/subcommands.h"

namespace pictool {

namespace {

// Planes are left uninitialised: pages are committed only as rows are loaded,
// so a small file that claims a huge picture and fails costs no memory.
using Plane = std::unique_ptr<uint8_t[]>;
Plane newPlane(size_t pixels) { return Plane(new uint8_t[pixels]); }

struct Image {
  int width = 0, height = 0, mode = PIC_RGB, colours = 0;
  Plane red, green, blue, indices;
  std::vector<int32_t> map = std::vector<int32_t>(PIC_MAX_COLOURS);
  Resolution resolution;

  size_t pixels() const { return size_t(width) * size_t(height); }
  void makePlanes() { red = newPlane(pixels()), green = newPlane(pixels()), blue = newPlane(pixels()); }
};

// Loads the bytes the input holds, at the size they were described with.
int load(const Input& input, ProgressBar* bar, Image* image) {
  const Description& description = input.description();
  image->width = description.width;
  image->height = description.height;
  image->mode = description.mode;
  image->colours = description.colours;
  const MemoryFiles memory;
  const ResolutionKept resolution(&image->resolution);
  bar->followLibrary(int64_t(image->pixels()));
  if (image->mode == PIC_MAP) {
    image->indices = newPlane(image->pixels());
    return picLoadMap(input.memoryName(), image->indices.get(), image->map.data());
  }
  image->makePlanes();
  return picLoadRGBSized(input.memoryName(), image->width, image->height, image->red.get(), image->green.get(),
                         image->blue.get());
}

// True colour to a map of at most 256 entries, exact when the image has no more colours.
int quantise(Image* image, bool dither, ProgressBar* bar) {
  image->indices = newPlane(image->pixels());
  const bool shown = int64_t(image->pixels()) >= ProgressBar::minimumPixels;
  const int status = picQuantiseWithProgress(image->width, image->height, image->red.get(), image->green.get(),
                                             image->blue.get(), PIC_MAX_COLOURS, dither, image->indices.get(),
                                             image->map.data(), &image->colours,
                                             shown ? ProgressBar::quantiseHook : nullptr, bar);
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
int prepare(const Format& target, const ConvertRequest& request, ProgressBar* bar, Image* image) {
  if (request.grey) {
    toGrey(image);
    return PIC_OK;
  }
  if (image->mode == PIC_RGB) return target.writesRgb ? PIC_OK : quantise(image, request.dither, bar);
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

std::string shownName(const std::string& name, const char* stream) { return name == "-" ? stream : name; }

int fail(const std::string& name, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "pictool: %s: %s\n", name.c_str(), message.c_str());
  return exitFailure;
}

int convert(const ConvertRequest& request, const CommonOptions& options) {
  const Format& target = *request.format;
  const std::string inputName = shownName(request.input, "standard input");
  const std::string outputName = shownName(request.output, "standard output");
  const int driver = driverOf(target);
  if (driver < 0) return fail(outputName, std::string("the ") + target.name + " driver is not available");
  ProgressBar bar(!options.quiet, request.progressName.empty() ? inputName : request.progressName);
  const auto report = [&bar](const std::string& name, const std::string& message) {
    bar.erase();
    return fail(name, message);
  };

  Input input(request.input);
  std::string message;
  int status = input.read(false, [&bar](int64_t done, int64_t total) {
    if (total >= ProgressBar::minimumBytes) bar.show("reading", int(done * 100 / total));
  }, &message);
  if (status != PIC_OK) return report(inputName, message);
  Image image;
  status = load(input, &bar, &image);
  const char* reason = picLastReason();
  bar.stopFollowingLibrary();
  const std::string stopped = input.stoppedNote();
  if (status != PIC_OK)
    return report(inputName, describeFailure(status, input.description(), reason) + (stopped.empty() ? "" : " (" + stopped + ")"));
  if (!stopped.empty()) bar.erase(), std::fprintf(stderr, "pictool: %s: %s; what came after was not used\n", inputName.c_str(), stopped.c_str());
  status = prepare(target, request, &bar, &image);
  if (status != PIC_OK) return report(inputName, status == PIC_INTERRUPTED ? "interrupted" : "not enough memory to reduce its colours");

  const WrittenCompression& compression = request.compression ? *request.compression : target.compressions[0];
  if (compression.mapsOnly && image.mode == PIC_RGB) {
    bar.erase();
    return reportUsageError(std::string(target.name) + " files are written with compression '" + compression.name +
                            "' only from colour-mapped pictures, and " + inputName + " is true colour");
  }
  if (request.quality > 0) {
    int quality = request.quality;
    picDriverControl(&quality, PIC_CONTROL_JPEG_QUALITY, driver);
  }

  PendingOutput output;
  bar.erase();
  if (output.create(request.output, &message) != PIC_OK) return report(outputName, message);
  {
    const ResolutionGiven resolution(image.resolution);
    ProgressBar writing(!options.quiet, outputName);
    writing.followLibrary(int64_t(image.pixels()));
    errno = 0;
    status = save(image, driver | compression.code, output.temporaryPath());
    const int saveErrno = errno;
    if (status != PIC_OK) {
      writing.erase();
      std::string words = picStatusText(status);
      if (status == PIC_ERR_WRITE && saveErrno != 0) words += std::string(": ") + std::strerror(saveErrno);
      return report(outputName, "cannot write it: " + words);
    }
  }
  if (output.commit(&message) != PIC_OK) return report(outputName, message);
  return exitSuccess;
}

}  // namespace

int runConvert(const ConvertRequest& request, const CommonOptions& options) {
  try {
    return convert(request, options);
  } catch (const std::bad_alloc&) {
    return fail(shownName(request.input, "standard input"), "not enough memory for the picture");
  }
}

}  // namespace pictool
