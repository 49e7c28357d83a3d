/* Guarded allocator of typed arrays of one to four dimensions with free
 * index bounds per dimension.
 *
 * An array of kind k has k + 1 levels. The last level holds the elements
 * (tamElem bytes each); every other level holds pointers to the next one.
 * Level 1 lives inside one block that carries a header and two guards:
 *
 *   offset  0  uint32 reserved      (zero, never read)
 *   offset  4  int32  kind          (VECTOR .. QUADMATRIX)
 *   offset  8  int32  tamElem       (element size of the last level)
 *   offset 12  uint32 low1, high1, low2, high2, low3, high3, low4, high4
 *   offset 44  12 bytes of padding  (zero)
 *   offset 56  void*  headGuard     (the block's own address)
 *   offset 64  data area: N1 entries of level 1
 *   then       void*  tailGuard     (the block's own address, unaligned
 *                                    when N1 * entry size is not a
 *                                    multiple of 8; read as raw bytes)
 *
 * The header takes 64 bytes so that the data area keeps the heap's 16-byte
 * alignment, good for any element type. Lower levels are separate
 * zero-filled arrays without header or guards. Every stored pointer (and
 * the array pointer returned to callers) is its array's start minus the
 * lower bound times the entry size, so p[low1][low2]... is the first
 * element. The operations that take an existing array want the address of
 * its first level-1 entry, which for a zero-based first dimension (every
 * array made by g_new_array) is the array pointer itself.
 *
 * Every failure is reported on standard error and, except for a failed
 * block allocation (a warning and a null result), ends the process through
 * abort(). Not thread-safe: one check at a time, on one thread. */
#ifndef SOLSYS_NRUTIL_H
#define SOLSYS_NRUTIL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define G_NORETURN __attribute__((noreturn))
#else
#define G_NORETURN
#endif

enum { VECTOR = 0, MATRIX = 1, TRIMATRIX = 2, QUADMATRIX = 3 };

/* Allocates a zero-filled array; after kind come two uint32_t bounds per
 * dimension (low1, high1, low2, high2, ...). Counts are high - low + 1 in
 * 32 bits, so high = low - 1 is an empty dimension; a range running
 * backwards, or a size that does not fit, fails like the allocation of its
 * level. Returns the array pointer, or null (after a warning) when the
 * block itself cannot be made. A kind outside VECTOR..QUADMATRIX gives
 * null. */
void* g_alloc(int tamElem, int kind, ...);

/* Gives the array new bounds in every dimension (two uint32_t per dimension
 * as for g_alloc), keeping entries by position. Takes the address of the
 * first level-1 entry; returns the new array pointer. Old pointers into the
 * array are invalid afterwards. A kind outside VECTOR..QUADMATRIX changes
 * nothing and gives the address back unchanged. */
void* g_realloc(void* array, int kind, ...);

/* Checks and releases an array, every lower level included. Takes the
 * address of the first level-1 entry. */
void g_free_array(void* array, int kind, const char* file, int line, const char* date,
                  const char* time);

/* Makes a zero-based array after checking that every count the kind uses
 * is positive; the counts the kind does not use are ignored. */
void* g_new_array(int tamElem, int kind, uint32_t nElemsx, uint32_t nElemsy, uint32_t nElemsz,
                  uint32_t nElemst, const char* file, int line, const char* date, const char* time);

/* Integrity check of a live array of the expected kind (address of its
 * first level-1 entry). Returns 0; on any fault it reports and aborts. */
int getINFOALLOC(void* array, int kind, const char* file, int line, const char* date,
                 const char* time);

/* "VECTOR" .. "QUADMATRIX", or "UNDEFINED" for any other value. */
const char* kindName(int kind);

/* "\nmsgErro: <message>\n\n" on standard error; g_fatal then aborts. */
void g_warning(const char* message);
G_NORETURN void g_fatal(const char* message);

/* The heading and the source line of an allocator failure report. */
void g_report_location(const char* file, int line, const char* date, const char* time);

/* SIGSEGV and SIGBUS handler used while a check reads a header; jumps back
 * into it. The previous handlers are back before any report is written. */
void g_intalloc(int signalNumber);

#define G_NEW_ARRAY(tamElem, kind, nElemsx, nElemsy, nElemsz, nElemst)                           \
  g_new_array((tamElem), (kind), (nElemsx), (nElemsy), (nElemsz), (nElemst), __FILE__, __LINE__, \
              __DATE__, __TIME__)
#define G_FREE_ARRAY(array, kind) \
  g_free_array((array), (kind), __FILE__, __LINE__, __DATE__, __TIME__)
#define G_INFOALLOC(array, kind) \
  getINFOALLOC((array), (kind), __FILE__, __LINE__, __DATE__, __TIME__)

#ifdef __cplusplus
}
#endif

#endif
