// Texture files for viewer tests, written through the picture library.
#ifndef TESTS_SUPPORT_VIEWER_TEXTURES_H
#define TESTS_SUPPORT_VIEWER_TEXTURES_H

#include <string>

#include "viewer_harness.h"

// The format code of JPEG files (always compressed).
extern const int kJpegFormat;

// The colours of the uniform test textures: each body shows its own hue.
extern const Rgb kSunColour;    // magenta-ish, shown as is (replace mode)
extern const Rgb kEarthColour;  // green, multiplied by the light
extern const Rgb kMoonColour;   // blue, multiplied by the light

// Writes a width x height picture of one colour; `topColour` fills the upper
// half when given. Returns the picture library's status.
int writeTexture(const std::string& path, int format, int width, int height, Rgb colour,
                 const Rgb* topColour = nullptr);

// Writes Sun.jpg, Earth.jpg and Moon.jpg (JPEG, 64 x 32) of the colours above
// into `directory`; true when all three were written.
bool writeUniformTextures(const std::string& directory);

// The path of a program built in the tree named by SOLSYS_BINARY_DIR (the
// environment's value first, then `fallback`).
std::string builtProgram(const std::string& relativePath, const char* fallback);

// True when the colour's channel `dominant` (0 red, 1 green, 2 blue) exceeds
// both others by at least `margin`.
bool dominates(const Rgb& colour, int dominant, int margin);
// True when each channel is within `tolerance` of the other colour's.
bool near(const Rgb& a, const Rgb& b, int tolerance);

#endif
