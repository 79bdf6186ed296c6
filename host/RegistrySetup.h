// The run registry the command line asks for: the one a recording kivo
// writes (with --archive DIR: DIR/registry.sqlite, or --registry URL), and
// the registry's own uses, kivo --rebuild DIR and kivo --export FORMAT.
#ifndef KIVO_HOST_REGISTRY_SETUP_H
#define KIVO_HOST_REGISTRY_SETUP_H

#include <memory>
#include <optional>
#include <string>

#include "Options.h"
#include "RegistryUrl.h"
#include "RegistryWriter.h"

namespace kivo::host {

// Whether the options ask for --rebuild or --export rather than for events.
bool is_registry_tool(const Options& options);
// Runs --rebuild or --export; the exit status (2 for a usage error).
int run_registry_tool(const Options& options);

// The registry a kivo with these options records its runs in: none without
// --archive. Checked now, before any event is read: empty, or the usage
// error naming the URL or file. A registry locked or away now is taken, and
// `unavailable` says why it cannot be written: its runs wait beside the archive.
std::string registry_setup(const Options& options, std::optional<registry::RegistryUrl>& url,
                           std::string& unavailable);

// The writer of the registry, its queue in the archive directory; it tells
// `unavailable`, if any.
std::unique_ptr<registry::RegistryWriter> start_registry_writer(const registry::RegistryUrl& url,
                                                                const std::string& archive_directory,
                                                                const std::string& unavailable);

}  // namespace kivo::host

#endif
