// The formats the library knows, one line a format: the built-in ones in their
// table order, then those picRegisterExtraDrivers adds, in its order. A new
// format is its driver's file (with its picFormatInfo) and one line here.
#include "picture/core/format_info.h"
#include "picture/core/registry.h"

namespace {

// Constant: addresses of constant records, valid before any constructor runs.
const picFormatInfo* const formats[] = {
    &picBmpFormat,  &picPcxFormat, &picGifFormat,   &picTiffFormat, &picSunFormat, &picSgiFormat,
    &picJpegFormat, &picZotFormat, &picTargaFormat, &picPnmFormat,  &picPngFormat,
};

}  // namespace

const picFormatInfo* const* picFormatList(int* count) {
  *count = int(sizeof formats / sizeof formats[0]);
  return formats;
}

int picFormatDriverIndex(const picFormatInfo& format) {
  for (int i = 0; i < picDriverCount(); ++i)
    if (picDriverAt(i) == format.driver()) return i;
  return -1;
}
