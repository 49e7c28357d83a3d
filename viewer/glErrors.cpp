// The OpenGL error collector. Every write into the working text is bounded, so
// neither a long header nor a long description can overrun it.
#include "viewer/glErrors.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "widgets/messageDialog.h"

namespace {

constexpr const char* kDialogTitle = "Erro no OpenGL";
constexpr const char* kMessagePrefix = "\n Mensagem OpenGL: ";

// Appends as much of `more` as fits; returns the new length.
size_t appendBounded(char* text, size_t length, size_t capacity, const char* more) {
  if (length + 1 >= capacity) return length;
  const size_t room = capacity - 1 - length;
  const size_t count = std::min(std::strlen(more), room);
  std::memcpy(text + length, more, count);
  length += count;
  text[length] = '\0';
  return length;
}

}  // namespace

extern "C" void formatDiagnosticHeader(char* header, size_t size, const char* file, int line,
                                       const char* date, const char* time) {
  if (header == nullptr || size == 0) return;
  std::snprintf(header, size, "\n Arquivo fonte: %s  \n Linha: %d  compilacao: %s-%s\n", file, line, date, time);
}

extern "C" void reportGLErrors(const char* header, int mode) {
  char text[GL_REPORT_TEXT_SIZE];
  text[0] = '\0';
  const size_t headerLength = appendBounded(text, 0, sizeof text, header ? header : "");
  size_t length = headerLength;

  for (;;) {
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) break;
    if (length >= GL_REPORT_TEXT_LIMIT) break;
    const GLubyte* known = gluErrorString(error);
    char unknown[40];
    const char* description = reinterpret_cast<const char*>(known);
    if (description == nullptr) {  // GLU has no text for this code
      std::snprintf(unknown, sizeof unknown, "erro 0x%04X", static_cast<unsigned>(error));
      description = unknown;
    }
    if (std::strstr(text, description) != nullptr) break;
    length = appendBounded(text, length, sizeof text, kMessagePrefix);
    length = appendBounded(text, length, sizeof text, description);
  }

  if (length == headerLength) return;
  if (mode != GL_REPORT_CONSOLE && mode != GL_REPORT_DIALOG) return;
  std::fprintf(stderr, "\n%s: %s\n", kDialogTitle, text);
  std::fflush(stderr);
  if (mode == GL_REPORT_DIALOG) wdgMessageDialog(kDialogTitle, text);
}
