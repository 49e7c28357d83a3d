// Files of the benchmark's picture written by another tool (ImageMagick's
// convert-im6.q16), as callers mostly get them: the picture (or its
// 3-3-2 colours) is written as PPM into a scratch folder once per side, and
// each tool writes its file from it beside.
#ifndef BENCH_BENCH_OUTSIDE_H
#define BENCH_BENCH_OUTSIDE_H

#include <string>

#include "bench_images.h"

struct OutsideFile {
  const char* format;   // the library's format name: "tga"
  const char* key;      // in benchmark names: "im-tga-rle"
  const char* label;    // in the tables: "TGA rle"
  const char* writer;   // "ImageMagick"
  const char* command;  // a shell command: %s the PPM it reads, then the file it writes
  bool mapped;          // made from the 3-3-2 colours (a GIF)
  bool uncompressed;
  bool runLength;  // run-length coded
};

extern const OutsideFile outsideFiles[];
extern const int outsideFileCount;

// A new scratch folder under the system's temporary folder ("" when none
// could be made), and its removal with everything in it.
std::string makeScratchFolder();
void removeScratchFolder(const std::string& folder);

// The tool's file of this picture, made in `folder` on first use (empty when
// the tool failed or is missing).
Bytes outsideFile(const OutsideFile& file, const SourcePicture& picture, const std::string& folder);

#endif
