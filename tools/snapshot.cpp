// solsys-snapshot FRAME OUTPUT
//
// Draws frames 1 to FRAME of the viewer's scene (textures "Sun.jpg",
// "Moon.jpg", "Earth.jpg" from the working directory, as the viewer reads them)
// into a 500 x 500 buffer without a window or a display, and saves the last one
// to OUTPUT in the format its extension names (any format of the library's
// list that holds true colour).
#include <GL/gl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "viewer/frameLoop.h"
#include "viewer/offscreenContext.h"

namespace {

constexpr long kMaxFrame = 100000000;

// The format code for the file name's extension: a format that holds true
// colour, with its usual compression (JPEG's only one); -1 for none.
int formatFor(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  int count = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  for (int i = 0; i < count; ++i) {
    std::istringstream known(formats[i]->extensions);
    std::string candidate;
    while (known >> candidate)
      if (candidate == extension && formats[i]->writesRgb && picFormatDriverIndex(*formats[i]) >= 0)
        return picFormatDriverIndex(*formats[i]) | formats[i]->compressions[0].code;
  }
  return -1;
}

// The extensions formatFor knows, for the usage text.
std::string trueColourExtensions() {
  std::string list;
  int count = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  for (int i = 0; i < count; ++i)
    if (formats[i]->writesRgb) list += std::string(list.empty() ? "" : " ") + formats[i]->extensions;
  return list;
}

int usage() {
  std::fprintf(stderr,
               "usage: solsys-snapshot FRAME OUTPUT\n"
               "  FRAME   1 to %ld (frame n shows the clock at 0.1 * (n - 1) hours)\n"
               "  OUTPUT  %s\n",
               kMaxFrame, trueColourExtensions().c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  picRegisterExtraDrivers();  // PNM and PNG too
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
