// Where an output file may be replaced atomically. Writers put a complete
// file beside its path under a temporary name and rename it into place; that
// is only right for a plain file. Renaming over a device such as /dev/null, a
// named pipe or a symbolic link would replace it instead of writing to it.
#ifndef KIVO_EVENTIO_OUTPUT_PATH_H
#define KIVO_EVENTIO_OUTPUT_PATH_H

#include <string>

namespace kivo::eventio {

// True when `path` does not exist yet or is a regular file (not a link to one).
bool replaceable_by_rename(const std::string& path);

}  // namespace kivo::eventio

#endif
