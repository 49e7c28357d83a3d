// The binary file layer: byte orders, word swaps, wrong-mode refusals, the disk
// table, and memory streams at their limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"
#include "support/image_peer.h"

namespace {

std::string memoryName(void* buffer, int capacity) {
  char name[64];
  EXPECT_GT(picMemoryFileName(name, sizeof name, buffer, capacity), 0);
  return name;
}

// Runs the body with the memory table installed, then puts disk files back.
struct MemoryFiles {
  MemoryFiles() { picUseMemoryFiles(); }
  ~MemoryFiles() { picUseDiskFiles(); }
};

TEST(BinFile, WordsFollowTheFilesByteOrder) {
  ASSERT_EQ(picHostByteOrder(), PIC_LITTLE_ENDIAN);
  uint8_t bytes[8] = {0x59, 0xa6, 0x6a, 0x95, 0x01, 0x02, 0x03, 0x04};
  const std::string name = memoryName(bytes, sizeof bytes);
  MemoryFiles memory;
  struct Case {
    int byteOrder;
    uint32_t first;
    uint16_t firstHalf;
  };
  for (const Case& c : {Case{PIC_BIG_ENDIAN, 0x59a66a95u, 0x59a6}, Case{PIC_LITTLE_ENDIAN, 0x956aa659u, 0xa659}}) {
    picBinFile* file = picBinOpen(name.c_str(), PIC_BIN_READ, c.byteOrder);
    ASSERT_NE(file, nullptr);
    uint32_t words[2];
    EXPECT_EQ(picBinRead32(file, words, 2), 2);
    EXPECT_EQ(words[0], c.first);
    picBinSeekSet(file, 0);
    uint16_t half;
    EXPECT_EQ(picBinRead16(file, &half, 1), 1);
    EXPECT_EQ(half, c.firstHalf);
    uint64_t big;
    picBinSeekSet(file, 0);
    EXPECT_EQ(picBinRead64(file, &big, 1), 1);
    EXPECT_EQ(big >> 56, c.byteOrder == PIC_BIG_ENDIAN ? 0x59u : 0x04u);
    picBinClose(file);
  }
}

TEST(BinFile, WritesSwapTheCallersWordsInPlace) {
  uint8_t bytes[16] = {};
  const std::string name = memoryName(bytes, sizeof bytes);
  MemoryFiles memory;
  picBinFile* file = picBinOpen(name.c_str(), PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  ASSERT_NE(file, nullptr);
  uint16_t word = 0x01da;
  EXPECT_EQ(picBinWrite16(file, &word, 1), 1);
  EXPECT_EQ(word, 0xda01);  // left swapped
  uint32_t longWord = 0x11223344;
  EXPECT_EQ(picBinWrite32(file, &longWord, 1), 1);
  picBinClose(file);
  EXPECT_EQ(picMemoryFileLength(), 6);
  const uint8_t expected[] = {0x01, 0xda, 0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof expected));

  uint32_t swapped[2] = {0x01020304, 0x0a0b0c0d};
  picSwap32(swapped, 2);
  EXPECT_EQ(swapped[1], 0x0d0c0b0au);
  uint64_t wide = 0x0102030405060708ull;
  picSwap64(&wide, 1);
  EXPECT_EQ(wide, 0x0807060504030201ull);
}

TEST(BinFile, StreamsRefuseTheWrongDirection) {
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::string name = memoryName(bytes, sizeof bytes);
  MemoryFiles memory;
  picBinFile* writer = picBinOpen(name.c_str(), PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  uint8_t into[4] = {};
  EXPECT_EQ(picBinRead(writer, into, 4), 0);
  EXPECT_EQ(picBinRead32(writer, into, 1), 0);
  EXPECT_EQ(into[0], 0);
  picBinClose(writer);
  picBinFile* reader = picBinOpen(name.c_str(), PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  EXPECT_EQ(picBinWrite(reader, into, 4), 0);
  EXPECT_EQ(picBinWrite16(reader, into, 1), 0);
  EXPECT_EQ(picBinPrintf(reader, "%d", 5), 0);
  EXPECT_EQ(bytes[0], 1);
  picBinClose(reader);
}

TEST(BinFile, MemoryReadsAreWholeOrNothing) {
  uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::string name = memoryName(bytes, sizeof bytes);
  MemoryFiles memory;
  EXPECT_EQ(picBinOpen(memoryName(bytes, 0).c_str(), PIC_BIN_READ, 0), nullptr);
  EXPECT_EQ(picBinOpen("(nil) 10", PIC_BIN_READ, 0), nullptr);
  EXPECT_EQ(picBinOpen("not a buffer", PIC_BIN_READ, 0), nullptr);

  picBinFile* file = picBinOpen(name.c_str(), PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  ASSERT_NE(file, nullptr);
  uint8_t chunk[4];
  EXPECT_EQ(picBinRead(file, chunk, 4), 4);
  EXPECT_EQ(picBinRead(file, chunk, 4), 4);
  EXPECT_EQ(chunk[3], 7);
  EXPECT_EQ(picBinRead(file, chunk, 4), 0);
  EXPECT_NE(picBinError(file), 0);
  EXPECT_EQ(picBinTell(file), 8);
  EXPECT_EQ(picBinEOF(file), 0);
  EXPECT_EQ(picBinReadAvailable(file, chunk, 4), 2);
  EXPECT_EQ(chunk[1], 9);
  EXPECT_EQ(picBinEOF(file), 1);
  EXPECT_EQ(picBinSize(file), 10);
  picBinClose(file);
}

TEST(BinFile, MemoryWritesAndSeeksStayWithinTheCapacity) {
  uint8_t bytes[8] = {};
  const std::string name = memoryName(bytes, sizeof bytes);
  MemoryFiles memory;
  picBinFile* file = picBinOpen(name.c_str(), PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  EXPECT_EQ(picBinPrintf(file, "%s", "abcdefghi"), 0);  // 9 characters do not fit
  EXPECT_NE(picBinError(file), 0);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(picBinPrintf(file, "%d", 12345), 5);
  EXPECT_EQ(picBinWrite(file, "xyz", 3), 3);
  EXPECT_EQ(picBinWrite(file, "!", 1), 0);  // full
  EXPECT_NE(picBinError(file), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), "12345xyz");

  picBinSeekSet(file, 9);
  EXPECT_NE(picBinError(file), 0);
  EXPECT_EQ(picBinTell(file), 8);
  picBinSeekCur(file, -100);
  EXPECT_NE(picBinError(file), 0);
  picBinSeekEnd(file, -3);
  EXPECT_EQ(picBinError(file), 0);
  EXPECT_EQ(picBinTell(file), 5);
  picBinSeekCur(file, 0x7fffffff);
  EXPECT_NE(picBinError(file), 0);
  EXPECT_EQ(picBinTell(file), 5);
  picBinClose(file);
  EXPECT_EQ(picMemoryFileLength(), 8);

  // A seek past the written data raises the data length; the gap reads as
  // zeros, as on disk, whatever the buffer held before.
  uint8_t more[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  picBinFile* second = picBinOpen(memoryName(more, 8).c_str(), PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  picBinWrite(second, "a", 1);
  picBinSeekSet(second, 6);
  EXPECT_EQ(picBinSize(second), 6);
  picBinWrite(second, "b", 1);
  picBinClose(second);
  EXPECT_EQ(std::vector<uint8_t>(more, more + 8), (std::vector<uint8_t>{'a', 0, 0, 0, 0, 0, 'b', 9}));
}

// A writing stream's close says whether every byte given to it arrived, even
// when a later call cleared the error indicator or the bytes sat in a buffer.
TEST(BinFile, CloseSaysWhetherEveryWrittenByteArrived) {
  uint8_t bytes[4] = {};
  const std::string name = memoryName(bytes, sizeof bytes);
  struct Case {
    const char* what;
    bool memory;
    void (*transfers)(picBinFile*);
    int status;
  };
  const Case cases[] = {
      {"fits", true, [](picBinFile* f) { picBinWrite(f, "abcd", 4); }, PIC_OK},
      {"write past the end, then a seek", true,
       [](picBinFile* f) { picBinWrite(f, "abcde", 5); picBinSeekSet(f, 0); }, PIC_ERR_WRITE},
      {"print past the end, then a write", true,
       [](picBinFile* f) { picBinPrintf(f, "%s", "abcde"); picBinWrite(f, "a", 1); }, PIC_ERR_WRITE},
      {"seek past the end", true, [](picBinFile* f) { picBinSeekSet(f, 5); }, PIC_ERR_WRITE},
      {"buffered bytes to a full disk", false, [](picBinFile* f) { picBinWrite(f, "abcd", 4); },
       PIC_ERR_WRITE},
  };
  for (const Case& c : cases) {
    if (c.memory) picUseMemoryFiles();
    picBinFile* file = picBinOpen(c.memory ? name.c_str() : "/dev/full", PIC_BIN_WRITE, 0);
    ASSERT_NE(file, nullptr) << c.what;
    c.transfers(file);
    EXPECT_EQ(c.status, picBinClose(file)) << c.what;
    picUseDiskFiles();
  }
  MemoryFiles memory;
  picBinFile* reading = picBinOpen(name.c_str(), PIC_BIN_READ, 0);
  uint8_t five[5];
  EXPECT_EQ(0, picBinRead(reading, five, 5));  // a failed read is the reader's to report
  EXPECT_EQ(PIC_OK, picBinClose(reading));
  EXPECT_EQ(PIC_OK, picBinClose(nullptr));
}

TEST(BinFile, MemoryPrintFillsTheCapacityExactlyAndNoFurther) {
  // Texts short and long (formatted aside in different ways), each exactly the
  // capacity; the byte behind the capacity must keep its value.
  for (int capacity : {5, 255, 256, 300}) {
    std::vector<uint8_t> bytes(size_t(capacity) + 1, 0xa5);
    const std::string name = memoryName(bytes.data(), capacity);
    MemoryFiles memory;
    picBinFile* file = picBinOpen(name.c_str(), PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(picBinPrintf(file, "%*d", capacity + 1, 7), 0) << capacity;
    EXPECT_EQ(picBinPrintf(file, "%*d", capacity, 7), capacity) << capacity;
    EXPECT_EQ(picBinError(file), 0);
    EXPECT_EQ(picBinPrintf(file, "%d", 1), 0);
    picBinClose(file);
    EXPECT_EQ(picMemoryFileLength(), capacity);
    EXPECT_EQ(bytes[size_t(capacity) - 1], '7');
    EXPECT_EQ(bytes[size_t(capacity) - 2], ' ');
    EXPECT_EQ(bytes[size_t(capacity)], 0xa5) << capacity;
  }
}

TEST(BinFile, DiskSizeIsTheByteCountAndKeepsThePosition) {
  const std::string path = tempPath("hundred.bin");
  ASSERT_TRUE(writeFileBytes(path, std::vector<uint8_t>(100, 7)));
  picBinFile* file = picBinOpen(path.c_str(), PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  ASSERT_NE(file, nullptr);
  uint8_t chunk[64];
  EXPECT_EQ(picBinRead(file, chunk, 30), 30);
  EXPECT_EQ(picBinSize(file), 100);
  EXPECT_EQ(picBinTell(file), 30);
  EXPECT_EQ(picBinRead(file, chunk, 64), 64);
  EXPECT_EQ(picBinRead(file, chunk, 64), 6);  // disk reads may be short
  EXPECT_NE(picBinEOF(file), 0);
  picBinClose(file);
  EXPECT_EQ(picBinOpen("/no/such/dir/file", PIC_BIN_READ, 0), nullptr);
}

// An application table that counts the calls going through it.
int opens = 0;
void* countingOpen(const char*, int) {
  ++opens;
  return nullptr;
}

TEST(BinFile, AnApplicationTableRedirectsEveryStream) {
  picFileOps ops{};
  ops.open = countingOpen;
  picSetFileOps(&ops);
  EXPECT_EQ(picBinOpen("anything", PIC_BIN_READ, 0), nullptr);
  int width;
  EXPECT_EQ(picImageInfo("anything", &width, nullptr, nullptr, nullptr), PIC_ERR_OPEN);
  picUseDiskFiles();
  EXPECT_GE(opens, 2);
}

}  // namespace
