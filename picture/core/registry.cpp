// The driver table: the nine built-in drivers, registered on first use in the
// order files are tried, then any drivers an application adds.
#include "picture/core/registry.h"

#include <cstdlib>

#include "picture/core/driver_support.h"

namespace {

struct DriverTable {
  picDriver* slots[PIC_MAX_DRIVERS];
  int count;
  picProgressCallback progress;
  picResolutionCallback resolution;
};

DriverTable table;
int64_t pixelLimit = PIC_DEFAULT_PIXEL_LIMIT;  // 0: none beyond an int

void addDriver(picDriver* driver) {
  table.slots[table.count] = driver;
  driver->index = table.count;
  ++table.count;
  table.slots[table.count] = nullptr;
}

}  // namespace

void picRegisterBuiltinDrivers() {
  if (table.count != 0) return;
  picDriver* (*const builtins[])(void) = {picBmpDriver, picPcxDriver,  picGifDriver,
                                          picTiffDriver, picSunDriver, picSgiDriver,
                                          picJpegDriver, picZotDriver, picTargaDriver};
  for (auto builtin : builtins) addDriver(builtin());
}

int picDriverCount() { return table.count; }

picDriver* picDriverAt(int index) {
  if (index < 0 || index >= table.count) return nullptr;
  return table.slots[index];
}

picProgressCallback picGetProgressCallback() { return table.progress; }
picResolutionCallback picGetResolutionCallback() { return table.resolution; }

void picCallResolution(const char* fileName, double* xRes, double* yRes, int* unit) {
  if (table.resolution) table.resolution(fileName, xRes, yRes, unit);
}

int picRegisterDriver(picDriver* driver) {
  picRegisterBuiltinDrivers();
  // One slot stays free for the null behind the last driver.
  if (driver == nullptr || table.count >= PIC_MAX_DRIVERS - 1) return -1;
  addDriver(driver);
  return table.count - 1;
}

void picSetProgressCallback(picProgressCallback callback) { table.progress = callback; }
void picSetResolutionCallback(picResolutionCallback callback) { table.resolution = callback; }

int picDriverControl(void* arg, int code, int index) {
  if (index == -1) {
    if (code == PIC_CONTROL_PROGRESS) {
      table.progress = reinterpret_cast<picProgressCallback>(arg);
      return 1;
    }
    if (code == PIC_CONTROL_RESOLUTION) {
      table.resolution = reinterpret_cast<picResolutionCallback>(arg);
      return 1;
    }
    return 0;
  }
  picRegisterBuiltinDrivers();
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
  if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return PIC_ERR_DATA;
  if (width > limit || height > limit || bytesPerPixel > limit) return PIC_ERR_DATA;
  if (width * height > limit || width * bytesPerPixel > limit) return PIC_ERR_DATA;
  return PIC_OK;
}

void picSetPixelLimit(int64_t pixels) {
  if (pixels >= 0) pixelLimit = pixels;
}
int64_t picGetPixelLimit(void) { return pixelLimit; }

bool picWithinPixelLimit(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return true;  // picCheckImageSize's to refuse
  if (pixelLimit == 0) return true;
  return width <= pixelLimit / height;  // width * height <= limit, without overflow
}

int picCheckReadSize(int64_t width, int64_t height, int64_t bytesPerPixel) {
  const int status = picCheckImageSize(width, height, bytesPerPixel);
  if (status != PIC_OK) return status;
  return picWithinPixelLimit(width, height) ? PIC_OK : PIC_ERR_DATA;
}
