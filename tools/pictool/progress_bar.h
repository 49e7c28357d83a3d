// A progress bar on standard error, drawn from the picture library's progress
// callback while one object of this class lives.
#ifndef TOOLS_PICTOOL_PROGRESS_BAR_H
#define TOOLS_PICTOOL_PROGRESS_BAR_H

#include <cstdint>
#include <string>

namespace pictool {

class ProgressBar {
 public:
  // Draws only when `wanted`, standard error is a terminal and the image has
  // enough pixels to wait for. The bar names `shownName` for loads and saves
  // alike (a save goes to a temporary name first).
  ProgressBar(bool wanted, int64_t pixels, const std::string& shownName);
  ~ProgressBar();  // removes the callback and clears the bar's line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  static const int64_t minimumPixels = 1 << 20;
};

}  // namespace pictool

#endif
