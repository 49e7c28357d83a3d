// pictool run as a process by the tests: its arguments, standard input from a
// file, its environment and file-size limit, optionally as another user; what
// it printed and how it ended.
#ifndef TESTS_SUPPORT_PICTOOL_RUN_H
#define TESTS_SUPPORT_PICTOOL_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

struct ToolRun {
  int exitCode;  // -1: ended by a signal or killed at the deadline
  std::string out, err;
};

struct ToolOptions {
  std::string stdinPath;  // empty: /dev/null
  std::string user;       // empty: this process's user; else that user with their own group only (needs root)
  std::vector<std::string> environment;  // "NAME=value" added to this process's
  long fileSizeLimit = -1;                // bytes (RLIMIT_FSIZE); -1: this process's
};

// A started program (argv[0] a path) with standard output and error going to
// files. The six signals pictool handles start at their default action and
// unblocked, as from a shell.
class ToolProcess {
 public:
  ToolProcess(const std::vector<std::string>& argv, const ToolOptions& options);
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  ~ToolProcess();  // kills and reaps a program still running

  pid_t pid() const { return pid_; }
  bool running();
  // Waits up to a minute (then kills it); wait status in *status when given.
  ToolRun wait(int* status = nullptr);

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  std::string outPath_, errPath_;
};

ToolRun runProgram(const std::vector<std::string>& argv, const ToolOptions& options = {});

// A 2400 x 2000 colour-mapped BMP, slow enough to save as ZOT text that a
// signal meets the save; made once per test program.
const std::string& largeMappedBmp();

#ifdef SOLSYS_PICTOOL
inline std::vector<std::string> pictoolCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {SOLSYS_PICTOOL};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

inline ToolRun runTool(const std::vector<std::string>& arguments, const ToolOptions& options = {}) {
  return runProgram(pictoolCommand(arguments), options);
}
#endif

#endif
