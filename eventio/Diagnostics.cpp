#include "Diagnostics.h"

#include <errno.h>

#include <cstdio>
#include <utility>

namespace kivo::eventio {
namespace {

// "PROGRAM: line", as every message of the KIVO programs begins.
void write_to_stderr(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
}

DiagnosticSink& current_sink() {
  static DiagnosticSink sink = write_to_stderr;
  return sink;
}

}  // namespace

DiagnosticSink set_diagnostic_sink(DiagnosticSink sink) {
  if (!sink) sink = write_to_stderr;
  return std::exchange(current_sink(), std::move(sink));
}

void report_diagnostic(const std::string& line) { current_sink()(line); }

}  // namespace kivo::eventio
