// Failure reports that name the allocator's own source location.
#pragma once

#include "nrutil/nrutil.h"

// Expands to the location arguments of the statement where it is written.
#define G_HERE __FILE__, __LINE__, __DATE__, __TIME__

// Location report, then the formatted message through g_fatal.
[[noreturn]] void g_fail(const char* file, int line, const char* date, const char* time,
                         const char* format, ...) __attribute__((format(printf, 5, 6)));
// Location report, then the formatted message through g_warning.
void g_warn(const char* file, int line, const char* date, const char* time, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
