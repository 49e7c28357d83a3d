// solsys-snapshot FRAME OUTPUT
//
// Draws frames 1 to FRAME of the viewer's scene (textures "Sun.jpg",
// "Moon.jpg", "Earth.jpg" from the working directory, as the viewer reads them)
// into a 500 x 500 buffer without a window or a display, and saves the last one
// to OUTPUT in the format its extension names.
#include <GL/gl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/core/picture.h"
#include "viewer/frameLoop.h"
#include "viewer/offscreenContext.h"

namespace {

constexpr long kMaxFrame = 100000000;

// JPEG files are always compressed; the driver refuses the plain code.
constexpr int kJpeg = PIC_DRIVER_JPEG | PIC_COMP_RLE;

struct Extension {
  const char* name;
  int format;
};

// The formats that store true colour (GIF and ZOT hold colour maps only).
const Extension kExtensions[] = {
    {"bmp", PIC_DRIVER_BMP}, {"pcx", PIC_DRIVER_PCX}, {"tif", PIC_DRIVER_TIFF}, {"tiff", PIC_DRIVER_TIFF},
    {"ras", PIC_DRIVER_SUN}, {"sun", PIC_DRIVER_SUN}, {"sgi", PIC_DRIVER_SGI},  {"rgb", PIC_DRIVER_SGI},
    {"jpg", kJpeg},          {"jpeg", kJpeg},         {"tga", PIC_DRIVER_TARGA},
};

// The format code for the file name's extension, or -1.
int formatFor(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Extension& known : kExtensions) {
    if (extension == known.name) return known.format;
  }
  return -1;
}

int usage() {
  std::fprintf(stderr,
               "usage: solsys-snapshot FRAME OUTPUT\n"
               "  FRAME   1 to %ld (frame n shows the clock at 0.1 * (n - 1) hours)\n"
               "  OUTPUT  .bmp .pcx .tif .ras .sgi .jpg or .tga\n",
               kMaxFrame);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return usage();
  errno = 0;
  char* end = nullptr;
  const long frame = std::strtol(argv[1], &end, 10);
  if (errno != 0 || end == argv[1] || *end != '\0' || frame < 1 || frame > kMaxFrame) return usage();
  const std::string output = argv[2];
  const int format = formatFor(output);
  if (format < 0) {
    std::fprintf(stderr, "solsys-snapshot: no known picture format for %s\n", output.c_str());
    return usage();
  }

  if (openOffscreenContext(WINDOW_WIDTH, WINDOW_HEIGHT) != 0) return 1;
  loadSceneTextures();
  // The window's first frame comes from the reshape handler, after these defaults.
  setViewDefaults();
  for (long i = 0; i < frame; ++i) renderFrame();
  glFinish();

  const size_t pixels = static_cast<size_t>(WINDOW_WIDTH) * WINDOW_HEIGHT;
  std::vector<uint8_t> rgb(pixels * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());  // bottom row first
  std::vector<uint8_t> red(pixels), green(pixels), blue(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    red[i] = rgb[3 * i];
    green[i] = rgb[3 * i + 1];
    blue[i] = rgb[3 * i + 2];
  }
  const int status =
      picSaveRGB(WINDOW_WIDTH, WINDOW_HEIGHT, format, red.data(), green.data(), blue.data(), output.c_str());
  if (status != PIC_OK) {
    std::fprintf(stderr, "solsys-snapshot: cannot write %s (status %d)\n", output.c_str(), status);
    return 1;
  }
  return 0;
}
