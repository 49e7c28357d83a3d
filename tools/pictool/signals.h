// The signals that end pictool while outputs are pending: SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT and SIGXFSZ. Each removes every file registered
// with removeOnSignal (one per conversion in flight) and ends the process with
// 128 + the signal number. A signal ignored when the handlers are installed
// (a background job's SIGINT) stays ignored.
#ifndef TOOLS_PICTOOL_SIGNALS_H
#define TOOLS_PICTOOL_SIGNALS_H

#include <signal.h>

namespace pictool {

// Counted: the handlers stay until as many restores as catches were made.
void catchEndingSignals();
void restoreEndingSignals();  // the actions found by the first catchEndingSignals

// Holds the six signals on this thread while it lives: one that arrives
// meanwhile takes effect when it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld();
  ~EndingSignalsHeld();
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// At most this many files can wait for removal at once (conversions in flight).
const int maxFilesRemovedOnSignal = 64;

// Registers a file the handlers remove: its slot, or -1 when the path is
// longer than any the system opens or every slot is taken. Call it, and
// forgetOnSignal, while the signals are held, so that the file's existence
// and the handlers' view change together.
int removeOnSignal(const char* path);
void forgetOnSignal(int slot);  // a slot of -1 is ignored

}  // namespace pictool

#endif
