#include "RegistrySetup.h"

#include <filesystem>

#include "CommandLine.h"
#include "RegistryTools.h"
#include "RunArchive.h"
#include "Session.h"

namespace kivo::host {

namespace {

constexpr int kExitUsage = 2;
constexpr const char* kQueueFolder = "registry-pending";

int usage_error(const std::string& subject, const std::string& reason) {
  std::fprintf(stderr, "%s\n", eventio::usage_message("kivo", subject, reason).c_str());
  return kExitUsage;
}

// The registry --registry names, or the archive directory's.
std::string resolve_url(const Options& options, const std::string& directory, registry::RegistryUrl& url) {
  if (!options.registry.empty()) return registry::parse_registry_url(options.registry, url);
  url = registry::archive_registry(directory);
  return {};
}

}  // namespace

bool is_registry_tool(const Options& options) { return !options.rebuild.empty() || !options.export_format.empty(); }

int run_registry_tool(const Options& options) {
  if (!options.rebuild.empty() && !options.export_format.empty())
    return usage_error("--rebuild", "--rebuild and --export are two separate runs of kivo");
  if (!options.streams.empty()) return usage_error(options.streams.front(), "--rebuild and --export read no stream");
  if (!options.since.empty() && options.export_format.empty()) return usage_error("--since", "only with --export");
  if (options.no_registry) return usage_error("--no-registry", "--rebuild and --export need a registry");
  const bool rebuild = !options.rebuild.empty();
  const char* subject = rebuild ? "--rebuild" : "--export";
  if (rebuild) {
    if (const std::string problem = RunArchive::directory_problem(options.rebuild); !problem.empty())
      return usage_error("--rebuild", options.rebuild + ": " + problem);
  } else if (options.registry.empty() && options.archive.empty()) {
    return usage_error("--export", "give the registry with --registry URL (or --archive DIR for DIR/registry.sqlite)");
  }
  registry::RegistryUrl url;
  if (const std::string problem = resolve_url(options, rebuild ? options.rebuild : options.archive, url);
      !problem.empty())
    return usage_error("--registry", problem);
  std::error_code missing;
  if (!rebuild && url.engine == registry::Engine::sqlite && !std::filesystem::exists(url.location, missing))
    return usage_error(subject, url.shown + ": no such registry file");
  bool fatal = false;
  if (const std::string problem = registry::registry_problem(url, fatal); !problem.empty()) {
    if (fatal) return usage_error("--registry", problem);
    report(std::string(subject) + ": " + problem);
    return 1;
  }
  if (rebuild) return registry::rebuild_registry(url, options.rebuild, options.stand, report);
  return registry::export_registry(url, options.export_format, options.since, report);
}

std::string registry_setup(const Options& options, std::optional<registry::RegistryUrl>& url,
                           std::string& unavailable) {
  url.reset();
  unavailable.clear();
  if (!options.since.empty()) return eventio::usage_message("kivo", "--since", "only with --export");
  if (options.no_registry) {
    if (options.registry.empty()) return {};
    return eventio::usage_message("kivo", "--no-registry", "and --registry: choose one");
  }
  if (options.archive.empty()) {
    if (options.registry.empty()) return {};
    return eventio::usage_message("kivo", "--registry",
                                  "the registry records the runs as they are archived: give --archive DIR too");
  }
  registry::RegistryUrl resolved;
  if (const std::string problem = resolve_url(options, options.archive, resolved); !problem.empty())
    return eventio::usage_message("kivo", "--registry", problem);
  bool fatal = false;
  if (const std::string problem = registry::registry_problem(resolved, fatal); !problem.empty()) {
    if (fatal) return eventio::usage_message("kivo", "--registry", problem);
    unavailable = problem;
  }
  url = std::move(resolved);
  return {};
}

std::unique_ptr<registry::RegistryWriter> start_registry_writer(const registry::RegistryUrl& url,
                                                                const std::string& archive_directory,
                                                                const std::string& unavailable) {
  return std::make_unique<registry::RegistryWriter>(
      url, (std::filesystem::path(archive_directory) / kQueueFolder).string(), report, unavailable);
}

}  // namespace kivo::host
