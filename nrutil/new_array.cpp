// g_new_array: the caller-side allocation that refuses zero counts and
// reports them with the caller's location.
#include "nrutil/block.h"
#include "nrutil/report.h"

extern "C" void* g_new_array(int tamElem, int kind, uint32_t nElemsx, uint32_t nElemsy,
                             uint32_t nElemsz, uint32_t nElemst, const char* file, int line,
                             const char* date, const char* time) {
  const uint32_t counts[] = {nElemsx, nElemsy, nElemsz, nElemst};
  const char* const names[] = {"nElemsx", "nElemsy", "nElemsz", "nElemst"};
  const int dimensions = g_kind_valid(kind) ? kind + 1 : 1;
  for (int dimension = 0; dimension < dimensions; ++dimension)
    if (counts[dimension] == 0)
      g_fail(file, line, date, time, "%s:%s-Invalid %s=%lu ", file, kindName(kind),
             names[dimension], static_cast<unsigned long>(counts[dimension]));

  switch (kind) {
    case VECTOR: return g_alloc(tamElem, kind, 0u, nElemsx - 1);
    case MATRIX: return g_alloc(tamElem, kind, 0u, nElemsx - 1, 0u, nElemsy - 1);
    case TRIMATRIX:
      return g_alloc(tamElem, kind, 0u, nElemsx - 1, 0u, nElemsy - 1, 0u, nElemsz - 1);
    case QUADMATRIX:
      return g_alloc(tamElem, kind, 0u, nElemsx - 1, 0u, nElemsy - 1, 0u, nElemsz - 1, 0u,
                     nElemst - 1);
    default: return g_alloc(tamElem, kind);
  }
}
