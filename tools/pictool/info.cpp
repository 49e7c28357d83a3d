// pictool info: one tab-separated line per file that can be described, one
// message on standard error for each other file; every file is tried.
#include <cstdio>

#include "picture/core/picture.h"
#include "tools/pictool/formats.h"
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
  int code = 0, width = 0, height = 0, mode = 0, colours = 0;
  int status = picFileFormat(file.c_str(), &code);
  if (status == PIC_OK) status = picImageInfo(file.c_str(), &width, &height, &mode, &colours);
  if (status != PIC_OK) return reportFailure(file, status);
  const Format* format = formatByDriver(code & 0xff);
  std::printf("%s\t%s\t0x%03x\t%dx%d\t%s\t%d\t%s\n", file.c_str(), format ? format->name : "other", code, width,
              height, mode == PIC_MAP ? "map" : "rgb", colours, compressionName(code));
  return exitSuccess;
}

}  // namespace

int runInfo(const std::vector<std::string>& files) {
  int exitStatus = exitSuccess;
  for (const std::string& file : files)
    if (describe(file) != exitSuccess) exitStatus = exitFailure;
  return exitStatus;
}

int reportFailure(const std::string& name, int status) {
  std::fflush(stdout);
  std::fprintf(stderr, "pictool: %s: %s\n", name.c_str(), picStatusText(status));
  return exitFailure;
}

}  // namespace pictool
