// The signals that end pictool while outputs are pending: SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT and SIGXFSZ. Each removes every file registered
// with removeOnSignal (one per conversion in flight) and ends the process with
// 128 + the signal number. A signal ignored when the handlers are installed
// (a background job's SIGINT) stays ignored.
#ifndef TOOLS_PICTOOL_SIGNALS_H
#define TOOLS_PICTOOL_SIGNALS_H

#include <signal.h>

#include <functional>
#include <string>

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

// Creates a file from `pathTemplate` (mkostemp: the name completed in place)
// and registers it for removal, under the lock waitEndingSignals takes, so no
// file of a batch is ever left unregistered. The descriptor, or -1 with errno
// set (ENAMETOOLONG when no slot is free). Call it, and forgetOnSignal, while
// the signals are held, so that a handler on this thread sees either both or neither.
int createRemovedOnSignal(std::string* pathTemplate, int* slot);
void forgetOnSignal(int slot);  // a slot of -1 is ignored

// For a batch on several threads, each with the signals held: waits on the
// calling thread until `finished()` holds (asked a few times a second), and on
// an ending signal removes every registered file and ends the process as the
// handler does. Signals ignored from the start stay ignored.
void waitEndingSignals(const std::function<bool()>& finished);

}  // namespace pictool

#endif
