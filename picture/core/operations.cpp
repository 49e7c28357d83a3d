// The operations applications call. They know no file format: everything goes
// through the driver table, and every size a driver reports is checked here
// before a buffer is touched.
#include <cstring>
#include <memory>
#include <new>

#include "picture/core/colour_tables.h"
#include "picture/core/driver_support.h"
#include "picture/core/registry.h"

namespace {

const char versionTag[] = "@(#) picture library 1.0";

// What this thread's last picImageInfo described. A caller sizes its planes
// and map from it, so a load of the same name that finds another size (the
// file was replaced meanwhile) must refuse rather than write past them.
struct Described {
  bool valid;
  uint64_t nameHash;
  int width, height, colours;
  int driverIndex;  // the driver that described it, offered the load first
};
thread_local Described lastDescribed = {};

uint64_t hashOf(const char* name) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (; name && *name; ++name) hash = (hash ^ uint8_t(*name)) * 1099511628211ull;
  return hash;
}

// The driver that described `fileName`, when it was described last, else -1.
int describingDriver(const char* fileName) {
  return lastDescribed.valid && lastDescribed.nameHash == hashOf(fileName) ? lastDescribed.driverIndex : -1;
}

// False when `fileName` was described last and its file now differs; forgets
// the description either way (a load consumes it).
bool matchesDescription(const char* fileName, const picFile* file) {
  const Described described = lastDescribed;
  lastDescribed.valid = false;
  if (!described.valid || described.nameHash != hashOf(fileName)) return true;
  return file->width == described.width && file->height == described.height &&
         file->colours == described.colours;
}

enum class Purpose { describe, load };

// An open picFile and the driver that must close it, closed on every path.
struct OpenImage {
  picDriver* driver = nullptr;
  int index = -1;  // the driver's place in the table
  picFile* file = nullptr;
  OpenImage() = default;
  OpenImage(const OpenImage&) = delete;
  OpenImage& operator=(const OpenImage&) = delete;
  ~OpenImage() { close(); }
  // The driver's answer: non-zero when a written file lost some of its bytes.
  int close() {
    const int result = file && driver->close ? driver->close(file) : 0;
    file = nullptr;
    return result;
  }
};

bool describable(const picFile* file) {
  if (file->colourMode != PIC_RGB && file->colourMode != PIC_MAP) return false;
  if (picCheckImageSize(file->width, file->height) != PIC_OK) return false;
  if (file->colourMode == PIC_MAP && (file->colours < 0 || file->colours > PIC_MAX_COLOURS))
    return false;
  return true;
}

bool loadable(const picDriver* driver, const picFile* file) {
  if (file->colourMode == PIC_MAP) return driver->readMap && driver->readLine;
  if (file->planar) {
    for (int order : file->planeOrder)
      if (order < 0 || order > 2) return false;
    return driver->readLine != nullptr;
  }
  return driver->readRGBLine != nullptr;
}

// Checks a file a driver took; PIC_OK when the operation may go on with it.
int checkTaken(const picDriver* driver, const picFile* file, Purpose purpose) {
  if (!describable(file)) return picRefuse(PIC_ERR_DATA, "impossible picture size or colour count");
  // Whatever the driver said: a caller must not size planes from it.
  if (!picWithinPixelLimit(file->width, file->height)) return picRefuse(PIC_ERR_DATA, "over the pixel limit");
  if (purpose == Purpose::load && !loadable(driver, file))
    return picRefuse(PIC_ERR_DATA, "the driver has no line reader for it");
  return PIC_OK;
}

// Offers the file to the drivers in table order. A describing search also takes
// a driver that recognises the file but cannot load it. A load offers it first
// to `likely` (the driver that described it, or -1): finding the format opens
// the file once per driver tried, a tenth of the load of a small file. Only a
// plain success is taken from it; anything else is decided by the search in
// table order, so the answer is the same.
int findDriver(const char* fileName, Purpose purpose, OpenImage* image, int likely = -1) {
  if (likely >= 0 && likely < picDriverCount() && picDriverAt(likely)->openRead) {
    int status = PIC_ERR_FORMAT;
    image->driver = picDriverAt(likely);
    image->index = likely;
    image->file = image->driver->openRead(fileName, &status);
    if (status == PIC_OK && image->file) return checkTaken(image->driver, image->file, purpose);
    image->close();
    picClearReason();
  }
  const char* firstFormatReason = nullptr;
  for (int i = 0; i < picDriverCount(); ++i) {
    picDriver* driver = picDriverAt(i);
    if (!driver->openRead) continue;
    int status = PIC_ERR_FORMAT;
    picFile* file = driver->openRead(fileName, &status);
    image->driver = driver;
    image->index = i;
    image->file = file;
    const bool accepted = status == PIC_OK || (purpose == Purpose::describe &&
                                               (status == PIC_ERR_DATA || status == PIC_ERR_COMPRESSION));
    if (accepted && file) return checkTaken(driver, file, purpose);
    image->close();
    if (status == PIC_OK) return picRefuse(PIC_ERR_DATA, "the driver gave no open file");
    if (status != PIC_ERR_FORMAT) return status;
    // Not this driver's file: its reason (a header it began to recognise) is
    // kept only if no other driver takes the file or refuses it for a reason of its own.
    if (!firstFormatReason) firstFormatReason = picLastReason();
    picClearReason();
  }
  image->driver = nullptr;
  return picRefuse(PIC_ERR_FORMAT, firstFormatReason);
}

// Calls whatever callback is installed at each call: one may be removed or
// replaced by the callback itself, or by a driver, while the operation runs.
class Progress {
 public:
  Progress(const char* fileName, int writing) : fileName_(fileName), writing_(writing) {}
  void start() const { report(0); }
  void finish() const { report(100); }
  // True when the caller asked to stop; `done` of `total` steps were done before this one.
  bool stop(int64_t done, int64_t total) const { return report(int(done * 100 / total)) != 0; }

 private:
  int report(int percent) const {
    const picProgressCallback callback = picGetProgressCallback();
    return callback ? callback(fileName_, percent, writing_) : 0;
  }
  const char* fileName_;
  int writing_;
};

// The address of the row the driver names for its next line call, or null
// when the driver names a row outside the image.
template <typename Byte>
Byte* rowAt(Byte* plane, const picFile* file) {
  if (file->currentLine < 0 || file->currentLine >= file->height) return nullptr;
  return plane + size_t(file->currentLine) * size_t(file->width);
}

// Rows stored top first are written downwards through memory, where the
// processor's own prefetch, which runs to ascending addresses, misses every
// row: splitting pixels took half as long again. So when the driver steps
// down, the row after its next one is asked for now, a line call ahead of its
// use. Forced inline: the compiler takes a function of prefetches alone for
// one without effects and drops its calls.
template <int Planes>
__attribute__((always_inline)) inline void prefetchRowAhead(uint8_t* const* planes, const picFile* file,
                                                            int lastLine) {
  const int ahead = 2 * file->currentLine - lastLine;
  if (file->currentLine >= lastLine || ahead < 0 || ahead >= file->height) return;
  const size_t offset = size_t(ahead) * size_t(file->width);
  for (int p = 0; p < Planes; ++p) {
    const uint8_t* row = planes[p] + offset;
    for (const uint8_t* end = row + file->width; row < end; row += 64) __builtin_prefetch(row, 1);
  }
}

int loadMappedAsRGB(OpenImage& image, const Progress& progress, uint8_t* planes[3]) {
  picFile* file = image.file;
  int32_t map[PIC_MAX_COLOURS] = {};
  if (image.driver->readMap(file, map) != 0) return PIC_ERR_READ;
  ColourTables tables;
  picSplitMap(file->colours, map, &tables);
  std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[size_t(file->width)]);
  if (!line) return PIC_ERR_READ;
  for (int k = 0; k < file->height; ++k) {
    const size_t offset = size_t(file->currentLine) * size_t(file->width);
    if (!rowAt(planes[0], file) || image.driver->readLine(file, line.get()) != 0) return PIC_ERR_READ;
    picMapLine(tables, line.get(), size_t(file->width), planes[0] + offset, planes[1] + offset,
               planes[2] + offset);
    if (progress.stop(k, file->height)) return PIC_INTERRUPTED;
  }
  return PIC_OK;
}

int loadPlanar(OpenImage& image, const Progress& progress, uint8_t* planes[3]) {
  picFile* file = image.file;
  for (int pass = 0; pass < 3; ++pass) {
    uint8_t* plane = planes[file->planeOrder[pass]];
    for (int k = 0; k < file->height; ++k) {
      uint8_t* row = rowAt(plane, file);
      const int line = file->currentLine;
      if (!row || image.driver->readLine(file, row) != 0) return PIC_ERR_READ;
      prefetchRowAhead<1>(&plane, file, line);
      if (progress.stop(int64_t(file->height) * pass + k, int64_t(file->height) * 3))
        return PIC_INTERRUPTED;
    }
  }
  return PIC_OK;
}

int loadInterleaved(OpenImage& image, const Progress& progress, uint8_t* planes[3]) {
  picFile* file = image.file;
  for (int k = 0; k < file->height; ++k) {
    uint8_t* red = rowAt(planes[0], file);
    if (!red) return PIC_ERR_READ;
    const size_t offset = size_t(red - planes[0]);
    const int line = file->currentLine;
    if (image.driver->readRGBLine(file, red, planes[1] + offset, planes[2] + offset) != 0)
      return PIC_ERR_READ;
    prefetchRowAhead<3>(planes, file, line);
    if (progress.stop(k, file->height)) return PIC_INTERRUPTED;
  }
  return PIC_OK;
}

// Opens the file for writing with the driver the format's low byte names.
int openForSave(const char* fileName, int width, int height, int format, int colourMode,
                int colours, OpenImage* image) {
  if (picCheckImageSize(width, height) != PIC_OK) return PIC_ERR_DATA;
  picDriver* driver = picDriverAt(format & 0xff);
  if (!driver) return PIC_ERR_FORMAT;
  if (!driver->openWrite) return PIC_ERR_DATA;
  int status = PIC_ERR_WRITE;
  image->driver = driver;
  image->file = driver->openWrite(fileName, width, height, colourMode, format & 0xff00, colours, &status);
  if (status != PIC_OK) return status;
  if (!image->file) return PIC_ERR_WRITE;
  // The caller's buffers have the caller's size, whatever the driver recorded.
  if (image->file->width != width || image->file->height != height) return PIC_ERR_WRITE;
  return PIC_OK;
}

int savePlanar(OpenImage& image, const Progress& progress, const uint8_t* planes[3]) {
  picFile* file = image.file;
  for (int order : file->planeOrder)
    if (order < 0 || order > 2) return PIC_ERR_WRITE;
  for (int pass = 0; pass < 3; ++pass) {
    const uint8_t* plane = planes[file->planeOrder[pass]];
    for (int k = 0; k < file->height; ++k) {
      const uint8_t* row = rowAt(plane, file);
      if (!row || image.driver->writeLine(file, row) != 0) return PIC_ERR_WRITE;
      if (progress.stop(int64_t(file->height) * pass + k, int64_t(file->height) * 3))
        return PIC_INTERRUPTED;
    }
  }
  return PIC_OK;
}

// The driver completes and closes the file: a save is done only when that worked.
int finishSave(OpenImage& image) { return image.close() == 0 ? PIC_OK : PIC_ERR_WRITE; }

int saveInterleaved(OpenImage& image, const Progress& progress, const uint8_t* planes[3]) {
  picFile* file = image.file;
  for (int k = 0; k < file->height; ++k) {
    const uint8_t* red = rowAt(planes[0], file);
    if (!red) return PIC_ERR_WRITE;
    const size_t offset = size_t(red - planes[0]);
    if (image.driver->writeRGBLine(file, red, planes[1] + offset, planes[2] + offset) != 0)
      return PIC_ERR_WRITE;
    if (progress.stop(k, file->height)) return PIC_INTERRUPTED;
  }
  return PIC_OK;
}

}  // namespace

const char* picVersion(void) { return versionTag + sizeof(versionTag) - 4; }

static int picFileFormatImpl(const char* fileName, int* format) {
  if (!format) return PIC_ERR_FORMAT;
  OpenImage image;
  const int status = findDriver(fileName, Purpose::describe, &image);
  if (status == PIC_OK || (status == PIC_ERR_DATA && image.file)) {
    // Naming the format needs no usable size.
    *format = (image.file->compression & 0xff00) | image.index;
    return PIC_OK;
  }
  return status;
}

static int picImageInfoImpl(const char* fileName, int* width, int* height, int* colourMode, int* colours) {
  OpenImage image;
  const int status = findDriver(fileName, Purpose::describe, &image);
  // A picture over the pixel limit is described, and refused.
  const bool overLimit = status == PIC_ERR_DATA && image.file && describable(image.file) &&
                         !picWithinPixelLimit(image.file->width, image.file->height);
  if (status != PIC_OK && !overLimit) return status;
  lastDescribed = {true, hashOf(fileName), image.file->width, image.file->height, image.file->colours,
                   image.index};
  if (width) *width = image.file->width;
  if (height) *height = image.file->height;
  if (colourMode) *colourMode = image.file->colourMode;
  if (colours) *colours = image.file->colours;
  return status;
}

static int picImageStatusImpl(const char* fileName) {
  OpenImage image;
  return findDriver(fileName, Purpose::load, &image);
}

namespace {

// Loads as planes; with expected sides (> 0), a file of another size is
// refused before any row is written.
int loadRGB(const char* fileName, int expectedWidth, int expectedHeight, uint8_t* red,
            uint8_t* green, uint8_t* blue) {
  if (!red || !green || !blue) return PIC_ERR_DATA;
  OpenImage image;
  int status = findDriver(fileName, Purpose::load, &image, describingDriver(fileName));
  if (status != PIC_OK) return status;
  if (!matchesDescription(fileName, image.file))
    return picRefuse(PIC_ERR_DATA, "the file changed since it was described");
  if (expectedWidth > 0 &&
      (image.file->width != expectedWidth || image.file->height != expectedHeight))
    return picRefuse(PIC_ERR_DATA, "not the size the planes were made for");
  const Progress progress(fileName, 0);
  progress.start();
  uint8_t* planes[3] = {red, green, blue};
  if (image.file->colourMode == PIC_MAP)
    status = loadMappedAsRGB(image, progress, planes);
  else if (image.file->planar)
    status = loadPlanar(image, progress, planes);
  else
    status = loadInterleaved(image, progress, planes);
  if (status != PIC_OK) return status;
  progress.finish();
  return PIC_OK;
}

}  // namespace

static int picLoadRGBImpl(const char* fileName, uint8_t* red, uint8_t* green, uint8_t* blue) {
  return loadRGB(fileName, 0, 0, red, green, blue);
}

static int picLoadRGBSizedImpl(const char* fileName, int width, int height, uint8_t* red, uint8_t* green,
                    uint8_t* blue) {
  if (width <= 0 || height <= 0) return PIC_ERR_DATA;
  return loadRGB(fileName, width, height, red, green, blue);
}

static int picLoadMapImpl(const char* fileName, uint8_t* indices, int32_t* map) {
  if (!indices || !map) return PIC_ERR_DATA;
  OpenImage image;
  const int status = findDriver(fileName, Purpose::load, &image, describingDriver(fileName));
  if (status != PIC_OK) return status;
  picFile* file = image.file;
  if (!matchesDescription(fileName, file))
    return picRefuse(PIC_ERR_DATA, "the file changed since it was described");
  if (file->colourMode != PIC_MAP) return picRefuse(PIC_ERR_DATA, "true colour, not a colour map");
  const Progress progress(fileName, 0);
  progress.start();
  if (image.driver->readMap(file, map) != 0) return PIC_ERR_READ;
  for (int k = 0; k < file->height; ++k) {
    uint8_t* row = rowAt(indices, file);
    if (!row || image.driver->readLine(file, row) != 0) return PIC_ERR_READ;
    if (progress.stop(k, file->height)) return PIC_INTERRUPTED;
  }
  progress.finish();
  return PIC_OK;
}

static int picSaveRGBImpl(int width, int height, int format, const uint8_t* red, const uint8_t* green,
               const uint8_t* blue, const char* fileName) {
  if (!red || !green || !blue) return PIC_ERR_DATA;
  OpenImage image;
  int status = openForSave(fileName, width, height, format, PIC_RGB, 0, &image);
  if (status != PIC_OK) return status;
  const bool planar = image.file->planar != 0;
  if (planar ? !image.driver->writeLine : !image.driver->writeRGBLine) return PIC_ERR_WRITE;
  const Progress progress(fileName, 1);
  progress.start();
  const uint8_t* planes[3] = {red, green, blue};
  status = planar ? savePlanar(image, progress, planes) : saveInterleaved(image, progress, planes);
  if (status != PIC_OK) return status;
  progress.finish();
  return finishSave(image);
}

static int picSaveMapImpl(int width, int height, int format, const uint8_t* indices, int colours,
               const int32_t* map, const char* fileName) {
  if (!indices || !map || colours < 0 || colours > PIC_MAX_COLOURS) return PIC_ERR_DATA;
  OpenImage image;
  const int status = openForSave(fileName, width, height, format, PIC_MAP, colours, &image);
  if (status != PIC_OK) return status;
  picFile* file = image.file;
  if (!image.driver->writeLine || !image.driver->writeMap) return PIC_ERR_WRITE;
  const Progress progress(fileName, 1);
  progress.start();
  if (file->mapFirst && image.driver->writeMap(file, map) != 0) return PIC_ERR_WRITE;
  for (int k = 0; k < file->height; ++k) {
    const uint8_t* row = rowAt(indices, file);
    if (!row || image.driver->writeLine(file, row) != 0) return PIC_ERR_WRITE;
    if (progress.stop(k, file->height)) return PIC_INTERRUPTED;
  }
  if (!file->mapFirst && image.driver->writeMap(file, map) != 0) return PIC_ERR_WRITE;
  progress.finish();
  return finishSave(image);
}

// Every operation starts with no reason recorded and ends with none after a success.
int picFileFormat(const char* fileName, int* format) {
  picClearReason();
  return picOperationResult(picFileFormatImpl(fileName, format));
}
int picImageInfo(const char* fileName, int* width, int* height, int* colourMode, int* colours) {
  picClearReason();
  return picOperationResult(picImageInfoImpl(fileName, width, height, colourMode, colours));
}
int picImageStatus(const char* fileName) {
  picClearReason();
  return picOperationResult(picImageStatusImpl(fileName));
}
int picLoadRGB(const char* fileName, uint8_t* red, uint8_t* green, uint8_t* blue) {
  picClearReason();
  return picOperationResult(picLoadRGBImpl(fileName, red, green, blue));
}
int picLoadRGBSized(const char* fileName, int width, int height, uint8_t* red, uint8_t* green,
                         uint8_t* blue) {
  picClearReason();
  return picOperationResult(picLoadRGBSizedImpl(fileName, width, height, red, green, blue));
}
int picLoadMap(const char* fileName, uint8_t* indices, int32_t* map) {
  picClearReason();
  return picOperationResult(picLoadMapImpl(fileName, indices, map));
}
int picSaveRGB(int width, int height, int format, const uint8_t* red, const uint8_t* green,
               const uint8_t* blue, const char* fileName) {
  picClearReason();
  return picOperationResult(picSaveRGBImpl(width, height, format, red, green, blue, fileName));
}
int picSaveMap(int width, int height, int format, const uint8_t* indices, int colours,
               const int32_t* map, const char* fileName) {
  picClearReason();
  return picOperationResult(picSaveMapImpl(width, height, format, indices, colours, map, fileName));
}
