// Reading grows the buffer fourfold each time the description asks for more
// (a header past the first bytes, a TIFF directory at the end), so a large
// file is described a handful of times at most; each description reads only
// headers.
#include "tools/pictool/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "picture/core/picture.h"

namespace pictool {

namespace {

const size_t firstRead = size_t(64) << 10;
const size_t memoryFileLimit = INT_MAX;  // a memory file's capacity is an int
const size_t readBlock = size_t(1) << 20;

std::string systemReason() { return std::strerror(errno); }

std::string megabytes(int64_t bytes) {
  if (bytes < (int64_t(1) << 20)) return std::to_string(bytes) + " bytes";
  return std::to_string(bytes >> 20) + " MB";
}

// Closes what it opened; standard input stays open.
class InputFile {
 public:
  explicit InputFile(const std::string& name)
      : fd_(name == "-" ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC)), owned_(name != "-") {}
  ~InputFile() {
    if (owned_ && fd_ >= 0) close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
  bool owned_;
};

// Reads until `bytes` holds `target` bytes or the data ends. 0, or the errno of a failed read.
int fill(int fd, size_t target, std::vector<uint8_t>* bytes, bool* ended, int64_t total,
         const Input::ReadProgress& progress) {
  while (bytes->size() < target && !*ended) {
    const size_t held = bytes->size();
    const size_t wanted = std::min(readBlock, target - held);
    if (bytes->capacity() < held + wanted) bytes->reserve(std::max(held + wanted, std::min(target, 2 * held)));
    bytes->resize(held + wanted);
    const ssize_t got = ::read(fd, bytes->data() + held, wanted);
    bytes->resize(held + size_t(got > 0 ? got : 0));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) *ended = true;
    if (progress) progress(int64_t(bytes->size()), total);
  }
  return 0;
}

}  // namespace

std::string statusInWords(int status, const Description& description);

int64_t inputBound(int64_t pixels) {
  const int64_t most = INT64_MAX / 2;
  return pixels > (most - inputSlackBytes) / inputBytesPerPixel ? most : pixels * inputBytesPerPixel + inputSlackBytes;
}

bool inputExists(const std::string& name) {
  struct stat info;
  return name == "-" || stat(name.c_str(), &info) == 0;
}

bool Description::overPixelLimit() const {
  const int64_t limit = picGetPixelLimit();
  return status == PIC_ERR_DATA && width > 0 && height > 0 && limit > 0 && pixels() > limit;
}

MemoryFiles::MemoryFiles() { picUseMemoryFiles(); }
MemoryFiles::~MemoryFiles() { picUseDiskFiles(); }

void Input::describe() {
  if (bytes_.capacity() == 0) bytes_.reserve(1);  // a buffer address even for no bytes
  picMemoryFileName(memoryName_, sizeof memoryName_, bytes_.data(), int(bytes_.size()));
  const MemoryFiles memory;
  Description& d = description_;
  d = Description();
  d.status = picImageInfo(memoryName_, &d.width, &d.height, &d.mode, &d.colours);
  d.verdict = d.status == PIC_OK ? picImageStatus(memoryName_) : d.status;
  d.reason = picLastReason();
  if (d.status == PIC_OK || d.overPixelLimit()) picFileFormat(memoryName_, &d.format);
}

int Input::read(bool describeOnly, const ReadProgress& progress, std::string* message) {
  const InputFile file(name_);
  if (file.fd() < 0) {
    *message = "cannot open it: " + systemReason();
    return PIC_ERR_OPEN;
  }
  struct stat info;
  int64_t total = 0;
  if (fstat(file.fd(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *message = "is a folder, not a picture";
      return PIC_ERR_OPEN;
    }
    if (S_ISREG(info.st_mode)) total = info.st_size;
  }
  bool ended = false;
  size_t target = firstRead;
  for (;;) {
    if (const int error = fill(file.fd(), target, &bytes_, &ended, total, progress)) {
      errno = error;
      *message = "cannot read it: " + systemReason();
      return PIC_ERR_READ;
    }
    if (bytes_.empty()) {
      *message = "the file is empty";
      return PIC_ERR_READ;
    }
    describe();
    const bool wantsMore = description_.status == PIC_ERR_READ || description_.verdict == PIC_ERR_READ;
    if (!wantsMore || ended) break;
    if (bytes_.size() >= memoryFileLimit) {
      *message = "still not described after " + megabytes(int64_t(bytes_.size())) + "; stopped reading";
      return PIC_ERR_DATA;
    }
    target = std::min(memoryFileLimit, bytes_.size() * 4);
  }
  if (description_.verdict != PIC_OK || describeOnly) {
    *message = describeFailure(description_.verdict, description_, description_.reason);
    return description_.verdict;
  }

  const size_t bound = size_t(std::min<int64_t>(inputBound(description_.pixels()), int64_t(memoryFileLimit)));
  if (total > 0) bytes_.reserve(size_t(std::min<int64_t>(total, int64_t(bound))));
  if (const int error = fill(file.fd(), bound, &bytes_, &ended, total, progress)) {
    errno = error;
    *message = "cannot read it: " + systemReason();
    return PIC_ERR_READ;
  }
  if (!ended) {
    // One byte more tells whether anything lies past the bound; it is not kept.
    uint8_t probe;
    ssize_t got;
    while ((got = ::read(file.fd(), &probe, 1)) < 0 && errno == EINTR) {}
    stoppedAtBound_ = got > 0;
  }
  describe();
  *message = describeFailure(description_.verdict, description_, description_.reason);
  return description_.verdict;
}

std::string Input::stoppedNote() const {
  if (!stoppedAtBound_) return "";
  return "reading stopped after " + megabytes(int64_t(bytes_.size())) + ", more than a " +
         std::to_string(description_.width) + " x " + std::to_string(description_.height) + " picture can need";
}

std::string describeFailure(int status, const Description& description, const char* reason) {
  const std::string words = statusInWords(status, description);
  // The pixel limit says it all already.
  if (!reason || status == PIC_OK || description.overPixelLimit()) return words;
  return words + " (" + reason + ")";
}

std::string statusInWords(int status, const Description& description) {
  switch (status) {
    case PIC_OK: return "";
    case PIC_ERR_READ: return "the data ends early: the file is cut or damaged";
    case PIC_ERR_FORMAT: return "not a picture pictool reads (no driver recognises the file)";
    case PIC_ERR_COMPRESSION: return "the picture's compression is not supported";
    case PIC_ERR_DATA:
      if (description.overPixelLimit())
        return "the picture is " + std::to_string(description.width) + " x " + std::to_string(description.height) +
               " = " + std::to_string(description.pixels()) + " pixels, over the limit of " +
               std::to_string(picGetPixelLimit()) + " (--max-pixels N raises it, 0 lifts it)";
      return "this kind of picture is not supported";
    default: return picStatusText(status);
  }
}

}  // namespace pictool
