// pictool's command table, its argument parsing, --help and --version, and
// the exit statuses every subcommand ends with.
#ifndef TOOLS_PICTOOL_COMMAND_LINE_H
#define TOOLS_PICTOOL_COMMAND_LINE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pictool/formats.h"

namespace pictool {

enum ExitStatus {
  exitSuccess = 0,
  exitUsage = 1,    // the command line is wrong
  exitFailure = 2,  // a file could not be read, described, loaded or written
  // A signal during a save ends the tool with 128 + its number.
};

enum class Command { help, version, info, convert, usageError };

// Options both subcommands take.
struct CommonOptions {
  int64_t maxPixels = -1;  // --max-pixels: the library's pixel limit for this run, -1: its default
  bool quiet = false;
  int jobs = 0;            // -j: conversions or descriptions at once, 0: one per processor
};

struct ConvertRequest {
  std::string input, output;       // "-": standard input, standard output
  const Format* format = nullptr;  // from --format, a FORMAT: prefix, or the output's extension
  const WrittenCompression* compression = nullptr;  // null: the format's usual one
  int quality = -1;                                 // --quality for JPEG, -1: the library's default
  bool dither = false;
  bool grey = false;  // OUT is named .pgm or .pbm: the picture goes as grey levels
  std::string progressName;  // what the progress bar calls the input; empty: its name
};

// convert --to FORMAT FILE...: each file to its own name with FORMAT's extension.
struct BatchRequest {
  std::vector<std::string> inputs;
  std::string outDir;      // --out-dir; empty: beside each input
  ConvertRequest options;  // the format and the options every conversion takes
};

struct Invocation {
  Command command = Command::usageError;
  std::vector<std::string> files;  // info
  ConvertRequest convert;
  bool batch = false;  // convert --to: `batchConvert` holds the request
  BatchRequest batchConvert;
  CommonOptions options;
  std::string error;  // usageError: what is wrong
};


Invocation parseCommandLine(int argc, char** argv);

// Each returns the exit status.
int printHelp();
int printVersion();
int reportUsageError(const std::string& error);

}  // namespace pictool

#endif
