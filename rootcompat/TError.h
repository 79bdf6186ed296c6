// ROOT's message functions: one line on standard error, "Warning in <location>: text".
#ifndef ROOT_TError
#define ROOT_TError

#include "Rtypes.h"

void Info(const char* location, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Warning(const char* location, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Error(const char* location, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

#endif
