// The formats pictool names, and what each one's writers keep: the one table
// that decides how an image goes to a target format.
#ifndef TOOLS_PICTOOL_FORMATS_H
#define TOOLS_PICTOOL_FORMATS_H

#include <string>

namespace pictool {

// What a format's colour-map writer makes of a map.
enum class MapWriter {
  keeps,          // the map and the indices, as they are
  greyLevels,     // the grey level of each pixel's entry: a map that is not grey loses its colours
  indicesAsGrey,  // the indices themselves as grey levels: only a grey ramp survives
};

// A compression a format's writer really makes, under the name --compression takes.
struct WrittenCompression {
  const char* name;     // none, rle or lzw; null ends a list
  int code;             // PIC_COMP_*
  const char* meaning;  // for --help: what the file holds
  bool mapsOnly;        // true colour is never written so
};

struct Format {
  const char* name;        // as `info` prints it and `--format` takes it
  int builtInDriver;       // PIC_DRIVER_*, or -1 for a driver registered behind them
  int extraOffset;         // PIC_EXTRA_* when builtInDriver is -1
  const char* extensions;  // space-separated, with the dot
  bool writesRgb;          // false: colour-mapped only (the tool quantises true colour)
  MapWriter mapWriter;
  // What --compression may ask; the first is the format's usual one, used without it.
  WrittenCompression compressions[4];

  int defaultCompression() const { return compressions[0].code; }
  // Null when the writer does not make that compression.
  const WrittenCompression* compression(const std::string& name) const;
};

// Registers the drivers that are not built in; call once before the others.
void registerFormats();
const Format* formatByName(const std::string& name);
// By the extension of a path, case-insensitive.
const Format* formatByExtension(const std::string& path);
// True for a path ending in .pgm or .pbm (any case): PNM files of grey levels.
bool namesGreyPnm(const std::string& path);
// The format of a driver's table index; null for an index no format names.
const Format* formatByDriver(int driverIndex);
// The driver's table index, or -1 when the driver is not available.
int driverOf(const Format& format);
// All names, space-separated, for messages and --help.
std::string formatNames();
// The format a name (any case) or an extension without its dot names, as in
// "png:-" or "jpg:photo"; null for none.
const Format* formatByPrefix(const std::string& prefix);
// Lines for --help: each format and the compressions its writer makes.
std::string compressionTable();
// All extensions, space-separated, in lines indented for --help.
std::string formatExtensions();

}  // namespace pictool

#endif
