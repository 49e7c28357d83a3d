// The formats pictool names, as the picture library lists them with what each
// one's writers keep (picture/core/format_info.h): the one table that decides
// how an image goes to a target format.
#ifndef TOOLS_PICTOOL_FORMATS_H
#define TOOLS_PICTOOL_FORMATS_H

#include <string>

#include "picture/core/format_info.h"

namespace pictool {

using Format = picFormatInfo;
using WrittenCompression = picWrittenCompression;
using MapWriter = picMapWriter;

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
// The compression of that name the format's writer makes, or null.
const WrittenCompression* compressionOf(const Format& format, const std::string& name);
// The usual extension of a format (its first).
std::string usualExtension(const Format& format);
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
