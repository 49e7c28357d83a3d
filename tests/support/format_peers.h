// More outside peers for the format tests: Pillow and netpbm decodes, and the
// drivers that are not built in, registered once per test program.
#ifndef TESTS_SUPPORT_FORMAT_PEERS_H
#define TESTS_SUPPORT_FORMAT_PEERS_H

#include <string>

#include "image_peer.h"

// Decodes the first image of a file with Pillow (/usr/bin/python3), as
// Image.open(path).convert("RGB") gives it.
bool pillowDecode(const std::string& path, RgbImage* image);
// Runs `command`, which writes a netpbm image to its standard output, and
// reads that through netpbm as 8-bit PPM (samples rescaled with rounding).
bool netpbmDecode(const std::string& command, RgbImage* image);

// picRegisterExtraDrivers, once: the PNM driver's index (PNG's is one more).
int extraDriversIndex();

// Every file in the folder loads from disk and from memory to a
// status code, the same both ways.
void expectSavedInputsEndInAStatus(const std::string& folder);

#endif
