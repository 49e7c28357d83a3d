#include "pictool_run.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "image_peer.h"
#include "picture/core/picture.h"
#include "viewer_harness.h"

namespace {

const int toolSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ};

bool redirect(const char* path, int fd, int flags) {
  const int opened = open(path, flags, 0644);
  if (opened < 0) return false;
  const bool done = dup2(opened, fd) == fd;
  close(opened);
  return done;
}

// This process's environment with `added` ("NAME=value") in place of the same names.
std::vector<char*> environmentWith(const std::vector<std::string>& added) {
  std::vector<char*> entries;
  for (char** entry = environ; *entry; ++entry) {
    const std::string name(*entry, std::strcspn(*entry, "=") + 1);  // "NAME="
    const auto sameName = [&](const std::string& wanted) { return wanted.compare(0, name.size(), name) == 0; };
    if (std::none_of(added.begin(), added.end(), sameName)) entries.push_back(*entry);
  }
  for (const std::string& entry : added) entries.push_back(const_cast<char*>(entry.c_str()));
  entries.push_back(nullptr);
  return entries;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& argv, const ToolOptions& options) {
  static int runs = 0;  // names each run's output files
  const std::string stem = tempPath("run" + std::to_string(++runs));
  outPath_ = stem + ".out";
  errPath_ = stem + ".err";
  // Everything the child needs is prepared here: after fork it only makes system calls.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> environment = environmentWith(options.environment);
  const rlimit sizeLimit = {rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
  const std::string input = options.stdinPath.empty() ? "/dev/null" : options.stdinPath;
  const passwd* account = options.user.empty() ? nullptr : getpwnam(options.user.c_str());
  if (!options.user.empty() && !account) return;
  const uid_t uid = account ? account->pw_uid : 0;
  const gid_t gid = account ? account->pw_gid : 0;

  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ != 0) return;
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  for (int signal : toolSignals) sigaction(signal, &defaultAction, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!redirect(input.c_str(), 0, O_RDONLY) || !redirect(outPath_.c_str(), 1, O_WRONLY | O_CREAT | O_TRUNC) ||
      !redirect(errPath_.c_str(), 2, O_WRONLY | O_CREAT | O_TRUNC))
    _exit(126);
  if (options.fileSizeLimit >= 0 && setrlimit(RLIMIT_FSIZE, &sizeLimit) != 0) _exit(126);
  if (account && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
  execve(args[0], args.data(), environment.data());
  _exit(127);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
}

bool ToolProcess::running() {
  if (pid_ <= 0 || reaped_) return false;
  reaped_ = waitpid(pid_, &status_, WNOHANG) == pid_;
  return !reaped_;
}

ToolRun ToolProcess::wait(int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (running()) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // most runs take a few milliseconds
  }
  if (status) *status = status_;
  const int exitCode = reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  return {exitCode, readFileText(outPath_), readFileText(errPath_)};
}

ToolRun runProgram(const std::vector<std::string>& argv, const ToolOptions& options) {
  ToolProcess process(argv, options);
  return process.wait();
}

const std::string& largeMappedBmp() {
  static const std::string path = [] {
    const MappedImage image = makeTestMapped(2400, 2000, 256, 9);
    const std::string file = tempPath("large.bmp");
    picSaveMap(image.width, image.height, PIC_DRIVER_BMP, image.indices.data(), 256, image.map.data(), file.c_str());
    return file;
  }();
  return path;
}
