// The handler only reads a path prepared beforehand and calls unlink, write
// (erasing a progress bar) and _exit, all async-signal-safe.
#include "tools/pictool/signals.h"

#include <limits.h>
#include <unistd.h>

#include <cstring>

#include "tools/pictool/progress_bar.h"

namespace pictool {

namespace {

const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ};
const int signalCount = sizeof endingSignals / sizeof endingSignals[0];

// Process-wide: the file the handler removes (a handler can reach nothing
// else), and the actions it replaced, as signal actions are the process's.
char pathToRemove[PATH_MAX];
volatile sig_atomic_t hasPathToRemove = 0;
struct sigaction previousActions[signalCount];
bool caught[signalCount];

sigset_t endingSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : endingSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void removeAndExit(int signal) {
  if (hasPathToRemove) unlink(pathToRemove);
  eraseProgressBarFromSignal();
  _exit(128 + signal);
}

}  // namespace

void catchEndingSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removeAndExit;
  action.sa_mask = endingSignalSet();  // one handler at a time
  for (int i = 0; i < signalCount; ++i) {
    if (caught[i]) continue;
    sigaction(endingSignals[i], nullptr, &previousActions[i]);
    if (previousActions[i].sa_handler == SIG_IGN) continue;
    caught[i] = sigaction(endingSignals[i], &action, nullptr) == 0;
  }
}

void restoreEndingSignals() {
  for (int i = 0; i < signalCount; ++i)
    if (caught[i]) {
      sigaction(endingSignals[i], &previousActions[i], nullptr);
      caught[i] = false;
    }
}

EndingSignalsHeld::EndingSignalsHeld() {
  const sigset_t held = endingSignalSet();
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

bool removeOnSignal(const char* path) {
  if (!path) {
    hasPathToRemove = 0;
    return true;
  }
  const size_t length = std::strlen(path);
  if (length >= sizeof pathToRemove) return false;
  std::memcpy(pathToRemove, path, length + 1);
  hasPathToRemove = 1;
  return true;
}

}  // namespace pictool
