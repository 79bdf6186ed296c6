// One file of the run archive, written as its objects come: each is
// compressed and written out at once, so that writing a run never needs more
// than one object's bytes beside the copy it is made from. The file is put
// in place only while no file has its name, and reaches the disk before kivo
// says it is written.
#ifndef KIVO_HOST_RUN_FILE_H
#define KIVO_HOST_RUN_FILE_H

#include <functional>
#include <string>

#include "RootStreamer.h"

namespace kivo::host {

// Takes one object for the file; false with `error` when it cannot be written.
using AddObject = std::function<bool(rootcompat::StreamedObject object, std::string& error)>;
// Hands every object of a file to `add`, in order; false with `error`.
using ObjectSource = std::function<bool(const AddObject& add, std::string& error)>;

// Writes the objects of `source` as a ROOT file titled `title` at the path
// `free_path()` gives. When another writer puts a file there first, that
// file stays and the new one goes to the path `free_path()` gives next (it
// keeps the name it was made for inside). Returns the path written, with its
// size in `bytes`, or nothing with `error` naming the file; nothing is left
// behind then.
std::string write_new_run_file(const std::function<std::string()>& free_path, const std::string& title,
                               const ObjectSource& source, long long& bytes, std::string& error);

}  // namespace kivo::host

#endif
