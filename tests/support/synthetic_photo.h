// A photograph-like test picture: smooth colour fields with soft edges and a
// little sensor noise, tens of thousands of distinct colours.
#ifndef TESTS_SUPPORT_SYNTHETIC_PHOTO_H
#define TESTS_SUPPORT_SYNTHETIC_PHOTO_H

#include "image_peer.h"

RgbImage makePhotoLikeImage(int width, int height, unsigned seed = 1);
// Mean absolute difference per sample; -1 for images of different sizes.
double meanAbsoluteError(const RgbImage& a, const RgbImage& b);

#endif
