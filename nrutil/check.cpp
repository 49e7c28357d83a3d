// getINFOALLOC and its trap. The registry says whether an address is a
// live block, a released one (code 1, decided without touching the memory
// the heap took back) or unknown; headers of live and unknown addresses are
// read under the trap, so an unreadable one gives code 6. Both memory
// faults are trapped: SIGSEGV for an unmapped or protected page, SIGBUS for
// a mapped page past the end of its file. The trap covers the reads only;
// the process's own handlers are back before any report is written.
// A live block whose guards are intact but whose header no longer gives
// the kind, element size and bounds it was made with counts as overrun at
// the beginning: releasing or resizing by those fields would hand foreign
// addresses to the heap.
#include "nrutil/check.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "nrutil/registry.h"
#include "nrutil/report.h"

namespace {
sigjmp_buf g_trapJump;

constexpr int g_trappedSignals[] = {SIGSEGV, SIGBUS};
constexpr size_t g_trappedCount = sizeof g_trappedSignals / sizeof g_trappedSignals[0];

// The dispositions the trap replaced.
struct g_trap {
  struct sigaction previous[g_trappedCount];
};

struct g_raw_block {
  g_array_header header;
  bool tailRead;  // false when the header places tailGuard outside the block
  uintptr_t tailGuard;
};

// Copies bytes from an address that may be wild; a fault lands in
// g_intalloc. Not instrumented: the address may be anything at all.
__attribute__((noinline, no_sanitize("address"))) void g_copy_raw(void* destination,
                                                                  uintptr_t source, size_t bytes) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = reinterpret_cast<const volatile unsigned char*>(source);
  for (size_t i = 0; i < bytes; ++i) to[i] = from[i];
}

// Offset of tailGuard from the block start as the header gives it; false
// when the header's bounds or element size make no sense. An unknown kind
// counts as a pointer level.
bool g_tail_offset(const g_array_header& header, uint64_t* offset) {
  const g_shape shape = g_shape_of(header);
  const int entry = shape.entrySize(0);
  if (!shape.rangeValid(0) || entry < 0) return false;
  *offset = G_HEADER_SIZE + uint64_t{shape.count(0)} * static_cast<uint64_t>(entry);
  return true;
}

// 0 when the header (and tail, where it lies) could be read, 6 on a fault.
bool g_same_shape(const g_shape& made, const g_shape& header) {
  return made.kind == header.kind && made.tamElem == header.tamElem &&
         std::equal(made.low, made.low + G_MAX_LEVELS, header.low) &&
         std::equal(made.high, made.high + G_MAX_LEVELS, header.high);
}

int g_read_block(uintptr_t block, g_block_state state, size_t liveBytes, g_raw_block* raw) {
  if (sigsetjmp(g_trapJump, 1) != 0) return 6;
  g_copy_raw(&raw->header, block, sizeof raw->header);
  uint64_t offset = 0;
  raw->tailRead = g_tail_offset(raw->header, &offset) &&
                  (state == g_block_state::UNKNOWN || offset + G_GUARD_SIZE <= liveBytes);
  if (raw->tailRead) g_copy_raw(&raw->tailGuard, block + offset, G_GUARD_SIZE);
  return 0;
}

int g_classify(const g_raw_block& raw, uintptr_t block, int kind) {
  const uintptr_t allOnes = ~uintptr_t{0};
  const uintptr_t head = reinterpret_cast<uintptr_t>(raw.header.headGuard);
  const bool headIntact = head == block;
  const bool tailIntact = raw.tailRead && raw.tailGuard == block;
  if (raw.tailRead && head == allOnes && raw.tailGuard == allOnes) return 1;
  if (raw.header.kind != kind) return 2;
  if (!headIntact && !tailIntact) return 3;
  if (!headIntact) return 4;
  if (!tailIntact) return 5;
  return 0;
}

void g_arm_trap(g_trap* trap) {
  struct sigaction handler = {};
  handler.sa_handler = g_intalloc;
  sigemptyset(&handler.sa_mask);
  for (size_t i = 0; i < g_trappedCount; ++i)
    sigaction(g_trappedSignals[i], &handler, &trap->previous[i]);
}

void g_disarm_trap(const g_trap& trap) {
  for (size_t i = 0; i < g_trappedCount; ++i)
    sigaction(g_trappedSignals[i], &trap.previous[i], nullptr);
}
}  // namespace

extern "C" void g_intalloc(int signalNumber) {
  std::signal(signalNumber, SIG_IGN);
  std::fprintf(stderr, "\n %s: Sinal Trapeado=%d\n", "g_intalloc", signalNumber);
  std::fflush(stderr);
  siglongjmp(g_trapJump, 1);
}

g_checked_block g_check_block(void* array, int kind, const char* file, int line, const char* date,
                              const char* time) {
  const uintptr_t block = reinterpret_cast<uintptr_t>(array) - G_HEADER_SIZE;
  g_block_record made;
  const g_block_state state = g_registry_find(block, &made);

  g_raw_block raw = {};
  int code = 1;
  if (state != g_block_state::RELEASED) {
    g_trap trap;
    g_arm_trap(&trap);
    code = g_read_block(block, state, made.bytes, &raw);
    g_disarm_trap(trap);
  }
  if (code == 0) code = g_classify(raw, block, kind);
  // Intact-looking bytes at an address that was never a block are forged.
  if (code == 0 && state != g_block_state::LIVE) code = 3;
  if (code == 0 && !g_same_shape(made.shape, g_shape_of(raw.header))) code = 4;

  switch (code) {
    case 0: break;
    case 1:
      g_fail(file, line, date, time, "failure in getINFOALLOC-1: array had already been freed");
    case 2:
      g_fail(file, line, date, time,
             "failure in getINFOALLOC-2: mismatch array type - prev:%s | now:%s",
             kindName(raw.header.kind), kindName(kind));
    case 3:
      g_fail(file, line, date, time,
             "failure in getINFOALLOC-3: array has been overrunned both sides");
    case 4:
      g_fail(file, line, date, time,
             "failure in getINFOALLOC-4: array has been overrunned at the beginning");
    case 5:
      g_fail(file, line, date, time,
             "failure in getINFOALLOC-5: array has been overrunned at the end");
    default:
      std::perror("getINFOALLOC-6");
      g_fail(file, line, date, time,
             "failure in getINFOALLOC-6: Freeing a wild pointer=%p - signal has been issued",
             reinterpret_cast<void*>(block));
  }
  return {reinterpret_cast<void*>(block), g_shape_of(raw.header)};
}

extern "C" int getINFOALLOC(void* array, int kind, const char* file, int line, const char* date,
                            const char* time) {
  g_check_block(array, kind, file, line, date, time);
  return 0;
}
