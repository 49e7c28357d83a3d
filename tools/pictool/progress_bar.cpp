// The bar: "reading NAME [#####.....]  50%", redrawn in place only when the
// percentage changes.
#include "tools/pictool/progress_bar.h"

#include <unistd.h>

#include <cstdio>

#include "picture/core/picture.h"

namespace pictool {

namespace {

const int barWidth = 40;
std::string barName;
int lastPercent = -1, lastWriting = -1;
bool drawn = false;

int drawBar(const char*, int percent, int writing) {
  if (percent == lastPercent && writing == lastWriting) return 0;
  lastPercent = percent;
  lastWriting = writing;
  const int filled = percent * barWidth / 100;
  std::fprintf(stderr, "\r%s %s [%s%s] %3d%%", writing ? "writing" : "reading", barName.c_str(),
               std::string(size_t(filled), '#').c_str(), std::string(size_t(barWidth - filled), '.').c_str(),
               percent);
  std::fflush(stderr);
  drawn = true;
  return 0;
}

}  // namespace

ProgressBar::ProgressBar(bool wanted, int64_t pixels, const std::string& shownName) {
  if (!wanted || pixels < minimumPixels || !isatty(STDERR_FILENO)) return;
  barName = shownName;
  lastPercent = lastWriting = -1;
  picSetProgressCallback(drawBar);
}

ProgressBar::~ProgressBar() {
  picSetProgressCallback(nullptr);
  if (drawn) std::fputs("\r\033[K", stderr);
  drawn = false;
}

}  // namespace pictool
