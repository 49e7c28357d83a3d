// pictool info: one tab-separated line per file that can be described, one
// message on standard error for each other file; every file is tried, several
// at once. A file
// described but not loadable (over the pixel limit, a variant the driver does
// not read) gets its line and then the message.
#include <cstdio>

#include "picture/core/picture.h"
#include "tools/pictool/formats.h"
#include "tools/pictool/input.h"
#include "tools/pictool/parallel.h"
#include "tools/pictool/subcommands.h"

namespace pictool {

namespace {

const char* compressionName(int code) {
  switch (code & 0xff00) {
    case PIC_COMP_NONE: return "none";
    case PIC_COMP_RLE: return "rle";
    case PIC_COMP_LZW: return "lzw";
    default: return "other";
  }
}

struct Described {
  std::string line, message;  // for standard output and standard error
};

Described describe(const std::string& file) {
  Described described;
  Input input(file);
  std::string message;
  const int status = input.read(true, nullptr, &message);
  const Description& d = input.description();
  const std::string shown = file == "-" ? "standard input" : file;
  if (status == PIC_OK || d.status == PIC_OK || d.overPixelLimit()) {
    const Format* format = formatByDriver(d.format & 0xff);
    char fields[160];
    std::snprintf(fields, sizeof fields, "\t%s\t0x%03x\t%dx%d\t%s\t%d\t%s\n", format ? format->name : "other",
                  d.format, d.width, d.height, d.mode == PIC_MAP ? "map" : "rgb", d.colours, compressionName(d.format));
    described.line = shown + fields;
  }
  if (status != PIC_OK) described.message = "pictool: " + shown + ": " + message + "\n";
  return described;
}

}  // namespace

// Described in parallel; printed in the order of the arguments once all are done.
int runInfo(const std::vector<std::string>& files, const CommonOptions& options) {
  std::vector<Described> described(files.size());
  runInParallel(files.size(), jobCount(options.jobs, files.size()),
                [&](size_t i) { described[i] = describe(files[i]); });
  int exitStatus = exitSuccess;
  for (const Described& d : described) {
    std::fputs(d.line.c_str(), stdout);
    if (d.message.empty()) continue;
    std::fflush(stdout);
    std::fputs(d.message.c_str(), stderr);
    exitStatus = exitFailure;
  }
  return exitStatus;
}

}  // namespace pictool
