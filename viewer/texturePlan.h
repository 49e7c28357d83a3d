/* Pure helpers of texture loading: the texture size for an image, and the
 * interleaving (with rescaling when the sides differ) of the image's planes
 * into the texture's RGB buffer. */
#ifndef VIEWER_TEXTUREPLAN_H
#define VIEWER_TEXTUREPLAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TexturePlan {
  int32_t imageWidth;
  int32_t imageHeight;
  int32_t width;      /* texture width: smallest power of two >= image width, plus 2 * border */
  int32_t height;     /* texture height, the same from the image height */
  int32_t planeCount; /* bytes of one image plane: image width * height */
  int32_t texelCount; /* bytes of the texture buffer: height * 3 * width */
} TexturePlan;

/* Fills `plan`; returns 1 when the image sides are not negative and every count
 * (including image width * height * 3) fits an int, 0 otherwise. */
int planTexture(int imageWidth, int imageHeight, int border, TexturePlan* plan);

/* Interleaves the planes (bottom row first) into `texels` (plan->texelCount
 * bytes, first row = t 0). Equal sizes are copied pixel for pixel; otherwise the
 * image is rescaled bilinearly to fill the whole texture, upright. */
void fillTexels(const TexturePlan* plan, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                uint8_t* texels);

#ifdef __cplusplus
}
#endif

#endif
