#include "fuzz_picture.h"

#include <cstdlib>

bool fuzzLoadPicture(const char* name, int64_t maxPixels, FuzzPicture* picture) {
  if (picImageInfo(name, &picture->width, &picture->height, &picture->colourMode, &picture->colours) !=
          PIC_OK ||
      int64_t(picture->width) * picture->height > maxPixels)
    return false;
  const size_t pixels = size_t(picture->width) * size_t(picture->height);
  for (auto* plane : {&picture->red, &picture->green, &picture->blue, &picture->indices})
    plane->assign(pixels, 0);
  const int planes = picLoadRGB(name, picture->red.data(), picture->green.data(), picture->blue.data());
  if (picture->colourMode != PIC_MAP) return planes == PIC_OK;
  const int indices = picLoadMap(name, picture->indices.data(), picture->map.data());
  if ((planes == PIC_OK) != (indices == PIC_OK)) std::abort();  // the two loads disagree
  return planes == PIC_OK;
}

int fuzzSavePicture(const FuzzPicture& picture, int format, const char* name) {
  int status = PIC_ERR_DATA;
  if (picture.colourMode == PIC_MAP)
    status = picSaveMap(picture.width, picture.height, format, picture.indices.data(), picture.colours,
                        picture.map.data(), name);
  if (status == PIC_ERR_DATA)
    status = picSaveRGB(picture.width, picture.height, format, picture.red.data(), picture.green.data(),
                        picture.blue.data(), name);
  return status;
}
