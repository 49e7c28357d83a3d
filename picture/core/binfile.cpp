// Byte-order-aware streams over the current table of file operations.
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "picture/core/file_tables.h"
#include "picture/core/picture.h"

namespace {

picFileOps currentOps = picDiskFileOps();
int machineByteOrder = -1;

bool needsSwap(const picBinFile* file) { return file->byteOrder != machineByteOrder; }

void swapWords(void* buffer, int count, int size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (int i = 0; i < count; ++i, bytes += size)
    for (int a = 0, b = size - 1; a < b; ++a, --b) std::swap(bytes[a], bytes[b]);
}

// count * size as a byte count, or -1 when it does not fit an int.
long wordBytes(int count, int size) {
  if (count <= 0) return 0;
  if (count > INT_MAX / size) return -1;
  return long(count) * size;
}

int readWords(picBinFile* file, void* buffer, int count, int size) {
  if (file->mode != PIC_BIN_READ) return 0;
  const long bytes = wordBytes(count, size);
  if (bytes <= 0) return 0;
  const long got = currentOps.read(file->stream, buffer, bytes);
  if (needsSwap(file)) swapWords(buffer, count, size);
  return got <= 0 ? 0 : int(static_cast<unsigned long>(got) / unsigned(size));
}

int writeWords(picBinFile* file, void* buffer, int count, int size) {
  if (file->mode != PIC_BIN_WRITE) return 0;
  const long bytes = wordBytes(count, size);
  if (bytes <= 0) return 0;
  if (needsSwap(file)) swapWords(buffer, count, size);
  const long put = currentOps.write(file->stream, buffer, bytes);
  return put <= 0 ? 0 : int(static_cast<unsigned long>(put) / unsigned(size));
}

}  // namespace

void picSetFileOps(const picFileOps* ops) {
  if (ops) currentOps = *ops;
}
void picUseDiskFiles(void) { currentOps = picDiskFileOps(); }
void picUseMemoryFiles(void) { currentOps = picMemoryFileOps(); }

int picHostByteOrder(void) {
  const uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1 ? PIC_LITTLE_ENDIAN : PIC_BIG_ENDIAN;
}

void picSwap16(void* buffer, int count) { swapWords(buffer, count, 2); }
void picSwap32(void* buffer, int count) { swapWords(buffer, count, 4); }
void picSwap64(void* buffer, int count) { swapWords(buffer, count, 8); }

picBinFile* picBinOpen(const char* name, int mode, int byteOrder) {
  if (machineByteOrder == -1) machineByteOrder = picHostByteOrder();
  auto* file = static_cast<picBinFile*>(std::malloc(sizeof(picBinFile)));
  if (!file) return nullptr;
  file->stream = currentOps.open(name, mode);
  if (!file->stream) {
    std::free(file);
    return nullptr;
  }
  file->mode = mode;
  file->byteOrder = byteOrder;
  return file;
}

void picBinClose(picBinFile* file) {
  if (!file) return;
  currentOps.close(file->stream);
  std::free(file);
}

long picBinSize(picBinFile* file) { return currentOps.size(file->stream); }

int picBinRead(picBinFile* file, void* buffer, int n) {
  if (file->mode != PIC_BIN_READ || n <= 0) return 0;
  return int(currentOps.read(file->stream, buffer, n));
}

int picBinRead16(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 2); }
int picBinRead32(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 4); }
int picBinRead64(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 8); }

int picBinWrite(picBinFile* file, const void* buffer, int n) {
  if (file->mode != PIC_BIN_WRITE || n <= 0) return 0;
  return int(currentOps.write(file->stream, buffer, n));
}

int picBinWrite16(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 2); }
int picBinWrite32(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 4); }
int picBinWrite64(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 8); }

int picBinPrintf(picBinFile* file, const char* format, ...) {
  if (file->mode != PIC_BIN_WRITE) return 0;
  va_list args;
  va_start(args, format);
  const int written = currentOps.print(file->stream, format, args);
  va_end(args);
  return written;
}

int picBinError(picBinFile* file) { return currentOps.error(file->stream); }
int picBinSeekSet(picBinFile* file, int offset) { return currentOps.seekSet(file->stream, offset); }
int picBinSeekCur(picBinFile* file, int offset) { return currentOps.seekCur(file->stream, offset); }
int picBinSeekEnd(picBinFile* file, int offset) { return currentOps.seekEnd(file->stream, offset); }
long picBinTell(picBinFile* file) { return currentOps.tell(file->stream); }
int picBinEOF(picBinFile* file) { return currentOps.eof(file->stream); }

int picBinReadAvailable(picBinFile* file, void* buffer, int n) {
  if (file->mode != PIC_BIN_READ || n <= 0) return 0;
  const long size = picBinSize(file);
  const long position = picBinTell(file);
  if (size < 0 || position < 0 || position >= size) return 0;
  const long remaining = size - position;
  return picBinRead(file, buffer, remaining < n ? int(remaining) : n);
}
