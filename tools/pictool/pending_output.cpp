// The signal handler only reads a path prepared beforehand and calls unlink
// and _exit, both async-signal-safe.
#include "tools/pictool/pending_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "picture/core/picture.h"
#include "tools/pictool/command_line.h"

namespace pictool {

namespace {

char pendingPath[4096];
volatile sig_atomic_t pending = 0;
struct sigaction previousInt, previousTerm;

extern "C" void removePendingAndExit(int signal) {
  if (pending) unlink(pendingPath);
  _exit(signal == SIGINT ? exitInterrupted : exitTerminated);
}

void installHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removePendingAndExit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
  // A signal ignored from the start (a background job's SIGINT) stays ignored.
  if (previousInt.sa_handler == SIG_IGN) sigaction(SIGINT, &previousInt, nullptr);
  if (previousTerm.sa_handler == SIG_IGN) sigaction(SIGTERM, &previousTerm, nullptr);
}

// Holds SIGINT and SIGTERM back while the temporary file's existence and the
// handler's flag change together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void restoreHandlers() {
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
}

// "DIR/.NAME.XXXXXX" for "DIR/NAME"; false when it does not fit.
bool makeTemplate(const std::string& finalPath) {
  const size_t slash = finalPath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : finalPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  const std::string path = folder + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
  if (name.empty() || path.size() >= sizeof pendingPath) return false;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

int PendingOutput::create(const std::string& finalPath) {
  if (active_ || !makeTemplate(finalPath)) return PIC_ERR_OPEN;
  finalPath_ = finalPath;
  installHandlers();
  int fd;
  {
    const SignalsHeld held;
    fd = mkstemp(pendingPath);
    pending = fd >= 0;
  }
  if (fd < 0) {
    restoreHandlers();
    return PIC_ERR_OPEN;
  }
  active_ = true;
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // the permissions a plainly created file gets
  close(fd);
  return PIC_OK;
}

const char* PendingOutput::temporaryPath() const { return pendingPath; }

int PendingOutput::commit() {
  if (!active_) return PIC_ERR_WRITE;
  {
    const SignalsHeld held;
    if (std::rename(pendingPath, finalPath_.c_str()) != 0) return PIC_ERR_WRITE;
    pending = 0;
  }
  active_ = false;
  restoreHandlers();
  return PIC_OK;
}

PendingOutput::~PendingOutput() {
  if (!active_) return;
  pending = 0;
  unlink(pendingPath);
  restoreHandlers();
}

}  // namespace pictool
