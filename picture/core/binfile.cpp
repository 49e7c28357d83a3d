// Byte-order-aware streams over the current table of file operations.
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "picture/core/file_tables.h"
#include "picture/core/picture.h"

namespace {

// Each thread chooses its own table (a new thread starts on disk files); a
// pointer to a table defined elsewhere is a constant, valid from the first
// instruction, before any initialiser of any file has run.
thread_local picFileOps installedOps = {};  // this thread's picSetFileOps copy
thread_local const picFileOps* currentTable = &picDiskFiles;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr int machineByteOrder = PIC_BIG_ENDIAN;
#else
constexpr int machineByteOrder = PIC_LITTLE_ENDIAN;
#endif

// What the layer keeps beside the caller's record: the table the stream was
// opened with (a thread may choose another meanwhile), and whether some byte
// given to a writing stream did not reach it. Kept here because the memory
// table clears its error flag at every call, and drivers do not test each transfer.
struct BinStream {
  picBinFile file;  // first, so that a picBinFile* is the address of a BinStream
  picFileOps ops;
  bool memory;      // opened through the memory table
  bool disk;        // opened through the disk table (its read-ahead buffer can be shown)
  bool lost;
};

BinStream* streamOf(picBinFile* file) { return reinterpret_cast<BinStream*>(file); }

const picFileOps& opsOf(picBinFile* file) { return streamOf(file)->ops; }

// Notes a writing stream's failed transfer (short count or error indicator).
void noteTransfer(picBinFile* file, bool complete) {
  if (file->mode == PIC_BIN_WRITE && (!complete || opsOf(file).error(file->stream)))
    streamOf(file)->lost = true;
}

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
  const long got = opsOf(file).read(file->stream, buffer, bytes);
  if (needsSwap(file)) swapWords(buffer, count, size);
  return got <= 0 ? 0 : int(static_cast<unsigned long>(got) / unsigned(size));
}

int writeWords(picBinFile* file, void* buffer, int count, int size) {
  if (file->mode != PIC_BIN_WRITE) return 0;
  const long bytes = wordBytes(count, size);
  if (bytes <= 0) return 0;
  if (needsSwap(file)) swapWords(buffer, count, size);
  const long put = opsOf(file).write(file->stream, buffer, bytes);
  noteTransfer(file, put == bytes);
  return put <= 0 ? 0 : int(static_cast<unsigned long>(put) / unsigned(size));
}

}  // namespace

void picSetFileOps(const picFileOps* table) {
  if (!table) return;
  installedOps = *table;
  currentTable = &installedOps;
}
void picUseDiskFiles(void) { currentTable = &picDiskFiles; }
void picUseMemoryFiles(void) { currentTable = &picMemoryFiles; }

int picHostByteOrder(void) { return machineByteOrder; }

void picSwap16(void* buffer, int count) { swapWords(buffer, count, 2); }
void picSwap32(void* buffer, int count) { swapWords(buffer, count, 4); }
void picSwap64(void* buffer, int count) { swapWords(buffer, count, 8); }

picBinFile* picBinOpen(const char* name, int mode, int byteOrder) {
  auto* stream = static_cast<BinStream*>(std::malloc(sizeof(BinStream)));
  if (!stream) return nullptr;
  stream->ops = *currentTable;
  stream->memory = currentTable == &picMemoryFiles;
  stream->disk = currentTable->read == picDiskFiles.read;
  picBinFile* file = &stream->file;
  file->stream = stream->ops.open(name, mode);
  if (!file->stream) {
    std::free(stream);
    return nullptr;
  }
  file->mode = mode;
  file->byteOrder = byteOrder;
  stream->lost = false;
  return file;
}

int picBinClose(picBinFile* file) {
  if (!file) return PIC_OK;
  const bool writing = file->mode == PIC_BIN_WRITE;
  // Buffered bytes reach the file only now: the close can be the first to fail.
  bool failed = writing && (streamOf(file)->lost || opsOf(file).error(file->stream));
  if (opsOf(file).close(file->stream) != 0) failed = true;
  std::free(streamOf(file));
  if (!failed) return PIC_OK;
  return writing ? PIC_ERR_WRITE : PIC_ERR_READ;
}

long picBinSize(picBinFile* file) { return opsOf(file).size(file->stream); }

int picBinRead(picBinFile* file, void* buffer, int n) {
  if (file->mode != PIC_BIN_READ || n <= 0) return 0;
  return int(opsOf(file).read(file->stream, buffer, n));
}

int picBinRead16(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 2); }
int picBinRead32(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 4); }
int picBinRead64(picBinFile* file, void* buffer, int count) { return readWords(file, buffer, count, 8); }

int picBinWrite(picBinFile* file, const void* buffer, int n) {
  if (file->mode != PIC_BIN_WRITE || n <= 0) return 0;
  const long put = opsOf(file).write(file->stream, buffer, n);
  noteTransfer(file, put == n);
  return int(put);
}

int picBinWrite16(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 2); }
int picBinWrite32(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 4); }
int picBinWrite64(picBinFile* file, void* buffer, int count) { return writeWords(file, buffer, count, 8); }

int picBinPrintf(picBinFile* file, const char* format, ...) {
  if (file->mode != PIC_BIN_WRITE) return 0;
  va_list args;
  va_start(args, format);
  const int written = opsOf(file).print(file->stream, format, args);
  va_end(args);
  noteTransfer(file, written >= 0);
  return written;
}

int picBinError(picBinFile* file) { return opsOf(file).error(file->stream); }
// A writing stream's seek can flush buffered bytes, so its failure counts too.
int picBinSeekSet(picBinFile* file, int offset) {
  const int result = opsOf(file).seekSet(file->stream, offset);
  noteTransfer(file, result == 0);
  return result;
}
int picBinSeekCur(picBinFile* file, int offset) {
  const int result = opsOf(file).seekCur(file->stream, offset);
  noteTransfer(file, result == 0);
  return result;
}
int picBinSeekEnd(picBinFile* file, int offset) {
  const int result = opsOf(file).seekEnd(file->stream, offset);
  noteTransfer(file, result == 0);
  return result;
}
long picBinTell(picBinFile* file) { return opsOf(file).tell(file->stream); }
int picBinEOF(picBinFile* file) { return opsOf(file).eof(file->stream); }

int picBinReadAvailable(picBinFile* file, void* buffer, int n) {
  if (file->mode != PIC_BIN_READ || n <= 0) return 0;
  const long size = picBinSize(file);
  const long position = picBinTell(file);
  if (size < 0 || position < 0 || position >= size) return 0;
  const long remaining = size - position;
  return picBinRead(file, buffer, remaining < n ? int(remaining) : n);
}

const uint8_t* picBinMemoryBytes(picBinFile* file, long* size) {
  if (!streamOf(file)->memory || file->mode != PIC_BIN_READ) return nullptr;
  return picMemoryFileBytes(file->stream, size);
}

int picBinPeek(picBinFile* file, int n, const uint8_t** bytes) {
  if (!streamOf(file)->disk || file->mode != PIC_BIN_READ) return 0;
  return picDiskPeek(file->stream, n, bytes);
}

const uint8_t* picBinTakeInPlace(picBinFile* file, long n) {
  if (streamOf(file)->disk) {
    const uint8_t* bytes = nullptr;
    if (n < 0 || n > INT_MAX || picBinPeek(file, int(n), &bytes) < n) return nullptr;
    picBinSeekCur(file, int(n));  // inside the buffer: the bytes stay where they are
    return bytes;
  }
  long size = 0;
  const uint8_t* bytes = picBinMemoryBytes(file, &size);
  const long position = bytes ? picBinTell(file) : -1;
  if (position < 0 || position > size || n < 0 || size - position < n ||
      picBinSeekCur(file, int(n)) != 0)
    return nullptr;
  return bytes + position;
}
