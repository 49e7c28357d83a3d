// What pictool adds to the library's list of formats: finding them by name,
// prefix and extension, and the texts of --help. Writers, as their drivers
// implement them (each driver's picFormatInfo says so):
// - GIF and ZOT hold colour maps only: true colour is quantised for them.
// - BMP, PCX, TIFF, Sun raster, Targa, PNM and PNG write a map as it is (PNM
//   writes a grey map as P5 and any other as P6). An output named .pgm or .pbm
//   is turned into grey levels first, so it is written as P5 (there is no PBM
//   writer: a .pbm file holds the grey levels as P5).
// - JPEG writes a map as the grey levels of its entries, SGI writes the
//   indices as grey levels: a map that is not grey goes to them as true colour.
// The compressions listed per format are the ones its writer really makes:
// a writer given another code writes something else or fails, so the tool
// refuses it before anything is written.
#include "tools/pictool/formats.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <sstream>

#include "picture/core/picture.h"

namespace pictool {

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool listed(const char* list, const std::string& word) {
  std::istringstream words(list);
  return std::find(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>(), word) !=
         std::istream_iterator<std::string>();
}

// The library's list, as a range.
struct Formats {
  const Format* const* begin_;
  int count;
  const Format* const* begin() const { return begin_; }
  const Format* const* end() const { return begin_ + count; }
};
Formats formats() {
  Formats list;
  list.begin_ = picFormatList(&list.count);
  return list;
}

}  // namespace

void registerFormats() { picRegisterExtraDrivers(); }

const WrittenCompression* compressionOf(const Format& format, const std::string& wanted) {
  for (const WrittenCompression& written : format.compressions)
    if (written.name && wanted == written.name) return &written;
  return nullptr;
}

std::string usualExtension(const Format& format) {
  const std::string extensions = format.extensions;
  return extensions.substr(0, extensions.find(' '));
}

const Format* formatByName(const std::string& name) {
  for (const Format* format : formats())
    if (name == format->name) return format;
  return nullptr;
}

const Format* formatByExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
  const std::string extension = lowerCase(path.substr(dot));
  for (const Format* format : formats())
    if (listed(format->extensions, extension)) return format;
  return nullptr;
}

bool namesGreyPnm(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string extension = lowerCase(path.substr(dot));
  return extension == ".pgm" || extension == ".pbm";
}

const Format* formatByPrefix(const std::string& prefix) {
  const std::string lower = lowerCase(prefix);
  if (const Format* format = formatByName(lower)) return format;
  if (lower == "jpg" || lower == "tif") return formatByName(lower == "jpg" ? "jpeg" : "tiff");
  return lower.empty() ? nullptr : formatByExtension("." + lower);
}

std::string compressionTable() {
  std::string table;
  for (const Format* format : formats()) {
    std::string line = std::string(24, ' ') + format->name + std::string(6 - std::strlen(format->name), ' ');
    for (const WrittenCompression& written : format->compressions) {
      if (!written.name) break;
      if (&written != format->compressions) line += "; ";
      line += std::string(written.name) + " (" + written.meaning + ")";
    }
    table += line + "\n";
  }
  return table;
}

const Format* formatByDriver(int driverIndex) {
  for (const Format* format : formats())
    if (driverIndex >= 0 && driverOf(*format) == driverIndex) return format;
  return nullptr;
}

int driverOf(const Format& format) { return picFormatDriverIndex(format); }

std::string formatNames() {
  std::string names;
  for (const Format* format : formats()) names += std::string(names.empty() ? "" : " ") + format->name;
  return names;
}

std::string formatExtensions() {
  std::string extensions;
  size_t lineStart = 0;
  for (const Format* format : formats()) {
    if (extensions.size() - lineStart > 40) extensions += "\n                      ", lineStart = extensions.size();
    extensions += std::string(extensions.empty() || lineStart == extensions.size() ? "" : " ") + format->extensions;
  }
  return extensions;
}

}  // namespace pictool
