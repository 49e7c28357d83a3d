// Failures on demand for the fuzz targets: every n-th allocation (malloc,
// calloc, realloc and the nothrow forms of new, interposed in the fuzz program)
// and every n-th read or write through the file table can be made to fail, so that the
// library's error paths are fuzzed too. Failures happen only while a
// FaultWindow is open, that is inside a library or driver call: the target's
// own buffers are never refused. The file table also counts opens and closes,
// so that a target can tell whether a call left a stream open.
#ifndef FUZZ_FAULT_INJECTION_H
#define FUZZ_FAULT_INJECTION_H

#include <cstdint>

struct FaultPlan {
  int allocationEvery = 0;  // 0: no allocation fails
  int readEvery = 0;        // 0: no read fails
  int writeEvery = 0;       // 0: no write (or formatted print) fails
};

struct FaultCounts {
  int64_t allocations = 0;  // seen inside windows since the plan was set
  int64_t reads = 0;
  int64_t writes = 0;
  int64_t failedWrites = 0;
  int64_t opens = 0;
  int64_t closes = 0;
};

// Starts counting afresh under `plan`.
void faultsSetPlan(const FaultPlan& plan);
const FaultCounts& faultsCounts();

// Installs the memory file table wrapped with read and write failures and
// counts; the
// disk table is put back by picUseDiskFiles as usual.
void faultsUseMemoryFiles();

// Opens the window in which the plan applies, for its lifetime.
class FaultWindow {
 public:
  FaultWindow();
  ~FaultWindow();
  FaultWindow(const FaultWindow&) = delete;
  FaultWindow& operator=(const FaultWindow&) = delete;
};

#endif
