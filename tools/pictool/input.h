// An input picture read into memory: the file, standard input ("-") or any
// stream, described from its first bytes before more are read, and never read
// further than its picture could need. The library then describes and loads
// the bytes held, so the description and the load cannot disagree whatever
// happens to the file meanwhile.
#ifndef TOOLS_PICTOOL_INPUT_H
#define TOOLS_PICTOOL_INPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictool {

// No picture needs more than this many bytes per pixel, plus the slack (for
// metadata, comments and the worst run-length and LZW expansions).
const int64_t inputBytesPerPixel = 16;
const int64_t inputSlackBytes = int64_t(64) << 20;
int64_t inputBound(int64_t pixels);

// True when `name` is "-" or names an existing file (so that a name with a
// colon is not taken for a FORMAT: prefix).
bool inputExists(const std::string& name);

struct Description {
  int status = -99;  // picImageInfo's answer
  int verdict = -99;  // picImageStatus's: whether it loads
  int format = 0, width = 0, height = 0, mode = 0, colours = 0;
  const char* reason = nullptr;  // the check that refused it (picLastReason), or null
  int64_t pixels() const { return int64_t(width) * height; }
  bool overPixelLimit() const;
};

class Input {
 public:
  // Reports bytes read of the total (0 when the size is not known).
  using ReadProgress = std::function<void(int64_t done, int64_t total)>;

  explicit Input(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

  // Reads until the picture is described (or the data ends), then, unless
  // `describeOnly`, on to the end or to the bound. Returns a library status;
  // a failure leaves its words in `message` (the library's description of the
  // bytes held is still given).
  int read(bool describeOnly, const ReadProgress& progress, std::string* message);
  const Description& description() const { return description_; }
  // The memory-file name of the bytes held (use with picUseMemoryFiles).
  const char* memoryName() const { return memoryName_; }
  // When reading stopped at the bound with data left: words that say so.
  std::string stoppedNote() const;

 private:
  void describe();
  std::string name_;
  std::vector<uint8_t> bytes_;
  char memoryName_[64] = "";
  Description description_;
  bool stoppedAtBound_ = false;
};

// The library reads memory files while one of these lives.
class MemoryFiles {
 public:
  MemoryFiles();
  ~MemoryFiles();
  MemoryFiles(const MemoryFiles&) = delete;
  MemoryFiles& operator=(const MemoryFiles&) = delete;
};

// The library's messages in words for a status a description or load gave,
// with the check that refused it when the library names one.
std::string describeFailure(int status, const Description& description, const char* reason);

}  // namespace pictool

#endif
