// File operations on disk files. Writing goes through the buffered streams of
// the C library. Reading goes through the file descriptor and one read-ahead
// buffer per open file, filled by reads that grow to a large block: seeks inside it move
// no data, reads of a block or more go straight into the caller's memory, and
// drivers may decode the buffered bytes where they lie (picDiskPeek), as they
// decode a memory file. The size is asked of the system at each call, so a
// file that grows or is cut while it is read gives short reads, never stale ones.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "picture/core/file_tables.h"

namespace {

// Reads start small and double up to the largest block: finding a file's
// format opens it once per driver, and each look at a header should cost a
// few kilobytes, not a block. The largest block is large enough that a system
// call (costly here: a tenth of a load went to entering the kernel at 128 KB)
// moves many lines of any picture, small enough to stay in the processor's
// second-level cache while a driver walks it.
const int readBlockBytes = 512 * 1024;
const int firstReadBytes = 16 * 1024;
const int smallestBlock = 4096;

struct DiskStream {
  FILE* writer = nullptr;  // writing: stdio
  int fd = -1;             // reading: the descriptor, positioned at bufferStart + held
  std::unique_ptr<uint8_t[]> buffer;
  int capacity = 0;          // allocated at the first read, at most readBlockBytes
  int readSize = firstReadBytes;  // what the next refill asks of the system
  long sizeAtOpen = 0;       // sizes the buffer of a small file
  long bufferStart = 0;      // the file offset of buffer[0]
  int held = 0, next = 0;    // bytes in the buffer; the next one to hand out
  bool failed = false, ended = false;
  bool regular = false;  // a regular file, not a device or pipe

  long position() const { return bufferStart + next; }
};

DiskStream* asDisk(void* stream) { return static_cast<DiskStream*>(stream); }

// One read(2) of up to n bytes: the count, 0 at the end, -1 on an error.
long readOnce(DiskStream* disk, void* buffer, long n) {
  for (;;) {
    const ssize_t got = ::read(disk->fd, buffer, size_t(n));
    if (got >= 0) {
      if (got == 0) disk->ended = true;
      return long(got);
    }
    if (errno != EINTR) {
      disk->failed = true;
      return -1;
    }
  }
}

bool ensureBuffer(DiskStream* disk) {
  if (disk->buffer) return true;
  // The whole file when it is smaller: a look from anywhere in it then shows all it asks for.
  long wanted = disk->sizeAtOpen;
  wanted = wanted < smallestBlock ? smallestBlock : wanted > readBlockBytes ? readBlockBytes : wanted;
  disk->buffer.reset(new (std::nothrow) uint8_t[size_t(wanted)]);
  if (!disk->buffer) return disk->failed = true, false;
  disk->capacity = int(wanted);
  return true;
}

// Keeps the unread bytes at the buffer's start and reads until at least
// `wanted` (at most the capacity) are held, or the data ends.
void fill(DiskStream* disk, int wanted) {
  if (!ensureBuffer(disk)) return;
  if (wanted > disk->capacity) wanted = disk->capacity;
  if (disk->next > 0) {
    std::memmove(disk->buffer.get(), disk->buffer.get() + disk->next, size_t(disk->held - disk->next));
    disk->bufferStart += disk->next;
    disk->held -= disk->next;
    disk->next = 0;
  }
  while (disk->held < wanted) {
    int ask = disk->readSize > wanted - disk->held ? disk->readSize : wanted - disk->held;
    if (ask > disk->capacity - disk->held) ask = disk->capacity - disk->held;
    const long got = readOnce(disk, disk->buffer.get() + disk->held, ask);
    if (got <= 0) break;
    disk->held += int(got);
    if (disk->readSize < readBlockBytes && (disk->readSize *= 2) == readBlockBytes && disk->regular)
      ::posix_fadvise(disk->fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // a long read: more read-ahead when not cached
  }
}

void* diskOpen(const char* name, int mode) {
  if (!name) return nullptr;
  std::unique_ptr<DiskStream> disk(new (std::nothrow) DiskStream);
  if (!disk) return nullptr;
  if (mode != PIC_BIN_READ) {
    disk->writer = std::fopen(name, "wb");
    return disk->writer ? disk.release() : nullptr;
  }
  disk->fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (disk->fd < 0) return nullptr;
  struct stat status;
  if (::fstat(disk->fd, &status) == 0 && S_ISREG(status.st_mode)) {
    disk->sizeAtOpen = long(status.st_size);
    disk->regular = true;
  }
  return disk.release();
}

int diskClose(void* stream) {
  DiskStream* disk = asDisk(stream);
  const int result = disk->writer ? std::fclose(disk->writer) : ::close(disk->fd);
  delete disk;
  return result;
}

// The byte count; the position is left where it was.
long diskSize(void* stream) {
  DiskStream* disk = asDisk(stream);
  if (disk->writer) {
    FILE* file = disk->writer;
    const long position = std::ftell(file);
    if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(file);
    std::fseek(file, position, SEEK_SET);
    return end;
  }
  struct stat status;
  if (::fstat(disk->fd, &status) != 0) return -1;
  if (S_ISREG(status.st_mode)) return long(status.st_size);
  // A device: its end by a seek, then the descriptor back where it was.
  const off_t end = ::lseek(disk->fd, 0, SEEK_END);
  if (end < 0 || ::lseek(disk->fd, off_t(disk->bufferStart + disk->held), SEEK_SET) < 0) return -1;
  return long(end);
}

long diskRead(void* stream, void* buffer, long n) {
  DiskStream* disk = asDisk(stream);
  if (n <= 0 || disk->writer) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  long done = 0;
  while (done < n) {
    if (disk->next < disk->held) {
      const long shown = disk->held - disk->next < n - done ? disk->held - disk->next : n - done;
      std::memcpy(out + done, disk->buffer.get() + disk->next, size_t(shown));
      disk->next += int(shown);
      done += shown;
      continue;
    }
    if (n - done >= readBlockBytes) {
      // Straight into the caller's memory: the descriptor is at the position.
      disk->bufferStart = disk->position();
      disk->held = disk->next = 0;
      const long got = readOnce(disk, out + done, n - done);
      if (got <= 0) break;
      disk->bufferStart += got;
      done += got;
      continue;
    }
    fill(disk, 1);
    if (disk->next == disk->held) break;
  }
  return done;
}

long diskWrite(void* stream, const void* buffer, long n) {
  FILE* file = asDisk(stream)->writer;
  return n <= 0 || !file ? 0 : long(std::fwrite(buffer, 1, size_t(n), file));
}

int diskPrint(void* stream, const char* format, va_list args) {
  FILE* file = asDisk(stream)->writer;
  return file ? std::vfprintf(file, format, args) : -1;
}

int diskError(void* stream) {
  const DiskStream* disk = asDisk(stream);
  return disk->writer ? std::ferror(disk->writer) : disk->failed;
}

// A read seek inside the buffer moves no data; elsewhere the buffer is let go.
int seekTo(DiskStream* disk, long offset) {
  if (offset < 0) return -1;
  disk->ended = false;
  if (offset >= disk->bufferStart && offset <= disk->bufferStart + disk->held) {
    disk->next = int(offset - disk->bufferStart);
    return 0;
  }
  if (::lseek(disk->fd, off_t(offset), SEEK_SET) < 0) return -1;
  disk->bufferStart = offset;
  disk->held = disk->next = 0;
  return 0;
}

int diskSeekSet(void* stream, long offset) {
  DiskStream* disk = asDisk(stream);
  return disk->writer ? std::fseek(disk->writer, offset, SEEK_SET) : seekTo(disk, offset);
}
int diskSeekCur(void* stream, long offset) {
  DiskStream* disk = asDisk(stream);
  return disk->writer ? std::fseek(disk->writer, offset, SEEK_CUR) : seekTo(disk, disk->position() + offset);
}
int diskSeekEnd(void* stream, long offset) {
  DiskStream* disk = asDisk(stream);
  if (disk->writer) return std::fseek(disk->writer, offset, SEEK_END);
  const long size = diskSize(stream);
  return size < 0 ? -1 : seekTo(disk, size + offset);
}
long diskTell(void* stream) {
  const DiskStream* disk = asDisk(stream);
  return disk->writer ? std::ftell(disk->writer) : disk->position();
}
int diskEof(void* stream) {
  const DiskStream* disk = asDisk(stream);
  return disk->writer ? std::feof(disk->writer) : disk->ended && disk->next == disk->held;
}

}  // namespace

extern const picFileOps picDiskFiles = {diskOpen,    diskClose,   diskSize,    diskRead,
                                        diskWrite,   diskPrint,   diskError,   diskSeekSet,
                                        diskSeekCur, diskSeekEnd, diskTell,    diskEof};

int picDiskPeek(void* stream, int n, const uint8_t** bytes) {
  DiskStream* disk = asDisk(stream);
  if (disk->writer) return 0;
  if (disk->held - disk->next < n && !disk->failed) fill(disk, n);
  *bytes = disk->buffer.get() + disk->next;
  return disk->held - disk->next;
}
