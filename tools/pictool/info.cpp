// pictool info: one tab-separated line per file that can be described, one
// message on standard error for each other file; every file is tried. A file
// described but not loadable (over the pixel limit, a variant the driver does
// not read) gets its line and then the message.
#include <cstdio>

#include "picture/core/picture.h"
#include "tools/pictool/formats.h"
#include "tools/pictool/input.h"
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

int describe(const std::string& file) {
  Input input(file);
  std::string message;
  const int status = input.read(true, nullptr, &message);
  const Description& d = input.description();
  const std::string shown = file == "-" ? "standard input" : file;
  if (status == PIC_OK || d.status == PIC_OK || d.overPixelLimit()) {
    const Format* format = formatByDriver(d.format & 0xff);
    std::printf("%s\t%s\t0x%03x\t%dx%d\t%s\t%d\t%s\n", shown.c_str(), format ? format->name : "other", d.format,
                d.width, d.height, d.mode == PIC_MAP ? "map" : "rgb", d.colours, compressionName(d.format));
  }
  if (status == PIC_OK) return exitSuccess;
  std::fflush(stdout);
  std::fprintf(stderr, "pictool: %s: %s\n", shown.c_str(), message.c_str());
  return exitFailure;
}

}  // namespace

int runInfo(const std::vector<std::string>& files, const CommonOptions&) {
  int exitStatus = exitSuccess;
  for (const std::string& file : files)
    if (describe(file) != exitSuccess) exitStatus = exitFailure;
  return exitStatus;
}

}  // namespace pictool
