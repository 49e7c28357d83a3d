// pictool: describes and converts pictures through the picture library.
// `pictool --help` lists the subcommands, their options and the exit statuses.
#include "picture/core/picture.h"
#include "tools/pictool/command_line.h"
#include "tools/pictool/formats.h"
#include "tools/pictool/subcommands.h"

int main(int argc, char** argv) {
  using namespace pictool;
  registerFormats();
  const Invocation invocation = parseCommandLine(argc, argv);
  if (invocation.options.maxPixels >= 0) picSetPixelLimit(invocation.options.maxPixels);  // for every thread
  switch (invocation.command) {
    case Command::help: return printHelp();
    case Command::version: return printVersion();
    case Command::info: return runInfo(invocation.files, invocation.options);
    case Command::convert:
      return invocation.batch ? runBatch(invocation.batchConvert, invocation.options)
                              : runConvert(invocation.convert, invocation.options);
    case Command::usageError: break;
  }
  return reportUsageError(invocation.error);
}
