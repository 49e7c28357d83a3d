/* Collection and report of pending OpenGL errors, under a diagnostic header that
 * names the call site. */
#ifndef VIEWER_GLERRORS_H
#define VIEWER_GLERRORS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  GL_REPORT_CONSOLE = 0, /* standard error */
  GL_REPORT_DIALOG = 1,  /* standard error, then a modal message dialog */
  GL_REPORT_DISCARD = 2  /* any other value: the fetched errors are dropped */
};

#define DIAGNOSTIC_HEADER_SIZE 512 /* buffer callers format the header into */
#define GL_REPORT_TEXT_SIZE 600    /* working text of one collection, terminator included */
#define GL_REPORT_TEXT_LIMIT 512   /* no error is appended once the text is this long */

/* Formats "\n Arquivo fonte: <file>  \n Linha: <line>  compilacao: <date>-<time>\n"
 * into `header` (cut to `size` - 1 characters). */
void formatDiagnosticHeader(char* header, size_t size, const char* file, int line,
                            const char* date, const char* time);

/* The header of the line where it is written, in this build. */
#define FORMAT_DIAGNOSTIC_HEADER(header) \
  formatDiagnosticHeader((header), sizeof(header), __FILE__, __LINE__, __DATE__, __TIME__)

/* Drains pending OpenGL errors (one line per distinct description) and reports
 * them by `mode`. Needs a current OpenGL context. Writes nothing when none was
 * pending. */
void reportGLErrors(const char* header, int mode);

#ifdef __cplusplus
}
#endif

#endif
