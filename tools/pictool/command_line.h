// pictool's command table, its argument parsing, --help and --version, and
// the exit statuses every subcommand ends with.
#ifndef TOOLS_PICTOOL_COMMAND_LINE_H
#define TOOLS_PICTOOL_COMMAND_LINE_H

#include <string>
#include <vector>

#include "tools/pictool/formats.h"

namespace pictool {

enum ExitStatus {
  exitSuccess = 0,
  exitUsage = 1,        // the command line is wrong
  exitFailure = 2,      // the library reported a failure
  exitInterrupted = 130,  // SIGINT during a save
  exitTerminated = 143,   // SIGTERM during a save
};

enum class Command { help, version, info, convert, usageError };

struct ConvertRequest {
  std::string input, output;
  const Format* format = nullptr;  // from --format, else from the output's extension
  int compression = -1;            // PIC_COMP_*, -1: the format's default
  bool dither = false;
  bool quiet = false;
  bool grey = false;  // OUT is named .pgm or .pbm: the picture goes as grey levels
};

struct Invocation {
  Command command = Command::usageError;
  std::vector<std::string> files;  // info
  ConvertRequest convert;
  std::string error;  // usageError: what is wrong
};

Invocation parseCommandLine(int argc, char** argv);

// Each returns the exit status.
int printHelp();
int printVersion();
int reportUsageError(const std::string& error);

}  // namespace pictool

#endif
