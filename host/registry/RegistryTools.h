// The registry from the command line: the check before kivo reads any event,
// kivo --registry URL --rebuild DIR and kivo --registry URL --export FORMAT.
#ifndef KIVO_HOST_REGISTRY_REGISTRY_TOOLS_H
#define KIVO_HOST_REGISTRY_REGISTRY_TOOLS_H

#include <functional>
#include <string>

#include "RegistryUrl.h"

namespace kivo::registry {

using Report = std::function<void(const std::string&)>;

// Empty when the registry `url` can be written now (its tables created or
// brought up to date), else why not; `fatal` tells a registry that will not
// do (a file that is not a registry or cannot be opened, a schema of a newer
// kivo) from one locked, unreachable or full for now.
std::string registry_problem(const RegistryUrl& url, bool& fatal);

// Records every run file of `directory` in `url` (again: a run recorded
// before keeps its row and its certifications); runs whose file names no
// stand are recorded as `stand`'s. Progress and problems go to `report`.
// Returns the exit status: 0, or 1 when a file could not be read or the
// registry could not be written.
int rebuild_registry(const RegistryUrl& url, const std::string& directory, const std::string& stand,
                     const Report& report);

// Writes the registry's runs whose first event is on or after `since` (empty:
// all) to standard output as "csv" or "json". Returns the exit status.
int export_registry(const RegistryUrl& url, const std::string& format, const std::string& since,
                    const Report& report);

// The export formats.
bool is_export_format(const std::string& format);

}  // namespace kivo::registry

#endif
