// Kind names and the console reports of the allocator.
#include "nrutil/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
// Room for every message whose source path is of usual length; longer ones
// are formatted on the heap.
constexpr size_t SHORT_MESSAGE_CAPACITY = 1024;
}  // namespace

extern "C" const char* kindName(int kind) {
  switch (kind) {
    case VECTOR: return "VECTOR";
    case MATRIX: return "MATRIX";
    case TRIMATRIX: return "TRIMATRIX";
    case QUADMATRIX: return "QUADMATRIX";
    default: return "UNDEFINED";
  }
}

extern "C" void g_warning(const char* message) {
  std::fprintf(stderr, "\nmsgErro: %s\n\n", message);
  std::fflush(stderr);
}

extern "C" void g_fatal(const char* message) {
  g_warning(message);
  std::abort();
}

extern "C" void g_report_location(const char* file, int line, const char* date, const char* time) {
  std::fprintf(stderr, "\n\nErro identificado pela gerencia de alocacao de memoria:");
  std::fprintf(stderr, "\n\n arquivo fonte: %s  \n linha: %d  compilacao: %s-%s", file, line, date,
               time);
  std::fflush(stderr);
}

// The message is formatted in full, whatever the length of the caller's
// source path. Only malloc is used, so nothing can throw out of C callers;
// when even that fails, the message is written straight to the stream with
// the same framing.
static void g_report_formatted(const char* file, int line, const char* date, const char* time,
                               const char* format, va_list arguments) {
  char shortMessage[SHORT_MESSAGE_CAPACITY];
  va_list measured;
  va_copy(measured, arguments);
  const int length = std::vsnprintf(shortMessage, sizeof shortMessage, format, measured);
  va_end(measured);
  char* message = shortMessage;
  if (length >= 0 && static_cast<size_t>(length) >= sizeof shortMessage) {
    message = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (message != nullptr) std::vsnprintf(message, static_cast<size_t>(length) + 1, format, arguments);
  }
  g_report_location(file, line, date, time);
  if (message == nullptr) {
    std::fputs("\nmsgErro: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputs("\n\n", stderr);
    std::fflush(stderr);
    return;
  }
  g_warning(message);
  if (message != shortMessage) std::free(message);
}

void g_fail(const char* file, int line, const char* date, const char* time, const char* format,
            ...) {
  va_list arguments;
  va_start(arguments, format);
  g_report_formatted(file, line, date, time, format, arguments);
  va_end(arguments);
  std::abort();  // as g_fatal, whose message line is already out
}

void g_warn(const char* file, int line, const char* date, const char* time, const char* format,
            ...) {
  va_list arguments;
  va_start(arguments, format);
  g_report_formatted(file, line, date, time, format, arguments);
  va_end(arguments);
}
