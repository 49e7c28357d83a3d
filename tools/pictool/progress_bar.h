// A progress bar on standard error: one line, never wider than the terminal,
// redrawn in place and erased at the end (and by the signal handler on
// interruption). It follows the stages of a conversion: reading the input,
// decoding, reducing colours, writing.
#ifndef TOOLS_PICTOOL_PROGRESS_BAR_H
#define TOOLS_PICTOOL_PROGRESS_BAR_H

#include <cstdint>
#include <string>

namespace pictool {

class ProgressBar {
 public:
  // Draws only when `wanted` and standard error is a terminal. `shownName`
  // names the file in every stage (a save goes to a temporary name first).
  ProgressBar(bool wanted, const std::string& shownName);
  ~ProgressBar();  // removes the library callback and erases the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Shows `stage` at `percent`; redraws only when something changed.
  void show(const char* stage, int percent);
  // While a large enough picture is loaded or saved, the library's progress
  // callback draws the bar as "decoding" or "writing".
  void followLibrary(int64_t pixels);
  void stopFollowingLibrary();
  // A picQuantiseProgress hook drawing "reducing colours"; context: the bar.
  static int quantiseHook(void* context, int percent);
  void erase();

  // Pictures smaller than this, and inputs smaller than minimumBytes, are
  // done before a bar would help.
  static const int64_t minimumPixels = 1 << 20;
  static const int64_t minimumBytes = 8 << 20;

 private:
  bool active_;
  std::string name_;
  const char* stage_ = nullptr;
  int percent_ = -1;
};

// The text of the bar for a terminal of `columns`: never more than
// columns - 1 characters; the name is shortened in its middle first.
std::string progressLine(const char* stage, const std::string& name, int percent, int columns);

// Erases a bar on screen with write(2) alone: for a signal handler.
void eraseProgressBarFromSignal();

}  // namespace pictool

#endif
