// Where the event-access library reports bad input: one line per problem,
// by default on standard error after the program's name. Tests install their own sink to capture them.
#ifndef KIVO_EVENTIO_DIAGNOSTICS_H
#define KIVO_EVENTIO_DIAGNOSTICS_H

#include <functional>
#include <string>

namespace kivo::eventio {

using DiagnosticSink = std::function<void(const std::string& line)>;

// Installs `sink` (an empty function restores the standard-error sink) and
// returns the previous one. Not synchronised: install it before reading starts.
DiagnosticSink set_diagnostic_sink(DiagnosticSink sink);

// Sends one line (without newline) to the current sink.
void report_diagnostic(const std::string& line);

}  // namespace kivo::eventio

#endif
