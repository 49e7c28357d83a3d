// Kind names and the console reports of the allocator.
#include "nrutil/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
// Room for a source path of PATH_MAX bytes and the longest message around it.
constexpr size_t MESSAGE_CAPACITY = 4096 + 256;
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

static void g_report_formatted(const char* file, int line, const char* date, const char* time,
                               const char* format, va_list arguments) {
  char message[MESSAGE_CAPACITY];
  std::vsnprintf(message, MESSAGE_CAPACITY, format, arguments);
  g_report_location(file, line, date, time);
  g_warning(message);
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
