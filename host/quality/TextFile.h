// Reading a whole file given on the command line or at the prompt.
#ifndef KIVO_HOST_QUALITY_TEXT_FILE_H
#define KIVO_HOST_QUALITY_TEXT_FILE_H

#include <string>

namespace kivo::quality {

// The whole content of `path` into `text`; false with `error` naming the
// file and the reason (a directory is refused).
bool read_text_file(const std::string& path, std::string& text, std::string& error);

}  // namespace kivo::quality

#endif
