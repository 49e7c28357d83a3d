// The handler only reads paths prepared beforehand (each published by a
// lock-free flag set after its bytes) and calls unlink, write (erasing a
// progress bar) and _exit, all async-signal-safe.
#include "tools/pictool/signals.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "tools/pictool/progress_bar.h"

namespace pictool {

namespace {

const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ};
const int signalCount = sizeof endingSignals / sizeof endingSignals[0];

// Process-wide: the files the handler removes (a handler can reach nothing
// else), and the actions it replaced, as signal actions are the process's.
char pathsToRemove[maxFilesRemovedOnSignal][PATH_MAX];
std::atomic<bool> slotInUse[maxFilesRemovedOnSignal];
static_assert(std::atomic<bool>::is_always_lock_free, "read by a signal handler");
std::mutex slotsLock;    // registration and the catch count, never taken by the handler
int catchCount = 0;      // under slotsLock
struct sigaction previousActions[signalCount];
bool caught[signalCount];

sigset_t endingSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : endingSignals) sigaddset(&set, signal);
  return set;
}

void removeAll() {
  for (int slot = 0; slot < maxFilesRemovedOnSignal; ++slot)
    if (slotInUse[slot].load()) unlink(pathsToRemove[slot]);
}

extern "C" void removeAndExit(int signal) {
  removeAll();
  eraseProgressBarFromSignal();
  _exit(128 + signal);
}

}  // namespace

void catchEndingSignals() {
  const std::lock_guard<std::mutex> lock(slotsLock);
  if (catchCount++ > 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removeAndExit;
  action.sa_mask = endingSignalSet();  // one handler at a time
  for (int i = 0; i < signalCount; ++i) {
    sigaction(endingSignals[i], nullptr, &previousActions[i]);
    if (previousActions[i].sa_handler == SIG_IGN) continue;
    caught[i] = sigaction(endingSignals[i], &action, nullptr) == 0;
  }
}

void restoreEndingSignals() {
  const std::lock_guard<std::mutex> lock(slotsLock);
  if (catchCount == 0 || --catchCount > 0) return;
  for (int i = 0; i < signalCount; ++i)
    if (caught[i]) {
      sigaction(endingSignals[i], &previousActions[i], nullptr);
      caught[i] = false;
    }
}

EndingSignalsHeld::EndingSignalsHeld() {
  const sigset_t held = endingSignalSet();
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

int createRemovedOnSignal(std::string* pathTemplate, int* slot) {
  *slot = -1;
  if (pathTemplate->size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const std::lock_guard<std::mutex> lock(slotsLock);
  int free = 0;
  while (free < maxFilesRemovedOnSignal && slotInUse[free].load()) ++free;
  if (free == maxFilesRemovedOnSignal) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = mkostemp(&(*pathTemplate)[0], O_CLOEXEC);
  if (fd < 0) return -1;
  std::memcpy(pathsToRemove[free], pathTemplate->c_str(), pathTemplate->size() + 1);
  slotInUse[free].store(true);
  *slot = free;
  return fd;
}

void forgetOnSignal(int slot) {
  if (slot >= 0 && slot < maxFilesRemovedOnSignal) slotInUse[slot].store(false);
}

void waitEndingSignals(const std::function<bool()>& finished) {
  sigset_t waited;
  sigemptyset(&waited);
  for (int signal : endingSignals) {
    struct sigaction action;
    if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) sigaddset(&waited, signal);
  }
  const struct timespec pause = {0, 50 * 1000 * 1000};
  while (!finished()) {
    const int signal = sigtimedwait(&waited, nullptr, &pause);
    if (signal <= 0) continue;
    // Held while the files go and the process ends: no worker registers another.
    slotsLock.lock();
    removeAll();
    eraseProgressBarFromSignal();
    _exit(128 + signal);
  }
}

}  // namespace pictool
