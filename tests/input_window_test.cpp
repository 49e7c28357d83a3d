// The read-ahead window: the same bytes in place (memory files) and through
// its block (other streams) whatever the sizes asked, the stream left where
// the consumed bytes end, and the end of the data told apart from a read error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

struct Reading {
  std::vector<uint8_t> bytes;
  long endPosition = -1;
  bool ended = false, failed = false;
};

// Starting 3 bytes in: looks of growing sizes, consuming part of each, a skip, then reads to the end.
Reading readThrough(const char* name, int blockBytes) {
  Reading r;
  picBinFile* stream = picBinOpen(name, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!stream) return r;
  picBinSeekSet(stream, 3);
  picInputWindow window;
  EXPECT_TRUE(window.start(stream, blockBytes));
  for (int n = 1; n <= 16; n += 3) {  // no look larger than the smallest block
    const uint8_t* bytes;
    const int shown = window.look(n, &bytes);
    r.bytes.insert(r.bytes.end(), bytes, bytes + shown / 2);
    window.consume(shown / 2);
  }
  EXPECT_TRUE(window.skip(5));
  for (int c; (c = window.get()) >= 0;) r.bytes.push_back(uint8_t(c));
  r.ended = window.ended();
  r.failed = window.failed();
  window.release();
  r.endPosition = picBinTell(stream);
  picBinClose(stream);
  return r;
}

TEST(InputWindow, MemoryAndDiskStreamsShowTheSameBytes) {
  std::vector<uint8_t> file(5000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 31 + i / 256);
  const std::string path = writeTempFile("window.bin", file);
  std::vector<uint8_t> expected;
  size_t at = 3;
  for (int n = 1; n <= 16; n += 3) {  // no look larger than the smallest block
    expected.insert(expected.end(), file.begin() + long(at), file.begin() + long(at + size_t(n / 2)));
    at += size_t(n / 2);
  }
  expected.insert(expected.end(), file.begin() + long(at + 5), file.end());
  for (int blockBytes : {16, 100, 4096, 65536}) {
    const Reading disk = readThrough(path.c_str(), blockBytes);
    EXPECT_EQ(disk.bytes, expected) << blockBytes;
    EXPECT_TRUE(disk.ended && !disk.failed);
    EXPECT_EQ(disk.endPosition, long(file.size()));
  }
  char name[64];
  picMemoryFileName(name, sizeof name, file.data(), int(file.size()));
  picUseMemoryFiles();
  const Reading memory = readThrough(name, 16);
  picUseDiskFiles();
  EXPECT_EQ(memory.bytes, expected);
  EXPECT_TRUE(memory.ended && !memory.failed);
  EXPECT_EQ(memory.endPosition, long(file.size()));
}

// One mix of reads, seeks, in-place takes and window looks on a stream: what
// each gave, and the positions; a disk file must give what its memory copy gives.
std::vector<long> mixedReads(const char* name) {
  std::vector<long> seen;
  picBinFile* stream = picBinOpen(name, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!stream) return seen;
  bool windowInUse = false;  // the stream's position is the window's then
  auto note = [&](const uint8_t* bytes, long n) {
    seen.push_back(n);
    for (long i = 0; i < n; i += 997) seen.push_back(bytes[i]);
    if (n > 0) seen.push_back(bytes[n - 1]);
    seen.push_back(windowInUse ? -1 : picBinTell(stream));
  };
  std::vector<uint8_t> buffer(400000);
  // Small and large reads (past the read-ahead buffer: straight into the caller's memory), seeks back and far.
  for (long n : {1L, 7L, 4096L, 200000L, 3L, 140000L, 90000L}) note(buffer.data(), picBinRead(stream, buffer.data(), int(n)));
  picBinSeekSet(stream, 5);
  note(buffer.data(), picBinRead(stream, buffer.data(), 10));
  picBinSeekCur(stream, 150000);
  for (long n : {6000L, 70000L, 1L}) {  // in place from the buffer or the memory file, else null
    const uint8_t* taken = picBinTakeInPlace(stream, n);
    note(taken ? taken : buffer.data(), taken ? n : -1);
  }
  picInputWindow window;
  EXPECT_TRUE(window.start(stream, 32768));
  windowInUse = true;
  for (int n : {1, 5000, 32768, 20000}) {
    const uint8_t* bytes;
    const int shown = window.look(n, &bytes);
    note(bytes, std::min(shown, n));
    window.consume(std::min(shown, n) / 2);
  }
  EXPECT_TRUE(window.skip(100000));
  EXPECT_TRUE(window.read(buffer.data(), 1000));
  note(buffer.data(), 1000);
  seen.push_back(window.position());
  window.release();
  windowInUse = false;
  seen.push_back(picBinTell(stream));
  picBinSeekEnd(stream, -10);
  note(buffer.data(), picBinRead(stream, buffer.data(), 10));
  note(buffer.data(), picBinRead(stream, buffer.data(), 1));
  seen.push_back(picBinEOF(stream) != 0);
  picBinClose(stream);
  return seen;
}

TEST(InputWindow, DiskFilesReadLikeTheirMemoryCopiesPastTheReadAheadBuffer) {
  std::vector<uint8_t> file(600000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + i / 251);
  const std::string path = writeTempFile("window-mix.bin", file);
  char name[64];
  picMemoryFileName(name, sizeof name, file.data(), int(file.size()));
  picUseMemoryFiles();
  const std::vector<long> memory = mixedReads(name);
  picUseDiskFiles();
  ASSERT_FALSE(memory.empty());
  EXPECT_EQ(mixedReads(path.c_str()), memory);
}

// A small disk file first read near its end, then looked at from its start:
// the look shows all it asks for, and the data has not ended.
TEST(InputWindow, ASmallDiskFileReadBackFromItsStartShowsWholeLooks) {
  std::vector<uint8_t> file(20000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 13 + i / 509);
  const std::string path = writeTempFile("window-small.bin", file);
  picBinFile* stream = picBinOpen(path.c_str(), PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  ASSERT_NE(stream, nullptr);
  uint8_t tail[10];
  picBinSeekSet(stream, 15000);
  EXPECT_EQ(picBinRead(stream, tail, 10), 10);
  picBinSeekSet(stream, 0);
  picInputWindow window;
  ASSERT_TRUE(window.start(stream, 16384));
  const uint8_t* bytes;
  ASSERT_EQ(window.look(16384, &bytes), 16384);
  EXPECT_TRUE(std::equal(bytes, bytes + 16384, file.begin()));
  EXPECT_FALSE(window.ended());
  window.release();
  picBinClose(stream);
}

// A table whose reads fail after the first 40 bytes: an error, not the end.
long failingRead(void* stream, void* buffer, long n) {
  long* offset = static_cast<long*>(stream);
  if (*offset >= 40) return -1;
  std::memset(buffer, 'x', size_t(n));
  *offset += n;
  return n;
}
long offsetHeld = 0;
bool streamFailed = false;

TEST(InputWindow, AReadErrorIsNotTheEndOfTheData) {
  picFileOps ops = {};
  ops.open = [](const char*, int) -> void* { return offsetHeld = 0, streamFailed = false, &offsetHeld; };
  ops.close = [](void*) { return 0; };
  ops.size = [](void*) -> long { return 1000; };
  ops.read = [](void* stream, void* buffer, long n) -> long {
    const long got = failingRead(stream, buffer, n);
    streamFailed = got < 0;
    return got < 0 ? 0 : got;
  };
  ops.error = [](void*) { return streamFailed ? 1 : 0; };
  ops.tell = [](void* stream) -> long { return *static_cast<long*>(stream); };
  ops.seekSet = [](void* stream, long offset) { return *static_cast<long*>(stream) = offset, 0; };
  picSetFileOps(&ops);
  picBinFile* stream = picBinOpen("any", PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  ASSERT_NE(stream, nullptr);
  picInputWindow window;
  ASSERT_TRUE(window.start(stream, 16));
  std::vector<uint8_t> bytes(100);
  EXPECT_FALSE(window.read(bytes.data(), 100));
  EXPECT_TRUE(window.failed());
  EXPECT_FALSE(window.ended());
  picBinClose(stream);
  picUseDiskFiles();
}

}  // namespace
