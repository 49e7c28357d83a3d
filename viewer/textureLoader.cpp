// Texture loading. The image's planes and the texture buffer are arrays of the
// guarded allocator; the buffer stays for the life of the process.
#include "viewer/textureLoader.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nrutil/nrutil.h"
#include "picture/core/picture.h"
#include "viewer/glErrors.h"
#include "viewer/texturePlan.h"

namespace {

[[noreturn]] void failRead(const char* fileName) {
  std::fprintf(stderr, "Erro ao ler arquivo de texura: #%s#\n", fileName);
  std::fflush(stderr);
  std::exit(TEXTURE_READ_ERROR_STATUS);
}

char* copyName(const char* fileName) {
  const size_t size = std::strlen(fileName) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, fileName, size);
  return copy;
}

// Releases the planes that were made; a null one (failed block) is skipped.
void releasePlanes(uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (red != nullptr) G_FREE_ARRAY(red, VECTOR);
  if (green != nullptr) G_FREE_ARRAY(green, VECTOR);
  if (blue != nullptr) G_FREE_ARRAY(blue, VECTOR);
}

void upload(TextureObject* texture) {
  GLuint id = 0;
  glGenTextures(1, &id);
  texture->textureId = id;
  glBindTexture(GL_TEXTURE_2D, texture->textureId);
  // Rows of 1 or 2 RGB texels are 3 or 6 bytes long: no padding between rows.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (texture->mipmapped) {
    gluBuild2DMipmaps(GL_TEXTURE_2D, 3, texture->width, texture->height, GL_RGB, GL_UNSIGNED_BYTE,
                      texture->texels);
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, texture->width, texture->height, texture->border, GL_RGB,
                 GL_UNSIGNED_BYTE, texture->texels);
  }
}

}  // namespace

extern "C" void loadTexture(const char* fileName, TextureObject* texture, uint8_t mipmapped, uint8_t modulated) {
  std::fprintf(stderr, "Carregando Textura: %s\n", fileName);
  std::fflush(stderr);
  texture->name = copyName(fileName);
  texture->mipmapped = mipmapped;
  texture->modulated = modulated;

  int imageWidth = 0;
  int imageHeight = 0;
  int colourMode = 0;
  int colours = 0;
  const int described = picImageInfo(fileName, &imageWidth, &imageHeight, &colourMode, &colours);
  // Recognised but refused (over the library's pixel limit, say): a read failure,
  // not a missing file.
  if (described == PIC_ERR_DATA || described == PIC_ERR_COMPRESSION) failRead(fileName);
  if (described != PIC_OK) return;
  if (colourMode == PIC_MAP) return;

  TexturePlan plan;
  if (!planTexture(imageWidth, imageHeight, 0, &plan)) failRead(fileName);

  const uint32_t planeCount = static_cast<uint32_t>(plan.planeCount);
  uint8_t* red = static_cast<uint8_t*>(G_NEW_ARRAY(1, VECTOR, planeCount, 0, 0, 0));
  uint8_t* green = static_cast<uint8_t*>(G_NEW_ARRAY(1, VECTOR, planeCount, 0, 0, 0));
  uint8_t* blue = static_cast<uint8_t*>(G_NEW_ARRAY(1, VECTOR, planeCount, 0, 0, 0));
  if (red == nullptr || green == nullptr || blue == nullptr) {  // the allocator has warned
    releasePlanes(red, green, blue);
    return;
  }
  // Sized: a file replaced by a larger one since it was described must not
  // overrun the planes.
  if (picLoadRGBSized(fileName, imageWidth, imageHeight, red, green, blue) != PIC_OK)
    failRead(fileName);

  const uint32_t texelCount = static_cast<uint32_t>(plan.texelCount);
  uint8_t* texels = static_cast<uint8_t*>(G_NEW_ARRAY(1, VECTOR, texelCount, 0, 0, 0));
  if (texels == nullptr) {
    releasePlanes(red, green, blue);
    return;
  }
  texture->border = 0;
  texture->width = plan.width;
  texture->height = plan.height;
  texture->texels = texels;
  fillTexels(&plan, red, green, blue, texture->texels);
  releasePlanes(red, green, blue);

  upload(texture);
  char header[DIAGNOSTIC_HEADER_SIZE];
  FORMAT_DIAGNOSTIC_HEADER(header);
  reportGLErrors(header, GL_REPORT_CONSOLE);
}
