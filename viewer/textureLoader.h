/* Texture loading: an image file read through the picture library becomes an
 * OpenGL texture with power-of-two sides. */
#ifndef VIEWER_TEXTURELOADER_H
#define VIEWER_TEXTURELOADER_H

#include <stdint.h>

#include "viewer/textureObject.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TEXTURE_READ_ERROR_STATUS 1

/* Loads `fileName` into `texture` (needs a current OpenGL context). A missing,
 * unrecognised or colour-mapped image leaves the record without a texture after
 * its progress line. An identified image that cannot be read, or whose size
 * does not fit the counts, ends the process with status 1. */
void loadTexture(const char* fileName, TextureObject* texture, uint8_t mipmapped, uint8_t modulated);

#ifdef __cplusplus
}
#endif

#endif
