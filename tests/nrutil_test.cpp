// Guarded array allocator: layout, resize, release, integrity check codes and
// the exact console reports of every fatal path.
#include "nrutil/nrutil.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "nrutil/block.h"
#include "nrutil/registry.h"

#ifdef __SANITIZE_ADDRESS__
// The failure tests ask the heap for absurd sizes and want null back.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

// ---- helpers ---------------------------------------------------------------

std::string Literal(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

const std::string kHeading = "\n\nErro identificado pela gerencia de alocacao de memoria:";
const std::string kBuildPattern =
    "[A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9][0-9][0-9]-[0-9][0-9]:[0-9][0-9]:[0-9][0-9]";

// Whole report of a failure detected at the given location.
std::string ReportAt(const std::string& file, int line, const std::string& message,
                     const std::string& build = __DATE__ "-" __TIME__) {
  return "^" +
         Literal(kHeading + "\n\n arquivo fonte: " + file + "  \n linha: " +
                 std::to_string(line) + "  compilacao: " + build + "\nmsgErro: " + message +
                 "\n\n") +
         "$";
}

// Whole report of a failure detected at a known place of this file.
std::string CallerReport(int line, const std::string& message) {
  return ReportAt(__FILE__, line, message);
}

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's heap announces every request it refuses.
const std::string kRefusalNotice =
    "(==[0-9]+==WARNING: AddressSanitizer failed to allocate [^\n]*\n)?";
#else
const std::string kRefusalNotice;
#endif

// Whole report of a failure the allocator detects in one of its own sources.
std::string AllocatorReport(const std::string& source, const std::string& message) {
  return "^" + kRefusalNotice +
         Literal(kHeading + "\n\n arquivo fonte: " SOLSYS_SOURCE_DIR "/nrutil/" + source +
                 "  \n linha: ") +
         "[0-9]+" + Literal("  compilacao: ") + kBuildPattern +
         Literal("\nmsgErro: " + message + "\n\n") + "$";
}

std::string WildPointerReport(int line, uintptr_t block, int signalNumber = SIGSEGV) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", reinterpret_cast<void*>(block));
  return "^" +
         Literal("\n g_intalloc: Sinal Trapeado=" + std::to_string(signalNumber) +
                 "\ngetINFOALLOC-6: ") +
         "[^\n]*\n" +
         CallerReport(line, std::string("failure in getINFOALLOC-6: Freeing a wild pointer=") +
                                address + " - signal has been issued")
             .substr(1);
}

// One-line wrappers, so that the reported line is known.
// clang-format off
const int freeLine = __LINE__; void FreeHere(void* array, int kind) { G_FREE_ARRAY(array, kind); }
const int newLine = __LINE__; void* NewHere(int kind, uint32_t x, uint32_t y, uint32_t z, uint32_t t) { return G_NEW_ARRAY(4, kind, x, y, z, t); }
// clang-format on

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// Bounds of a shape as the variadic calls take them: low1, high1, low2, ...
using Bounds = std::vector<uint32_t>;

void* AllocWith(int tamElem, int kind, const Bounds& b) {
  switch (kind) {
    case VECTOR: return g_alloc(tamElem, kind, b[0], b[1]);
    case MATRIX: return g_alloc(tamElem, kind, b[0], b[1], b[2], b[3]);
    case TRIMATRIX: return g_alloc(tamElem, kind, b[0], b[1], b[2], b[3], b[4], b[5]);
    default: return g_alloc(tamElem, kind, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
  }
}

void* ReallocWith(void* first, int kind, const Bounds& b) {
  switch (kind) {
    case VECTOR: return g_realloc(first, kind, b[0], b[1]);
    case MATRIX: return g_realloc(first, kind, b[0], b[1], b[2], b[3]);
    case TRIMATRIX: return g_realloc(first, kind, b[0], b[1], b[2], b[3], b[4], b[5]);
    default: return g_realloc(first, kind, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
  }
}

// The address of the first level-1 entry, which release and resize take.
void* FirstEntry(void* array, int kind, uint32_t low1, int tamElem) {
  const uintptr_t entry = kind == VECTOR ? tamElem : sizeof(void*);
  return reinterpret_cast<void*>(Address(array) + low1 * entry);
}

g_array_header* HeaderOf(void* first) {
  return reinterpret_cast<g_array_header*>(static_cast<unsigned char*>(first) - G_HEADER_SIZE);
}

uintptr_t TailGuardOf(void* first, size_t levelOneBytes) {
  uintptr_t tail = 0;
  std::memcpy(&tail, static_cast<unsigned char*>(first) + levelOneBytes, sizeof tail);
  return tail;
}

// An element of an int32 array, indexed the way callers index.
int32_t& At(void* array, int kind, const uint32_t* i) {
  switch (kind) {
    case VECTOR: return static_cast<int32_t*>(array)[i[0]];
    case MATRIX: return static_cast<int32_t**>(array)[i[0]][i[1]];
    case TRIMATRIX: return static_cast<int32_t***>(array)[i[0]][i[1]][i[2]];
    default: return static_cast<int32_t****>(array)[i[0]][i[1]][i[2]][i[3]];
  }
}

// Calls visit(indices, positions) for every element of the shape, positions
// counting from 0 in each dimension.
template <typename Visit>
void ForEachElement(int kind, const Bounds& b, Visit visit) {
  uint32_t index[4] = {};
  uint32_t position[4] = {};
  auto walk = [&](auto&& self, int level) -> void {
    if (level > kind || level >= 4) {
      visit(index, position);
      return;
    }
    const uint32_t count = b[2 * level + 1] - b[2 * level] + 1;
    for (uint32_t m = 0; m < count; ++m) {
      index[level] = b[2 * level] + m;
      position[level] = m;
      self(self, level + 1);
    }
  };
  walk(walk, 0);
}

int32_t ValueAt(const uint32_t* position) {
  return 1 + static_cast<int32_t>(position[0] * 1000 + position[1] * 100 + position[2] * 10 +
                                  position[3]);
}

void ExpectHeaderBounds(void* first, int kind, const Bounds& b) {
  const g_array_header* h = HeaderOf(first);
  Bounds full = b;
  full.resize(8, 0);
  EXPECT_EQ(h->kind, kind);
  EXPECT_EQ((Bounds{h->low1, h->high1, h->low2, h->high2, h->low3, h->high3, h->low4, h->high4}),
            full);
  EXPECT_EQ(Address(h->headGuard), Address(h));
}

// ---- reports ---------------------------------------------------------------

TEST(NrutilReport, KindNames) {
  const struct {
    int kind;
    const char* name;
  } cases[] = {
      {VECTOR, "VECTOR"}, {MATRIX, "MATRIX"}, {TRIMATRIX, "TRIMATRIX"}, {QUADMATRIX, "QUADMATRIX"},
      {-1, "UNDEFINED"},  {4, "UNDEFINED"},   {7, "UNDEFINED"}};
  for (const auto& c : cases) EXPECT_STREQ(kindName(c.kind), c.name) << c.kind;
}

TEST(NrutilReport, LocationAndWarningText) {
  testing::internal::CaptureStderr();
  g_report_location("viewer/texture.cpp", 42, "Mar  7 2024", "09:05:01");
  g_warning("texto");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n\nErro identificado pela gerencia de alocacao de memoria:"
            "\n\n arquivo fonte: viewer/texture.cpp  \n linha: 42  compilacao: Mar  7 2024-09:05:01"
            "\nmsgErro: texto\n\n");
}

TEST(NrutilReportDeathTest, FatalAbortsAfterItsMessage) {
  EXPECT_EXIT(g_fatal("fim"), testing::KilledBySignal(SIGABRT),
              "^" + Literal("\nmsgErro: fim\n\n") + "$");
}

// ---- allocation ------------------------------------------------------------

TEST(NrutilAlloc, VectorBlockLayout) {
  const struct {
    int tamElem;
    uint32_t low, high, count;
  } cases[] = {
      {4, 0, 3, 4},          {1, 0, 2, 3},   // tailGuard unaligned at 64 + 3
      {8, 0, 0xFFFFFFFF, 0}, {8, 7, 6, 0},   // empty ranges
      {2, 1, 4, 4},          {16, 3, 5, 3},  // the array pointer lies before the data
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tamElem << " " << c.low << ".." << c.high);
    auto* array = static_cast<unsigned char*>(g_alloc(c.tamElem, VECTOR, c.low, c.high));
    ASSERT_NE(array, nullptr);
    unsigned char* data = array + uintptr_t{c.low} * c.tamElem;
    const g_array_header* h = HeaderOf(data);
    EXPECT_EQ(Address(data) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(h->tamElem, c.tamElem);
    ExpectHeaderBounds(data, VECTOR, {c.low, c.high});
    EXPECT_EQ(TailGuardOf(data, size_t{c.count} * c.tamElem), Address(h));
    for (size_t i = 0; i < size_t{c.count} * c.tamElem; ++i) EXPECT_EQ(data[i], 0) << i;
    std::memset(data, 0x5A, size_t{c.count} * c.tamElem);
    EXPECT_EQ(G_INFOALLOC(data, VECTOR), 0);
    FreeHere(data, VECTOR);
  }
}

TEST(NrutilAlloc, MatrixRowsAreSeparateAndZeroed) {
  auto** m = static_cast<int32_t**>(g_alloc(4, MATRIX, 1u, 3u, 1u, 4u));
  ASSERT_NE(m, nullptr);
  ExpectHeaderBounds(&m[1], MATRIX, {1, 3, 1, 4});
  EXPECT_EQ(HeaderOf(&m[1])->tamElem, 4);
  EXPECT_EQ(TailGuardOf(&m[1], 3 * sizeof(void*)), Address(HeaderOf(&m[1])));
  for (uint32_t i = 1; i <= 3; ++i)
    for (uint32_t j = 1; j <= 4; ++j) EXPECT_EQ(m[i][j], 0);
  EXPECT_NE(&m[1][4] + 1, &m[2][1]);
  EXPECT_NE(&m[2][4] + 1, &m[3][1]);
  FreeHere(&m[1], MATRIX);
}

TEST(NrutilAlloc, EveryLevelIndexesWithItsBounds) {
  const struct {
    int kind;
    Bounds bounds;
  } cases[] = {
      {VECTOR, {5, 9}},
      {MATRIX, {0, 2, 3, 6}},
      {TRIMATRIX, {2, 3, 0, 1, 5, 7}},
      {QUADMATRIX, {0, 1, 1, 2, 0, 2, 3, 3}},
      {QUADMATRIX, {0, 0xFFFFFFFF, 0, 1, 0, 1, 0, 1}},  // no rows at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    void* array = AllocWith(4, c.kind, c.bounds);
    ASSERT_NE(array, nullptr);
    ForEachElement(c.kind, c.bounds,
                   [&](const uint32_t* i, const uint32_t*) { EXPECT_EQ(At(array, c.kind, i), 0); });
    ForEachElement(c.kind, c.bounds, [&](const uint32_t* i, const uint32_t* p) {
      At(array, c.kind, i) = ValueAt(p);
    });
    ForEachElement(c.kind, c.bounds, [&](const uint32_t* i, const uint32_t* p) {
      EXPECT_EQ(At(array, c.kind, i), ValueAt(p));
    });
    void* first = FirstEntry(array, c.kind, c.bounds[0], 4);
    ExpectHeaderBounds(first, c.kind, c.bounds);
    FreeHere(first, c.kind);
  }
}

TEST(NrutilAlloc, FailedBlockWarnsAndGivesNull) {
  const struct {
    int tamElem;
    uint32_t low, high;
    const char* message;
  } cases[] = {
      {0x7FFFFFFF, 0, 0xFFFFFFFE,
       "allocation failure in aloc_array - nElems=4294967295  tamElem=2147483647"},
      {4, 5, 2, "allocation failure in aloc_array - nElems=4294967294  tamElem=4"},
      {-4, 0, 1, "allocation failure in aloc_array - nElems=2  tamElem=-4"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(g_alloc(c.tamElem, VECTOR, c.low, c.high), nullptr);
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_search(text, std::regex(AllocatorReport("alloc.cpp", c.message))))
        << text;
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(g_alloc(4, 4, 0u, 3u), nullptr);
  EXPECT_EQ(g_alloc(4, -1, 0u, 3u), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(NrutilAllocDeathTest, FailedLowerLevelEndsTheProgram) {
  const struct {
    int tamElem, kind;
    Bounds bounds;
    const char* source;  // the heap refuses in levels.cpp, absurd bounds are refused up front
    const char* message;
  } cases[] = {
      {0x40000000,
       MATRIX,
       {0, 0, 0, 0xFFFFFFFE},
       "levels.cpp",
       "allocation failure in aloc_dim2_array - nElems=4294967295  tamElem=1073741824"},
      {2,
       TRIMATRIX,
       {0, 1, 3, 0, 0, 1},
       "alloc.cpp",
       "allocation failure in aloc_dim2_array - nElems=4294967294  tamElem=8"},
      {2,
       TRIMATRIX,
       {0, 1, 0, 1, 9, 3},
       "alloc.cpp",
       "allocation failure in aloc_dim3_array - nElems=4294967291  tamElem=2"},
      {2,
       QUADMATRIX,
       {0, 1, 0, 1, 0, 1, 2, 0},
       "alloc.cpp",
       "allocation failure in aloc_dim4_array - nElems=4294967295  tamElem=2"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(AllocWith(c.tamElem, c.kind, c.bounds), testing::KilledBySignal(SIGABRT),
                AllocatorReport(c.source, c.message));
}

// ---- caller-side allocation ------------------------------------------------

TEST(NrutilNewArray, ZeroBasedShapeOfTheCounts) {
  const struct {
    int kind;
    uint32_t x, y, z, t;
    Bounds bounds;
  } cases[] = {
      {VECTOR, 6, 0, 0, 0, {0, 5}},
      {VECTOR, 1, 9, 9, 9, {0, 0}},
      {MATRIX, 2, 3, 0, 0, {0, 1, 0, 2}},
      {TRIMATRIX, 2, 1, 3, 0, {0, 1, 0, 0, 0, 2}},
      {QUADMATRIX, 1, 2, 1, 2, {0, 0, 0, 1, 0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    void* array = NewHere(c.kind, c.x, c.y, c.z, c.t);
    ASSERT_NE(array, nullptr);
    ExpectHeaderBounds(array, c.kind, c.bounds);
    FreeHere(array, c.kind);
  }
  EXPECT_EQ(NewHere(9, 1, 0, 0, 0), nullptr);
}

TEST(NrutilNewArrayDeathTest, ZeroCountIsRefusedWithTheCallersLocation) {
  const struct {
    int kind;
    uint32_t x, y, z, t;
    std::string what;
  } cases[] = {
      {VECTOR, 0, 0, 0, 0, ":VECTOR-Invalid nElemsx=0 "},
      {MATRIX, 3, 0, 1, 1, ":MATRIX-Invalid nElemsy=0 "},
      {TRIMATRIX, 1, 1, 0, 0, ":TRIMATRIX-Invalid nElemsz=0 "},
      {QUADMATRIX, 2, 2, 2, 0, ":QUADMATRIX-Invalid nElemst=0 "},
      {QUADMATRIX, 0, 0, 0, 0, ":QUADMATRIX-Invalid nElemsx=0 "},
      {9, 0, 1, 1, 1, ":UNDEFINED-Invalid nElemsx=0 "},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(NewHere(c.kind, c.x, c.y, c.z, c.t), testing::KilledBySignal(SIGABRT),
                CallerReport(newLine, __FILE__ + c.what));
}

TEST(NrutilNewArrayDeathTest, LongSourcePathIsReportedWhole) {
  const std::string path = "/" + std::string(6000, 'd') + "/texture.cpp";
  EXPECT_EXIT(g_new_array(1, VECTOR, 0, 0, 0, 0, path.c_str(), 7, "Jan  2 2024", "03:04:05"),
              testing::KilledBySignal(SIGABRT),
              ReportAt(path, 7, path + ":VECTOR-Invalid nElemsx=0 ", "Jan  2 2024-03:04:05"));
}

// ---- resize ----------------------------------------------------------------

TEST(NrutilRealloc, KeepsEntriesByPositionAndZeroesNewOnes) {
  const struct {
    int kind;
    Bounds before, after;
  } cases[] = {
      {VECTOR, {0, 3}, {0, 5}},
      {VECTOR, {0, 3}, {1, 4}},
      {VECTOR, {0, 5}, {0, 1}},
      {VECTOR, {2, 4}, {0, 9}},
      {VECTOR, {0, 3}, {0, 0xFFFFFFFF}},
      {VECTOR, {4, 3}, {0, 2}},
      {MATRIX, {0, 2, 0, 3}, {0, 1, 0, 5}},
      {MATRIX, {0, 2, 0, 3}, {0, 2, 1, 4}},
      {MATRIX, {1, 3, 1, 4}, {0, 5, 2, 3}},
      {MATRIX, {0, 2, 0, 3}, {0, 2, 0, 3}},
      {MATRIX, {0, 2, 0, 3}, {5, 7, 0, 2}},
      {TRIMATRIX, {0, 3, 0, 2, 0, 1}, {0, 1, 0, 0, 0, 1}},
      {TRIMATRIX, {0, 1, 0, 1, 0, 1}, {0, 2, 1, 3, 4, 4}},
      {TRIMATRIX, {0, 1, 0, 1, 0, 2}, {0, 1, 0, 1, 3, 5}},
      {TRIMATRIX, {0, 2, 0, 2, 0, 2}, {1, 3, 0, 2, 0, 0}},
      {QUADMATRIX, {0, 1, 0, 1, 0, 1, 0, 1}, {1, 3, 2, 2, 0, 2, 5, 5}},
      {QUADMATRIX, {0, 2, 0, 2, 0, 2, 0, 2}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {QUADMATRIX, {0, 1, 0, 1, 0, 1, 0, 1}, {1, 2, 1, 2, 1, 2, 1, 2}},
      {QUADMATRIX, {0, 1, 0, 2, 0, 1, 0, 2}, {0, 1, 0, 4, 0, 0, 0, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "kind " << c.kind << " to " << c.after[0] << ".." << c.after[1]);
    void* array = AllocWith(4, c.kind, c.before);
    ASSERT_NE(array, nullptr);
    ForEachElement(c.kind, c.before, [&](const uint32_t* i, const uint32_t* p) {
      At(array, c.kind, i) = ValueAt(p);
    });

    void* resized = ReallocWith(FirstEntry(array, c.kind, c.before[0], 4), c.kind, c.after);
    ForEachElement(c.kind, c.after, [&](const uint32_t* i, const uint32_t* p) {
      bool kept = true;
      for (int level = 0; level <= c.kind; ++level)
        kept = kept && p[level] < c.before[2 * level + 1] - c.before[2 * level] + 1;
      EXPECT_EQ(At(resized, c.kind, i), kept ? ValueAt(p) : 0)
          << p[0] << " " << p[1] << " " << p[2] << " " << p[3];
    });
    void* first = FirstEntry(resized, c.kind, c.after[0], 4);
    ExpectHeaderBounds(first, c.kind, c.after);
    const size_t levelOne =
        size_t{c.after[1] - c.after[0] + 1} * (c.kind == VECTOR ? 4 : sizeof(void*));
    EXPECT_EQ(TailGuardOf(first, levelOne), Address(HeaderOf(first)));
    FreeHere(first, c.kind);
  }
}

TEST(NrutilRealloc, ShiftingBoundsMovesNothing) {
  auto* v = static_cast<int32_t*>(g_alloc(4, VECTOR, 0u, 3u));
  v[0] = 11;
  auto* shifted = static_cast<int32_t*>(g_realloc(v, VECTOR, 1u, 4u));
  EXPECT_EQ(&shifted[1], &v[0]);
  EXPECT_EQ(shifted[1], 11);
  FreeHere(&shifted[1], VECTOR);

  auto** m = static_cast<int32_t**>(g_alloc(4, MATRIX, 0u, 2u, 0u, 3u));
  int32_t* rows[3] = {&m[0][0], &m[1][0], &m[2][0]};
  m[2][0] = 7;
  auto** columns = static_cast<int32_t**>(g_realloc(m, MATRIX, 0u, 2u, 1u, 4u));
  EXPECT_EQ(columns, m);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(&columns[i][1], rows[i]);
  EXPECT_EQ(columns[2][1], 7);
  FreeHere(columns, MATRIX);
}

TEST(NrutilRealloc, UnknownKindChangesNothing) {
  auto* v = static_cast<int32_t*>(g_alloc(4, VECTOR, 0u, 3u));
  testing::internal::CaptureStderr();
  EXPECT_EQ(g_realloc(v, 4, 0u, 9u), v);
  EXPECT_EQ(g_realloc(nullptr, -1, 0u, 9u), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ExpectHeaderBounds(v, VECTOR, {0, 3});
  FreeHere(v, VECTOR);
}

TEST(NrutilReleaseDeathTest, UnknownKindNamedByTheCallerToo) {
  // A header kind overwritten with an unknown value that the release names
  // as well, guards intact: the elements must never be taken for pointers.
  auto* v = static_cast<uintptr_t*>(g_alloc(sizeof(uintptr_t), VECTOR, 0u, 3u));
  for (int i = 0; i < 4; ++i) v[i] = 0x1000 + i;
  HeaderOf(v)->kind = 7;
  EXPECT_EXIT(
      FreeHere(v, 7), testing::KilledBySignal(SIGABRT),
      CallerReport(freeLine, "failure in getINFOALLOC-4: array has been overrunned at the beginning"));
  HeaderOf(v)->kind = VECTOR;
  FreeHere(v, VECTOR);
}

TEST(NrutilReallocDeathTest, RefusesBeforeChangingAnything) {
  auto* v = static_cast<unsigned char*>(g_alloc(1, VECTOR, 0u, 3u));
  auto** m = static_cast<int32_t**>(g_alloc(4, MATRIX, 0u, 1u, 0u, 1u));
  EXPECT_EXIT(
      g_realloc(v, MATRIX, 0u, 1u, 0u, 1u), testing::KilledBySignal(SIGABRT),
      AllocatorReport("realloc.cpp",
                      "failure in getINFOALLOC-2: mismatch array type - prev:VECTOR | now:MATRIX"));
  EXPECT_EXIT((v[4] ^= 0xFF, g_realloc(v, VECTOR, 0u, 9u)), testing::KilledBySignal(SIGABRT),
              AllocatorReport("realloc.cpp",
                              "failure in getINFOALLOC-5: array has been overrunned at the end"));
  EXPECT_EXIT(g_realloc(v, VECTOR, 9u, 2u), testing::KilledBySignal(SIGABRT),
              AllocatorReport("realloc.cpp",
                              "allocation failure in realoc_array - nElems=4294967290  tamElem=1"));
  EXPECT_EXIT(
      g_realloc(m, MATRIX, 0u, 1u, 3u, 1u), testing::KilledBySignal(SIGABRT),
      AllocatorReport("realloc.cpp",
                      "allocation failure in realoc_dim2_array - nElems=4294967295  tamElem=4"));
  int32_t* row = m[1];
  m[1] = nullptr;
  EXPECT_EXIT(g_realloc(m, MATRIX, 0u, 1u, 2u, 3u), testing::KilledBySignal(SIGABRT),
              AllocatorReport("levels.cpp", "allocation failure in desloc_dim2_array "));
  m[1] = row;
  // Rows of no elements, resized to 2^32 - 1 elements of 1 GiB each.
  void* huge = g_alloc(0x40000000, MATRIX, 0u, 1u, 0u, 0xFFFFFFFFu);
  EXPECT_EXIT(
      g_realloc(huge, MATRIX, 0u, 1u, 0u, 0xFFFFFFFEu), testing::KilledBySignal(SIGABRT),
      AllocatorReport(
          "levels.cpp",
          "allocation failure in realoc_dim2_array - nElems=4294967295  tamElem=1073741824"));
  FreeHere(huge, MATRIX);
  FreeHere(m, MATRIX);
  FreeHere(v, VECTOR);
}

TEST(NrutilReallocDeathTest, ClearedRowOfAShiftedMatrix) {
  // Columns 1..2: a cleared row pointer is null although its real start is not.
  auto** m = static_cast<int32_t**>(g_alloc(4, MATRIX, 0u, 1u, 1u, 2u));
  int32_t* row = m[1];
  m[1] = nullptr;
  EXPECT_EXIT(g_realloc(m, MATRIX, 0u, 1u, 2u, 3u), testing::KilledBySignal(SIGABRT),
              AllocatorReport("levels.cpp", "allocation failure in desloc_dim2_array "));
  EXPECT_EXIT(
      g_realloc(m, MATRIX, 0u, 1u, 1u, 5u), testing::KilledBySignal(SIGABRT),
      AllocatorReport("levels.cpp",
                      "allocation failure in realoc_dim2_array - nElems=5  tamElem=4"));
  // The release hands back the rows that exist and skips the cleared one
  // (whose row the child still holds, hence no leak check at its exit).
  EXPECT_EXIT((FreeHere(m, MATRIX), std::_Exit(0)), testing::ExitedWithCode(0), "^$");
  m[1] = row;
  FreeHere(m, MATRIX);
}

// ---- integrity check -------------------------------------------------------

TEST(NrutilCheckDeathTest, DamagedBlocksReportTheirCode) {
  const struct {
    int kind;        // made
    int releasedAs;  // expected by the release
    void (*damage)(void* first);
    const char* message;
  } cases[] = {
      {VECTOR, VECTOR, [](void* f) { static_cast<unsigned char*>(f)[16] ^= 0xFF; },
       "failure in getINFOALLOC-5: array has been overrunned at the end"},
      {VECTOR, VECTOR, [](void* f) { static_cast<unsigned char*>(f)[-1] ^= 0xFF; },
       "failure in getINFOALLOC-4: array has been overrunned at the beginning"},
      {VECTOR, VECTOR,
       [](void* f) {
         static_cast<unsigned char*>(f)[-1] ^= 0xFF;
         static_cast<unsigned char*>(f)[16] ^= 0xFF;
       },
       "failure in getINFOALLOC-3: array has been overrunned both sides"},
      {MATRIX, VECTOR, [](void*) {},
       "failure in getINFOALLOC-2: mismatch array type - prev:MATRIX | now:VECTOR"},
      {MATRIX, VECTOR, [](void* f) { static_cast<unsigned char*>(f)[-1] ^= 0xFF; },
       "failure in getINFOALLOC-2: mismatch array type - prev:MATRIX | now:VECTOR"},
      // Bounds that put tailGuard far outside the block: judged without reading there.
      {VECTOR, VECTOR, [](void* f) { HeaderOf(f)->high1 = 1u << 30; },
       "failure in getINFOALLOC-5: array has been overrunned at the end"},
      {VECTOR, VECTOR, [](void* f) { HeaderOf(f)->kind = 7; },
       "failure in getINFOALLOC-2: mismatch array type - prev:UNDEFINED | now:VECTOR"},
      // Guards intact, but the header no longer describes the rows: walking
      // them by its fields would hand foreign addresses to the heap.
      {MATRIX, MATRIX, [](void* f) { HeaderOf(f)->low2 = 5; },
       "failure in getINFOALLOC-4: array has been overrunned at the beginning"},
      {MATRIX, MATRIX, [](void* f) { HeaderOf(f)->high2 = 9; },
       "failure in getINFOALLOC-4: array has been overrunned at the beginning"},
      {MATRIX, MATRIX, [](void* f) { HeaderOf(f)->tamElem = 1000; },
       "failure in getINFOALLOC-4: array has been overrunned at the beginning"},
      {VECTOR, VECTOR, [](void* f) { FreeHere(f, VECTOR); },
       "failure in getINFOALLOC-1: array had already been freed"},
      {MATRIX, VECTOR,
       [](void* f) {
         std::memset(&HeaderOf(f)->headGuard, 0xFF, 8);
         std::memset(static_cast<void**>(f) + 4, 0xFF, 8);
       },
       "failure in getINFOALLOC-1: array had already been freed"},
  };
  for (const auto& c : cases) {
    void* first =
        c.kind == VECTOR ? g_alloc(4, VECTOR, 0u, 3u) : g_alloc(4, MATRIX, 0u, 3u, 0u, 1u);
    EXPECT_EXIT((c.damage(first), FreeHere(first, c.releasedAs)), testing::KilledBySignal(SIGABRT),
                CallerReport(freeLine, c.message));
    FreeHere(first, c.kind);
  }
}

TEST(NrutilCheckDeathTest, ResizedAwayBlockCountsAsFreed) {
  auto* v = static_cast<unsigned char*>(g_alloc(1, VECTOR, 0u, 3u));
  auto* moved = static_cast<unsigned char*>(g_realloc(v, VECTOR, 0u, 1u << 20));
  if (moved == v) GTEST_SKIP() << "the heap grew the block in place";
  EXPECT_EXIT(FreeHere(v, VECTOR), testing::KilledBySignal(SIGABRT),
              CallerReport(freeLine, "failure in getINFOALLOC-1: array had already been freed"));
  FreeHere(moved, VECTOR);
}

TEST(NrutilCheckDeathTest, AddressesThatAreNoBlock) {
  // Readable but never allocated: neither guard holds the block address.
  alignas(16) static unsigned char zeros[256] = {};
  EXPECT_EXIT(
      FreeHere(zeros + G_HEADER_SIZE, VECTOR), testing::KilledBySignal(SIGABRT),
      CallerReport(freeLine, "failure in getINFOALLOC-3: array has been overrunned both sides"));

  EXPECT_EXIT(FreeHere(nullptr, VECTOR), testing::KilledBySignal(SIGABRT),
              WildPointerReport(freeLine, uintptr_t{0} - G_HEADER_SIZE));

  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* pages = static_cast<unsigned char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
  // Header unreadable.
  EXPECT_EXIT(FreeHere(pages + page + G_HEADER_SIZE, VECTOR), testing::KilledBySignal(SIGABRT),
              WildPointerReport(freeLine, Address(pages + page)));
  // Header readable, its tail guard place not.
  unsigned char* block = pages + page - G_HEADER_SIZE;
  EXPECT_EXIT(FreeHere(block + G_HEADER_SIZE, VECTOR), testing::KilledBySignal(SIGABRT),
              WildPointerReport(freeLine, Address(block)));
  munmap(pages, 2 * page);

  // The second page of a mapping of a one-page file lies past the file's end.
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(page)), 0);
  auto* beyond = static_cast<unsigned char*>(
      mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fileno(file), 0));
  ASSERT_NE(beyond, MAP_FAILED);
  EXPECT_EXIT(FreeHere(beyond + page + G_HEADER_SIZE, VECTOR), testing::KilledBySignal(SIGABRT),
              WildPointerReport(freeLine, Address(beyond + page), SIGBUS));
  munmap(beyond, 2 * page);
  std::fclose(file);
}

TEST(NrutilCheckDeathTest, ReportsAreWrittenWithTheTrapDisarmed) {
  // A fault while the report is written (here: an unreadable source path)
  // belongs to the process's own handler, not to a trap whose check is over.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* unreadable = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(unreadable, MAP_FAILED);
  auto* v = static_cast<unsigned char*>(g_alloc(1, VECTOR, 0u, 3u));
  auto overrunAndRelease = [&] {
    std::signal(SIGSEGV, SIG_DFL);
    v[4] ^= 0xFF;
    g_free_array(v, VECTOR, static_cast<const char*>(unreadable), 1, __DATE__, __TIME__);
  };
  EXPECT_EXIT(overrunAndRelease(), testing::KilledBySignal(SIGSEGV),
              "^" + Literal(kHeading) + "(" + Literal("\n\n arquivo fonte: ") + ")?$");
  FreeHere(v, VECTOR);
  munmap(unreadable, page);
}

volatile sig_atomic_t ownHandlerCalls = 0;
void OwnHandler(int, siginfo_t*, void*) { ownHandlerCalls = ownHandlerCalls + 1; }

TEST(NrutilCheck, PassingCheckPutsThePreviousHandlersBack) {
  const int trapped[] = {SIGSEGV, SIGBUS};
  struct sigaction own = {};
  struct sigaction original[2] = {};
  own.sa_sigaction = OwnHandler;
  own.sa_flags = SA_SIGINFO;
  sigemptyset(&own.sa_mask);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(sigaction(trapped[i], &own, &original[i]), 0);

  auto expectOwnHandlers = [&](const char* after) {
    for (int signalNumber : trapped) {
      struct sigaction current = {};
      sigaction(signalNumber, nullptr, &current);
      EXPECT_EQ(current.sa_sigaction, &OwnHandler) << after << " " << signalNumber;
      EXPECT_TRUE(current.sa_flags & SA_SIGINFO) << after << " " << signalNumber;
    }
  };
  void* v = g_alloc(8, VECTOR, 0u, 2u);
  EXPECT_EQ(G_INFOALLOC(v, VECTOR), 0);
  expectOwnHandlers("check");
  v = g_realloc(v, VECTOR, 0u, 7u);
  expectOwnHandlers("resize");
  FreeHere(v, VECTOR);
  expectOwnHandlers("release");

  raise(SIGSEGV);
  raise(SIGBUS);
  EXPECT_EQ(ownHandlerCalls, 2);
  for (int i = 0; i < 2; ++i) sigaction(trapped[i], &original[i], nullptr);
}

// ---- released addresses ----------------------------------------------------

// Odd addresses, which no block ever has.
uintptr_t FakeBlock(size_t i) { return 1 + 16 * i; }

TEST(NrutilRegistry, RemembersOnlyTheLatestReleases) {
  const size_t first = 1000000;  // clear of every other test's addresses
  for (size_t i = 0; i < G_RELEASED_MEMORY + 10; ++i) g_registry_release(FakeBlock(first + i));
  EXPECT_EQ(g_registry_released_count(), G_RELEASED_MEMORY);
  g_block_record record;
  EXPECT_EQ(g_registry_find(FakeBlock(first + 9), &record), g_block_state::UNKNOWN);
  EXPECT_EQ(g_registry_find(FakeBlock(first + 10), &record), g_block_state::RELEASED);
  EXPECT_EQ(g_registry_find(FakeBlock(first + G_RELEASED_MEMORY + 9), &record),
            g_block_state::RELEASED);
}

TEST(NrutilRegistry, AnAddressHandedOutAgainIsForgotten) {
  const size_t first = 3000000;
  const uintptr_t reused = FakeBlock(first);
  g_registry_release(reused);
  const size_t remembered = g_registry_released_count();
  ASSERT_TRUE(g_registry_add(reused, {}));
  EXPECT_EQ(g_registry_released_count(), remembered - 1);
  g_registry_release(reused);
  // Pushing out the first release must not forget the second.
  for (size_t i = 1; i < G_RELEASED_MEMORY; ++i) g_registry_release(FakeBlock(first + i));
  g_block_record record;
  EXPECT_EQ(g_registry_find(reused, &record), g_block_state::RELEASED);
}

}  // namespace
