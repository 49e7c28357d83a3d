/* The viewer's record of one texture. */
#ifndef VIEWER_TEXTUREOBJECT_H
#define VIEWER_TEXTUREOBJECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TextureObject {
  char* name;          /* heap copy of the file name; never released */
  uint32_t textureId;  /* OpenGL texture name; 0 while no texture was uploaded */
  uint8_t mipmapped;   /* non-zero: full mipmap chain, trilinear minification */
  uint8_t modulated;   /* non-zero: GL_MODULATE; zero: GL_REPLACE */
  int32_t height;      /* texels, a power of two plus 2 * border */
  int32_t width;       /* texels, a power of two plus 2 * border */
  int32_t border;      /* always 0 */
  uint8_t* texels;     /* height * 3 * width bytes, RGB, first row = t 0; kept for the process */
} TextureObject;

#ifdef __cplusplus
}
#endif

#endif
