// Placeholder: recognises no file and writes none until the format is supported.
#include "picture/core/driver_support.h"

namespace {

picFile* openRead(const char*, int* status) { return picOpenResult(status, PIC_ERR_FORMAT, nullptr); }

picFile* openWrite(const char*, int, int, int, int, int, int* status) {
  return picOpenResult(status, PIC_ERR_DATA, nullptr);
}

picDriver driver = {0, nullptr, openRead, openWrite, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

picDriver* picTargaDriver(void) { return &driver; }
