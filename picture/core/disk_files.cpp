// File operations on disk files, through the buffered streams of the C library.
#include <cstdio>

#include "picture/core/file_tables.h"

namespace {

FILE* asFile(void* stream) { return static_cast<FILE*>(stream); }

void* diskOpen(const char* name, int mode) {
  if (!name) return nullptr;
  return std::fopen(name, mode == PIC_BIN_READ ? "rb" : "wb");
}

int diskClose(void* stream) { return std::fclose(asFile(stream)); }

// The byte count; the position is left where it was.
long diskSize(void* stream) {
  FILE* file = asFile(stream);
  const long position = std::ftell(file);
  if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(file);
  std::fseek(file, position, SEEK_SET);
  return end;
}

long diskRead(void* stream, void* buffer, long n) {
  return n <= 0 ? 0 : long(std::fread(buffer, 1, size_t(n), asFile(stream)));
}

long diskWrite(void* stream, const void* buffer, long n) {
  return n <= 0 ? 0 : long(std::fwrite(buffer, 1, size_t(n), asFile(stream)));
}

int diskPrint(void* stream, const char* format, va_list args) {
  return std::vfprintf(asFile(stream), format, args);
}

int diskError(void* stream) { return std::ferror(asFile(stream)); }
int diskSeekSet(void* stream, long offset) { return std::fseek(asFile(stream), offset, SEEK_SET); }
int diskSeekCur(void* stream, long offset) { return std::fseek(asFile(stream), offset, SEEK_CUR); }
int diskSeekEnd(void* stream, long offset) { return std::fseek(asFile(stream), offset, SEEK_END); }
long diskTell(void* stream) { return std::ftell(asFile(stream)); }
int diskEof(void* stream) { return std::feof(asFile(stream)); }

}  // namespace

extern const picFileOps picDiskFiles = {diskOpen,    diskClose,   diskSize,    diskRead,
                                        diskWrite,   diskPrint,   diskError,   diskSeekSet,
                                        diskSeekCur, diskSeekEnd, diskTell,    diskEof};
