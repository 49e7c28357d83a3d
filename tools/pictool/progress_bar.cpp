// The bar: "STAGE NAME [#####.....]  50%". The library's progress callback
// has no context argument, so the bar it draws is a thread's own variable.
#include "tools/pictool/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "picture/core/picture.h"
#include "tools/pictool/signals.h"

namespace pictool {

namespace {

const int widestBar = 40, narrowestBar = 10;
const int defaultColumns = 80;

thread_local ProgressBar* libraryBar = nullptr;
// Whether a bar's line is on screen, for the signal handler.
volatile sig_atomic_t barOnScreen = 0;

int terminalColumns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return defaultColumns;
}

int drawFromLibrary(const char*, int percent, int writing) {
  if (libraryBar) libraryBar->show(writing ? "writing" : "decoding", percent);
  return 0;
}

// "abcdefghij" in 7 columns: "ab...ij".
std::string shorten(const std::string& name, int columns) {
  if (int(name.size()) <= columns) return name;
  if (columns < 5) return name.substr(name.size() - size_t(std::max(columns, 0)));
  const int kept = columns - 3, head = kept / 2;
  return name.substr(0, size_t(head)) + "..." + name.substr(name.size() - size_t(kept - head));
}

}  // namespace

std::string progressLine(const char* stage, const std::string& name, int percent, int columns) {
  const int room = columns - 1;  // the last column would wrap on some terminals
  const std::string head = std::string(stage) + " ";
  const int fixed = int(head.size()) + 1 + 2 + 5;  // space, brackets, " 100%"
  int bar = std::clamp(room - fixed - 8, narrowestBar, widestBar);
  bar = std::max(0, std::min(bar, room - fixed));
  const int nameRoom = room - fixed - bar;
  const int filled = std::clamp(percent, 0, 100) * bar / 100;
  char tail[8];
  std::snprintf(tail, sizeof tail, " %3d%%", std::clamp(percent, 0, 100));
  std::string line = head + shorten(name, nameRoom) + " [" + std::string(size_t(filled), '#') +
                     std::string(size_t(bar - filled), '.') + "]" + tail;
  if (int(line.size()) > room) line.resize(size_t(std::max(room, 0)));
  return line;
}

ProgressBar::ProgressBar(bool wanted, const std::string& shownName)
    : active_(wanted && isatty(STDERR_FILENO)), name_(shownName) {
  // An interruption while the bar shows erases it (the handlers end the tool).
  if (active_) catchEndingSignals();
}

ProgressBar::~ProgressBar() {
  stopFollowingLibrary();
  erase();
}

void ProgressBar::show(const char* stage, int percent) {
  if (!active_ || (stage == stage_ && percent == percent_)) return;
  stage_ = stage;
  percent_ = percent;
  const std::string line = progressLine(stage, name_, percent, terminalColumns());
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  barOnScreen = 1;
}

void ProgressBar::followLibrary(int64_t pixels) {
  if (!active_ || pixels < minimumPixels) return;
  libraryBar = this;
  picSetProgressCallbackThread(drawFromLibrary);
}

void ProgressBar::stopFollowingLibrary() {
  if (libraryBar != this) return;
  picSetProgressCallbackThread(nullptr);
  libraryBar = nullptr;
}

int ProgressBar::quantiseHook(void* context, int percent) {
  static_cast<ProgressBar*>(context)->show("reducing colours", percent);
  return 0;
}

void ProgressBar::erase() {
  if (!barOnScreen || !active_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  barOnScreen = 0;
  stage_ = nullptr;
  percent_ = -1;
}

void eraseProgressBarFromSignal() {
  if (!barOnScreen) return;
  const char erase[] = "\r\033[K";
  if (write(STDERR_FILENO, erase, sizeof erase - 1) < 0) {}
}

}  // namespace pictool
