// The library's callback has no context argument: the record it fills or
// reads is the calling thread's own variable.
#include "tools/pictool/resolution.h"

#include "picture/core/picture.h"

namespace pictool {

namespace {

thread_local Resolution* keeping = nullptr;
thread_local const Resolution* giving = nullptr;

int keep(const char*, double* x, double* y, int* unit) {
  if (keeping && *unit != PIC_RES_NONE && *x > 0 && *y > 0) *keeping = {*x, *y, *unit};
  return 0;
}

int give(const char*, double* x, double* y, int* unit) {
  if (giving && giving->unit != PIC_RES_NONE) {
    *x = giving->x;
    *y = giving->y;
    *unit = giving->unit;
  }
  return 0;
}

}  // namespace

ResolutionKept::ResolutionKept(Resolution* kept) {
  keeping = kept;
  picSetResolutionCallbackThread(keep);
}

ResolutionKept::~ResolutionKept() {
  picSetResolutionCallbackThread(nullptr);
  keeping = nullptr;
}

ResolutionGiven::ResolutionGiven(const Resolution& given) {
  giving = &given;
  picSetResolutionCallbackThread(give);
}

ResolutionGiven::~ResolutionGiven() {
  picSetResolutionCallbackThread(nullptr);
  giving = nullptr;
}

}  // namespace pictool
