// The read-ahead window of every driver. In place for a memory file: the
// whole file is one view and nothing is read. Borrowed for a disk file: the
// view is the file's own read-ahead buffer (picBinPeek), so that no block is
// copied twice.
#include <algorithm>
#include <climits>
#include <cstring>

#include "picture/core/driver_support.h"

bool picInputWindow::start(picBinFile* stream, int blockBytes) {
  stream_ = stream;
  failed_ = ended_ = borrowed_ = false;
  held_ = next_ = 0;
  viewStart_ = picBinTell(stream);
  long size = 0;
  const uint8_t* bytes = picBinMemoryBytes(stream, &size);
  inPlace_ = bytes && viewStart_ >= 0 && viewStart_ <= size && size - viewStart_ <= INT_MAX;
  if (inPlace_) {
    view_ = bytes + viewStart_;
    held_ = int(size - viewStart_);
    return true;
  }
  capacity_ = std::max(blockBytes, 16);
  borrowed_ = viewStart_ >= 0 && picBinPeek(stream, 1, &view_) > 0;
  if (borrowed_) return true;
  block_.reset(new (std::nothrow) uint8_t[size_t(capacity_)]);
  view_ = block_.get();
  return block_ != nullptr;
}

int picInputWindow::look(int n, const uint8_t** bytes) {
  if (borrowed_ && held_ - next_ < n && !failed_ && !ended_) {
    // The stream moves past what was consumed; its buffer keeps the rest.
    picBinSeekCur(stream_, next_);
    viewStart_ += next_;
    next_ = 0;
    held_ = picBinPeek(stream_, n, &view_);
    if (picBinError(stream_)) failed_ = true;
    if (held_ < std::min(n, capacity_) && !failed_) ended_ = true;
  } else if (!inPlace_ && !borrowed_ && held_ - next_ < n && !failed_ && !ended_) {
    // Keep what is not consumed, then fill the rest of the block.
    const int kept = held_ - next_;
    std::memmove(block_.get(), block_.get() + next_, size_t(kept));
    viewStart_ += next_;
    held_ = kept;
    next_ = 0;
    while (held_ < n && held_ < capacity_) {
      const int got = picBinReadAvailable(stream_, block_.get() + held_, capacity_ - held_);
      if (picBinError(stream_)) failed_ = true;
      if (got <= 0 && !failed_) ended_ = true;
      if (got <= 0 || failed_) break;
      held_ += got;
    }
  }
  if (inPlace_ && held_ - next_ < n) ended_ = true;
  *bytes = view_ + next_;
  return std::min(n, held_ - next_);
}

bool picInputWindow::read(void* destination, int n) {
  auto* out = static_cast<uint8_t*>(destination);
  while (n > 0) {
    const uint8_t* bytes;
    const int shown = look(std::min(n, inPlace_ ? n : capacity_), &bytes);
    if (shown <= 0) return false;
    std::memcpy(out, bytes, size_t(shown));
    consume(shown);
    out += shown;
    n -= shown;
  }
  return true;
}

bool picInputWindow::skip(int64_t n) {
  while (n > 0) {
    const uint8_t* bytes;
    const int shown = look(int(std::min<int64_t>(n, inPlace_ ? INT_MAX : capacity_)), &bytes);
    if (shown <= 0) return false;
    consume(shown);
    n -= shown;
  }
  return true;
}

void picInputWindow::release() {
  if (stream_ && position() <= INT_MAX) picBinSeekSet(stream_, int(position()));
  block_.reset();
  stream_ = nullptr;
}
