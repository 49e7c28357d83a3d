// Lines read a block at a time: every line in order whatever the line length,
// the stream left just past the last line, and a file cut inside a line
// giving its complete lines before the error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/core/driver_support.h"

namespace {

struct MemoryFiles {
  MemoryFiles() { picUseMemoryFiles(); }
  ~MemoryFiles() { picUseDiskFiles(); }
};

// Lines delivered from `bytes` (after a 5-byte header) until the first null.
int linesRead(std::vector<uint8_t>& bytes, int lineBytes, int lineCount, long* endPosition) {
  char name[64];
  EXPECT_GT(picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size())), 0);
  picBinFile* stream = picBinOpen(name, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  EXPECT_NE(stream, nullptr);
  picBinSeekSet(stream, 5);
  picLineBlock block;
  EXPECT_TRUE(block.start(lineBytes, lineCount));
  int lines = 0;
  while (const uint8_t* line = block.next(stream)) {
    for (int i = 0; i < lineBytes; ++i)
      if (line[i] != uint8_t(5 + lines * lineBytes + i)) {
        ADD_FAILURE() << "line " << lines << " byte " << i;
        break;
      }
    ++lines;
  }
  *endPosition = picBinTell(stream);
  picBinClose(stream);
  return lines;
}

TEST(LineBlock, GivesEveryCompleteLineAndStopsAtTheLastOrAtTheCut) {
  MemoryFiles memory;
  struct Case {
    int lineBytes, lineCount, cutBytes;  // bytes of line data the file holds
  };
  const Case cases[] = {
      {3, 100, 300},           // many lines a block
      {1000, 70, 70000},       // 32 lines a block, a short last block
      {40000, 3, 120000},      // one line a call
      {1000, 70, 40500},       // cut inside line 40: 40 lines
      {40000, 3, 39999},       // cut inside the first line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.lineBytes) + " x " + std::to_string(c.lineCount));
    // The file goes on past the lines when it is not cut; the block must not read on.
    const size_t dataBytes = size_t(c.lineBytes) * size_t(c.lineCount);
    std::vector<uint8_t> bytes(5 + size_t(c.cutBytes) + (size_t(c.cutBytes) == dataBytes ? 77 : 0));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    long end = 0;
    const int complete = c.cutBytes / c.lineBytes;
    EXPECT_EQ(linesRead(bytes, c.lineBytes, c.lineCount, &end), complete);
    if (complete == c.lineCount) {
      EXPECT_EQ(end, long(5 + dataBytes));
    }
  }
  picLineBlock unused;
  EXPECT_FALSE(unused.start(0, 10));
  EXPECT_EQ(unused.next(nullptr), nullptr);
}

}  // namespace
