#include "fault_injection.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "picture/core/file_tables.h"

// The allocators the interposed functions hand over to: the sanitizer's when
// the program is built with one (its interceptors keep these names), the C
// library's otherwise. Weak, so that a program without a sanitizer links.
extern "C" {
void* __interceptor_malloc(size_t size) __attribute__((weak));
void* __interceptor_calloc(size_t count, size_t size) __attribute__((weak));
void* __interceptor_realloc(void* block, size_t size) __attribute__((weak));
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {

// Per thread: libFuzzer's own threads allocate while a target runs.
thread_local bool windowOpen = false;
FaultPlan currentPlan;
FaultCounts counts;

// What the allocator calls is not instrumented: the sanitizer's start-up
// allocates before its shadow memory exists.
__attribute__((no_sanitize_address)) bool nthFails(int64_t seen, int every) { return windowOpen && every > 0 && seen % every == 0; }

// libtiff (4.5) dereferences a null block when some of its own allocations
// fail, so its allocations are never refused: that is libtiff's fault to
// mend, and it would hide everything else. libjpeg, libpng and zlib recover
// and are refused like the library's own code.
__attribute__((noinline)) bool refusable(void* caller) {
  Dl_info info;
  return !(dladdr(caller, &info) && info.dli_fname && std::strstr(info.dli_fname, "libtiff"));
}

__attribute__((no_sanitize_address)) bool allocationFails(void* caller) {
  if (!windowOpen) return false;
  return nthFails(++counts.allocations, currentPlan.allocationEvery) && refusable(caller);
}

void* countedOpen(const char* name, int mode) {
  void* stream = picMemoryFiles.open(name, mode);
  if (stream) ++counts.opens;
  return stream;
}

int countedClose(void* stream) {
  ++counts.closes;
  return picMemoryFiles.close(stream);
}

long failingRead(void* stream, void* buffer, long n) {
  if (windowOpen) ++counts.reads;
  // Asking the memory stream for more than it can hold fails the read the way
  // the end of the data does: nothing copied, the error flag set.
  if (nthFails(counts.reads, currentPlan.readEvery))
    return picMemoryFiles.read(stream, buffer, std::numeric_limits<long>::max());
  return picMemoryFiles.read(stream, buffer, n);
}

bool writeFails() {
  if (!windowOpen) return false;
  if (!nthFails(++counts.writes, currentPlan.writeEvery)) return false;
  ++counts.failedWrites;
  return true;
}

// A failed write, like a full buffer: nothing stored, the error flag set.
long failingWrite(void* stream, const void* buffer, long n) {
  if (writeFails()) return picMemoryFiles.write(stream, buffer, std::numeric_limits<long>::max());
  return picMemoryFiles.write(stream, buffer, n);
}

int failingPrint(void* stream, const char* format, va_list args) {
  if (writeFails()) return int(picMemoryFiles.write(stream, "", std::numeric_limits<long>::max()));
  return picMemoryFiles.print(stream, format, args);
}

picFileOps faultyMemoryFiles() {
  picFileOps ops = picMemoryFiles;
  ops.open = countedOpen;
  ops.close = countedClose;
  ops.read = failingRead;
  ops.write = failingWrite;
  ops.print = failingPrint;
  return ops;
}

}  // namespace

void faultsSetPlan(const FaultPlan& plan) {
  currentPlan = plan;
  counts = FaultCounts();
}

const FaultCounts& faultsCounts() { return counts; }

void faultsUseMemoryFiles() {
  static const picFileOps table = faultyMemoryFiles();
  picSetFileOps(&table);
}

FaultWindow::FaultWindow() { windowOpen = true; }
FaultWindow::~FaultWindow() { windowOpen = false; }

#define FAULT_INTERPOSED extern "C" __attribute__((no_sanitize_address))

FAULT_INTERPOSED void* malloc(size_t size) {
  if (allocationFails(__builtin_return_address(0))) return nullptr;
  return __interceptor_malloc ? __interceptor_malloc(size) : __libc_malloc(size);
}

FAULT_INTERPOSED void* calloc(size_t count, size_t size) {
  if (allocationFails(__builtin_return_address(0))) return nullptr;
  return __interceptor_calloc ? __interceptor_calloc(count, size) : __libc_calloc(count, size);
}

FAULT_INTERPOSED void* realloc(void* block, size_t size) {
  if (allocationFails(__builtin_return_address(0))) return nullptr;
  return __interceptor_realloc ? __interceptor_realloc(block, size) : __libc_realloc(block, size);
}

// The throwing forms are left to the run-time (the sanitizer's, when there is
// one), so that every block still pairs with its own delete.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (allocationFails(__builtin_return_address(0))) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  if (allocationFails(__builtin_return_address(0))) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
