// kivo's standard output and error as a reader may leave them: a pipe whose
// reader has gone (`kivo ... | head -1`) must end the printing, never the
// processing. SIGPIPE is ignored, so that a write to it fails instead of
// killing kivo; what failed is told once at the end, when the exit status
// says that the output was cut.
#ifndef KIVO_HOST_STANDARD_STREAMS_H
#define KIVO_HOST_STANDARD_STREAMS_H

#include <string>

namespace kivo::host {

// Ignores SIGPIPE for the whole process. Children reset it before they run.
void ignore_broken_pipes();

// Which of standard output and error could not take everything written to
// them (a write failed, or flushing what is buffered fails now): "standard
// output", "standard error", both joined by "and", or empty when neither.
// Once failed, a stream is given to /dev/null, so that what follows costs
// no more writes.
std::string cut_standard_streams();

// The message kivo ends with when `cut` (as above) is not empty.
std::string cut_output_message(const std::string& cut);

}  // namespace kivo::host

#endif
