// The driver table: the nine built-in drivers, in the order files are tried,
// present from the first instruction, then any drivers an application adds.
// Also the settings drivers read: callbacks and the pixel limit, process-wide
// with per-thread overrides.
#include "picture/core/registry.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

// The drivers added behind them. Process-wide, as the table is: written under
// the lock only, each slot before the count that publishes it, so a lookup on
// any thread sees whole slots. std::mutex has a constant constructor, so
// registration works before main too.
std::mutex registration;
picDriver* addedDrivers[PIC_MAX_DRIVERS - PIC_BUILTIN_DRIVERS];
std::atomic<int> addedCount{0};
int firstExtraIndex = -1;  // under the lock: where picRegisterExtraDrivers put the first

// Process-wide settings, as the setters of the interface make them.
std::atomic<picProgressCallback> processProgress{nullptr};
std::atomic<picResolutionCallback> processResolution{nullptr};
std::atomic<int64_t> processPixelLimit{PIC_DEFAULT_PIXEL_LIMIT};

// A thread's own settings, each overriding the process-wide one when set.
struct ThreadSettings {
  bool hasProgress, hasResolution, hasPixelLimit;
  picProgressCallback progress;
  picResolutionCallback resolution;
  int64_t pixelLimit;
  int jpegQuality;  // 0: the process-wide one
};
thread_local ThreadSettings threadSettings = {};

// Registers behind the last driver, the lock held: the index, or -1 when full
// (one slot of the table stays free for the null behind the last driver).
int addDriver(picDriver* driver) {
  const int added = addedCount.load(std::memory_order_relaxed);
  if (PIC_BUILTIN_DRIVERS + added >= PIC_MAX_DRIVERS - 1) return -1;
  addedDrivers[added] = driver;
  driver->index = PIC_BUILTIN_DRIVERS + added;
  addedCount.store(added + 1, std::memory_order_release);
  return driver->index;
}

}  // namespace

int picDriverCount() { return PIC_BUILTIN_DRIVERS + addedCount.load(std::memory_order_acquire); }

picDriver* picDriverAt(int index) {
  if (index < 0) return nullptr;
  // The built-in drivers are the list's first, in table order: a constant
  // list, so no first call needs to register them or can race another.
  int formats = 0;
  if (index < PIC_BUILTIN_DRIVERS) return picFormatList(&formats)[index]->driver();
  if (index - PIC_BUILTIN_DRIVERS >= addedCount.load(std::memory_order_acquire)) return nullptr;
  return addedDrivers[index - PIC_BUILTIN_DRIVERS];
}

int picRegisterDriver(picDriver* driver) {
  if (driver == nullptr) return -1;
  const std::lock_guard<std::mutex> lock(registration);
  return addDriver(driver);
}

int picRegisterExtraDrivers(void) {
  const std::lock_guard<std::mutex> lock(registration);
  if (firstExtraIndex >= 0) return firstExtraIndex;
  int count = 0, extras = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  for (int i = 0; i < count; ++i) extras += !formats[i]->builtIn;
  // All or none.
  if (picDriverCount() + extras > PIC_MAX_DRIVERS - 1) return -1;
  for (int i = 0; i < count; ++i) {
    if (formats[i]->builtIn) continue;
    const int index = addDriver(formats[i]->driver());
    if (firstExtraIndex < 0) firstExtraIndex = index;
  }
  return firstExtraIndex;
}

picProgressCallback picGetProgressCallback() {
  return threadSettings.hasProgress ? threadSettings.progress : processProgress.load();
}
picResolutionCallback picGetResolutionCallback() {
  return threadSettings.hasResolution ? threadSettings.resolution : processResolution.load();
}

void picCallResolution(const char* fileName, double* xRes, double* yRes, int* unit) {
  if (const picResolutionCallback callback = picGetResolutionCallback()) callback(fileName, xRes, yRes, unit);
}

void picSetProgressCallback(picProgressCallback callback) { processProgress = callback; }
void picSetResolutionCallback(picResolutionCallback callback) { processResolution = callback; }

void picSetProgressCallbackThread(picProgressCallback callback) {
  threadSettings.hasProgress = true;
  threadSettings.progress = callback;
}
void picSetResolutionCallbackThread(picResolutionCallback callback) {
  threadSettings.hasResolution = true;
  threadSettings.resolution = callback;
}
void picSetPixelLimitThread(int64_t pixels) {
  if (pixels < 0) return;
  threadSettings.hasPixelLimit = true;
  threadSettings.pixelLimit = pixels;
}
void picClearThreadSettings(void) { threadSettings = {}; }
int picThreadJpegQuality() { return threadSettings.jpegQuality; }
void picSetThreadJpegQuality(int quality) { threadSettings.jpegQuality = quality; }

int picDriverControl(void* arg, int code, int index) {
  if (index == -1) {
    if (code == PIC_CONTROL_PROGRESS) {
      processProgress = reinterpret_cast<picProgressCallback>(arg);
      return 1;
    }
    if (code == PIC_CONTROL_RESOLUTION) {
      processResolution = reinterpret_cast<picResolutionCallback>(arg);
      return 1;
    }
    return 0;
  }
  picDriver* driver = picDriverAt(index & 0xff);
  if (driver == nullptr || driver->control == nullptr) return 0;
  return driver->control(arg, code);
}

picFile* picNewFile() {
  auto* file = static_cast<picFile*>(std::calloc(1, sizeof(picFile)));
  if (file) {
    file->planeOrder[0] = 0;
    file->planeOrder[1] = 1;
    file->planeOrder[2] = 2;
  }
  return file;
}

void picFreeFile(picFile* file) { std::free(file); }

int picCheckImageSize(int64_t width, int64_t height, int64_t bytesPerPixel) {
  const int64_t limit = 0x7fffffff;
  if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return picRefuse(PIC_ERR_DATA, "a side of no pixels");
  if (width > limit || height > limit || bytesPerPixel > limit || width * height > limit ||
      width * bytesPerPixel > limit)
    return picRefuse(PIC_ERR_DATA, "sides too large for the library");
  return PIC_OK;
}

void picSetPixelLimit(int64_t pixels) {
  if (pixels >= 0) processPixelLimit = pixels;
}
int64_t picGetPixelLimit(void) {
  return threadSettings.hasPixelLimit ? threadSettings.pixelLimit : processPixelLimit.load();
}

bool picWithinPixelLimit(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return true;  // picCheckImageSize's to refuse
  const int64_t limit = picGetPixelLimit();
  if (limit == 0) return true;
  return width <= limit / height;  // width * height <= limit, without overflow
}

int picCheckReadSize(int64_t width, int64_t height, int64_t bytesPerPixel) {
  const int status = picCheckImageSize(width, height, bytesPerPixel);
  if (status != PIC_OK) return status;
  return picWithinPixelLimit(width, height) ? PIC_OK : picRefuse(PIC_ERR_DATA, "over the pixel limit");
}
