// File operations on a caller's memory buffer. The file name carries the
// buffer's address and capacity ("%p %d"). Offsets are kept relative to the
// buffer start and compared without ever forming an address past the capacity.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "picture/core/file_tables.h"

namespace {

struct MemoryFile {
  size_t dataLength;
  size_t capacity;
  uint8_t* start;
  size_t position;
  int error;
  bool reading;
};

MemoryFile* asMemory(void* stream) { return static_cast<MemoryFile*>(stream); }

// Per thread: after a save, the saved file's length, whatever other threads close.
thread_local long lengthAtLastClose = 0;

void* memoryOpen(const char* name, int mode) {
  void* address = nullptr;
  int capacity = 0;
  if (!name || std::sscanf(name, "%p %d", &address, &capacity) != 2) return nullptr;
  if (!address || capacity <= 0) return nullptr;
  auto* file = static_cast<MemoryFile*>(std::calloc(1, sizeof(MemoryFile)));
  if (!file) return nullptr;
  file->start = static_cast<uint8_t*>(address);
  file->capacity = size_t(capacity);
  file->reading = mode == PIC_BIN_READ;
  file->dataLength = file->reading ? file->capacity : 0;
  return file;
}

int memoryClose(void* stream) {
  lengthAtLastClose = long(asMemory(stream)->dataLength);
  std::free(stream);
  return 0;
}

long memorySize(void* stream) { return long(asMemory(stream)->dataLength); }

long memoryRead(void* stream, void* buffer, long n) {
  MemoryFile* file = asMemory(stream);
  file->error = 0;
  if (n < 0 || size_t(n) > file->dataLength - file->position) {
    file->error = 1;
    return 0;
  }
  std::memcpy(buffer, file->start + file->position, size_t(n));
  file->position += size_t(n);
  return n;
}

long memoryWrite(void* stream, const void* buffer, long n) {
  MemoryFile* file = asMemory(stream);
  file->error = 0;
  if (n < 0 || size_t(n) > file->capacity - file->position) {
    file->error = 1;
    return 0;
  }
  std::memcpy(file->start + file->position, buffer, size_t(n));
  file->position += size_t(n);
  if (file->position > file->dataLength) file->dataLength = file->position;
  return n;
}

// A position past the data's end makes the data reach it; the gap reads as
// zeros, as a disk file's hole does, not as what the buffer held before.
void extendToPosition(MemoryFile* file) {
  if (file->position <= file->dataLength) return;
  std::memset(file->start + file->dataLength, 0, file->position - file->dataLength);
  file->dataLength = file->position;
}

int memoryPrint(void* stream, const char* format, va_list args) {
  MemoryFile* file = asMemory(stream);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0 || size_t(length) > file->capacity - file->position) {
    file->error = 1;
    return 0;
  }
  // Formatted aside, since the terminating zero must not land in the caller's
  // buffer; with the C allocator, since nothing here may throw into a C caller.
  char shortText[256];
  char* text = size_t(length) < sizeof shortText
                   ? shortText
                   : static_cast<char*>(std::malloc(size_t(length) + 1));
  if (!text) {
    file->error = 1;
    return 0;
  }
  std::vsnprintf(text, size_t(length) + 1, format, args);
  const long written = memoryWrite(stream, text, length);
  if (text != shortText) std::free(text);
  return int(written);
}

int memoryError(void* stream) { return asMemory(stream)->error; }

// Moves to `target` (relative to the start) when it lies within the capacity.
bool moveTo(MemoryFile* file, long long target) {
  file->error = 0;
  if (target < 0 || static_cast<unsigned long long>(target) > file->capacity) {
    file->error = 1;
    return false;
  }
  file->position = size_t(target);
  return true;
}

int memorySeekSet(void* stream, long offset) {
  MemoryFile* file = asMemory(stream);
  if (moveTo(file, offset)) extendToPosition(file);
  return 0;
}

int memorySeekCur(void* stream, long offset) {
  MemoryFile* file = asMemory(stream);
  if (moveTo(file, static_cast<long long>(file->position) + offset)) extendToPosition(file);
  return 0;
}

int memorySeekEnd(void* stream, long offset) {
  MemoryFile* file = asMemory(stream);
  if (moveTo(file, static_cast<long long>(file->dataLength) + offset)) extendToPosition(file);
  return 0;
}

long memoryTell(void* stream) { return long(asMemory(stream)->position); }

int memoryEof(void* stream) {
  const MemoryFile* file = asMemory(stream);
  return file->position == file->dataLength ? 1 : 0;
}

}  // namespace

extern const picFileOps picMemoryFiles = {memoryOpen,    memoryClose,   memorySize,
                                          memoryRead,    memoryWrite,   memoryPrint,
                                          memoryError,   memorySeekSet, memorySeekCur,
                                          memorySeekEnd, memoryTell,    memoryEof};

int picMemoryFileName(char* name, size_t nameSize, void* buffer, int capacity) {
  const int length = std::snprintf(name, nameSize, "%p %d", buffer, capacity);
  return length > 0 && size_t(length) < nameSize ? length : -1;
}

long picMemoryFileLength(void) { return lengthAtLastClose; }

const uint8_t* picMemoryFileBytes(void* stream, long* length) {
  const MemoryFile* file = asMemory(stream);
  if (!file->reading) return nullptr;
  *length = long(file->dataLength);
  return file->start;
}
