// The subcommands; each returns the exit status.
#ifndef TOOLS_PICTOOL_SUBCOMMANDS_H
#define TOOLS_PICTOOL_SUBCOMMANDS_H

#include <string>
#include <vector>

#include "tools/pictool/command_line.h"

namespace pictool {

int runInfo(const std::vector<std::string>& files);
int runConvert(const ConvertRequest& request);

// "pictool: NAME: status in words" on standard error; returns exitFailure.
int reportFailure(const std::string& name, int status);

}  // namespace pictool

#endif
