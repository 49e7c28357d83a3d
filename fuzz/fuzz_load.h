// What the fuzz targets share: offering bytes, from a memory buffer, to the
// whole driver chain or to one driver directly (so that drivers tried earlier
// cannot hide it). Any status is fine; a crash, hang or leak is not.
#ifndef FUZZ_FUZZ_LOAD_H
#define FUZZ_FUZZ_LOAD_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/core/picture.h"

// Inputs above this size are skipped; larger pictures are described, not loaded.
const size_t fuzzMaxInput = size_t(1) << 24;
const int64_t fuzzMaxPixels = int64_t(1) << 22;

// A memory file holding a copy of the input, with the memory table installed
// (or the one given) for as long as it lives.
class MemoryInput {
 public:
  MemoryInput(const uint8_t* data, size_t size, void (*useTable)() = picUseMemoryFiles);
  ~MemoryInput();
  MemoryInput(const MemoryInput&) = delete;
  MemoryInput& operator=(const MemoryInput&) = delete;
  const char* name() const { return name_; }

 private:
  std::vector<uint8_t> bytes_;
  char name_[64];
};

// What reading a file gave: the first failing status (the open's, then
// PIC_ERR_READ from a map or line call), and everything stored.
struct FuzzRead {
  int status = PIC_ERR_FORMAT;
  int width = 0, height = 0, colourMode = 0, colours = 0;
  std::vector<uint8_t> planes[3];
  std::vector<int32_t> map;
  bool operator==(const FuzzRead& other) const;
};

// Opens `name` with the driver, reads the map and the lines (all of them, or
// half) into the rows the driver names, and closes; every driver call runs
// inside a FaultWindow. Pictures above fuzzMaxPixels are opened and closed only.
FuzzRead fuzzReadWithDriver(picDriver* driver, const char* name, bool wholeFile = true);

// The library's statuses: anything else from an operation is a fault.
bool fuzzIsStatus(int status);

// Describes, then loads as planes and as a colour map, as an application
// would, each call inside a FaultWindow; aborts on a status that is none.
void fuzzLoadThroughLibrary(const uint8_t* data, size_t size);
void fuzzLoadThroughLibrary(const char* name);

// fuzzReadWithDriver over the input; the last byte decides whether to stop
// half-way, so that closing a partly read file is exercised too.
void fuzzLoadWithDriver(picDriver* driver, const uint8_t* data, size_t size);

#endif
