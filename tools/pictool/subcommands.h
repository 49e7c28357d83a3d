// The subcommands; each returns the exit status.
#ifndef TOOLS_PICTOOL_SUBCOMMANDS_H
#define TOOLS_PICTOOL_SUBCOMMANDS_H

#include <string>
#include <vector>

#include "tools/pictool/command_line.h"

namespace pictool {

int runInfo(const std::vector<std::string>& files, const CommonOptions& options);
int runConvert(const ConvertRequest& request, const CommonOptions& options);
int runBatch(const BatchRequest& batch, const CommonOptions& options);

}  // namespace pictool

#endif
