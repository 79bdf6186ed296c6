#include "TError.h"

#include <cstdarg>
#include <cstdio>

namespace {

void Report(const char* level, const char* location, const char* fmt, va_list ap) {
  std::fprintf(stderr, "%s in <%s>: ", level, location);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
}

}  // namespace

void Info(const char* location, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Report("Info", location, fmt, ap);
  va_end(ap);
}

void Warning(const char* location, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Report("Warning", location, fmt, ap);
  va_end(ap);
}

void Error(const char* location, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Report("Error", location, fmt, ap);
  va_end(ap);
}
