// The signals that end pictool while an output is pending: SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT and SIGXFSZ. Each removes the file registered with
// removeOnSignal and ends the process with 128 + the signal number. A signal
// ignored when the handlers are installed (a background job's SIGINT) stays
// ignored.
#ifndef TOOLS_PICTOOL_SIGNALS_H
#define TOOLS_PICTOOL_SIGNALS_H

#include <signal.h>

namespace pictool {

void catchEndingSignals();
void restoreEndingSignals();  // the actions found by catchEndingSignals

// Holds the six signals while it lives: one that arrives meanwhile takes
// effect when it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld();
  ~EndingSignalsHeld();
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// The file the handlers remove (null: none). Call it while the signals are
// held, so that the file's existence and the handlers' view change together.
// False when the path is longer than any the system opens.
bool removeOnSignal(const char* path);

}  // namespace pictool

#endif
