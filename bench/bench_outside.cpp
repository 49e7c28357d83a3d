// Other tools' files of the picture, written through the shell into a
// scratch folder.
#include "bench_outside.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// ImageMagick writes them all. No tool at hand writes a run-length Sun raster
// of this picture (ImageMagick stores RGB plain whatever is asked; pnmtorast
// -rle stores it plain when runs would not make it smaller). ImageMagick 6
// stores Targa rows top first under a descriptor that says bottom first, so
// its source is flipped for the file to show the picture.
const OutsideFile outsideFiles[] = {
    {"bmp", "im-bmp", "BMP 24-bit", "ImageMagick", "convert-im6.q16 %s bmp:%s", false, true, false},
    {"pcx", "im-pcx", "PCX 24-bit", "ImageMagick", "convert-im6.q16 %s pcx:%s", false, false, true},
    {"gif", "im-gif", "GIF", "ImageMagick", "convert-im6.q16 %s gif:%s", true, false, false},
    {"tiff", "im-tiff", "TIFF none", "ImageMagick", "convert-im6.q16 %s -compress none tiff:%s", false, true, false},
    {"tiff", "im-tiff-lzw", "TIFF LZW", "ImageMagick", "convert-im6.q16 %s -compress lzw tiff:%s", false, false, false},
    {"sun", "im-sun", "Sun raster", "ImageMagick", "convert-im6.q16 %s sun:%s", false, true, false},
    {"sgi", "im-sgi", "SGI verbatim", "ImageMagick", "convert-im6.q16 %s -compress none sgi:%s", false, true, false},
    {"sgi", "im-sgi-rle", "SGI RLE", "ImageMagick", "convert-im6.q16 %s -compress RLE sgi:%s", false, false, true},
    {"tga", "im-tga", "TGA none", "ImageMagick", "convert-im6.q16 %s -flip -compress none tga:%s", false, true, false},
    {"tga", "im-tga-rle", "TGA rle", "ImageMagick", "convert-im6.q16 %s -flip -compress RLE tga:%s", false, false, true},
    {"pnm", "im-ppm", "PPM", "ImageMagick", "convert-im6.q16 %s ppm:%s", false, true, false},
    {"png", "im-png", "PNG level 6", "ImageMagick",
     "convert-im6.q16 %s -define png:compression-level=6 png:%s", false, false, false},
};
const int outsideFileCount = int(sizeof outsideFiles / sizeof outsideFiles[0]);

namespace {

Bytes ppmOf(const SourcePicture& p, bool mapped) {
  const std::string header = "P6\n" + std::to_string(p.side) + " " + std::to_string(p.side) + "\n255\n";
  Bytes out(header.begin(), header.end());
  const Bytes pixels = expectedPixels(p, mapped);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

bool exists(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

}  // namespace

std::string makeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/solsys-bench-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : "";
}

void removeScratchFolder(const std::string& folder) {
  if (folder.empty()) return;
  const std::string command = "rm -rf '" + folder + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

Bytes outsideFile(const OutsideFile& file, const SourcePicture& p, const std::string& folder) {
  if (folder.empty()) return {};
  const std::string side = std::to_string(p.side);
  const std::string source = folder + "/picture-" + side + (file.mapped ? "-map" : "") + ".ppm";
  const std::string target = folder + "/" + file.key + "-" + side;
  if (!exists(source) && !writeWholeFile(source, ppmOf(p, file.mapped))) return {};
  char command[1024];
  std::snprintf(command, sizeof command, file.command, source.c_str(), target.c_str());
  if (std::system(command) != 0) return {};
  Bytes bytes = readWholeFile(target);
  std::remove(target.c_str());  // the benchmark keeps its own copy
  return bytes;
}
