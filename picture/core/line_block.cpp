// Fixed-length lines read through the file layer a block at a time.
#include <new>

#include "picture/core/driver_support.h"

namespace {
// About this much a call: a few lines of any picture, one call per line for
// lines longer than it.
const int lineBlockBytes = 32768;
}  // namespace

bool picLineBlock::start(int bytesPerLine, int lineCount) {
  block.reset();
  lineBytes = bytesPerLine;
  linesLeft = lineCount;
  linesHeld = nextLine = 0;
  if (bytesPerLine <= 0 || lineCount <= 0) return false;
  const int perBlock = bytesPerLine >= lineBlockBytes ? 1 : lineBlockBytes / bytesPerLine;
  linesPerBlock = perBlock < lineCount ? perBlock : lineCount;
  block.reset(new (std::nothrow) uint8_t[size_t(linesPerBlock) * size_t(bytesPerLine)]);
  return block != nullptr;
}

const uint8_t* picLineBlock::next(picBinFile* stream) {
  if (!block) return nullptr;
  if (nextLine == linesHeld && linesLeft > 0) {
    if (const uint8_t* line = picBinTakeInPlace(stream, lineBytes)) {
      --linesLeft;
      return line;
    }
  }
  if (nextLine == linesHeld) {
    // Never past the last line, so that the stream ends where line reads would leave it.
    const int wanted = linesPerBlock < linesLeft ? linesPerBlock : linesLeft;
    if (wanted <= 0) return nullptr;
    const int got = picBinReadAvailable(stream, block.get(), wanted * lineBytes);
    if (picBinError(stream) || got < lineBytes) return nullptr;
    linesHeld = got / lineBytes;  // a partial line at the end counts as missing
    linesLeft -= linesHeld;
    nextLine = 0;
  }
  return block.get() + size_t(nextLine++) * size_t(lineBytes);
}
