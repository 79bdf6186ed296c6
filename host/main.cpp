// kivo: loads the monitor library, feeds it the events of the given streams
// and gives the operator a prompt for the monitor's and the host's commands.
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveList.h"
#include "CommandLine.h"
#include "Interrupt.h"
#include "MonitorPlugin.h"
#include "Options.h"
#include "PromptLoop.h"
#include "Quality.h"
#include "Registry.h"
#include "RegistryCatalogue.h"
#include "RegistrySetup.h"
#include "Session.h"
#include "Snapshot.h"
#include "StandardStreams.h"
#include "TemporaryFiles.h"
#include "WebDisplay.h"

namespace {

using kivo::host::report;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// "http://a/ http://b/"
std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The display asked for, started; null when it cannot start, with `failed`
// set unless --display-optional lets kivo run on without it.
std::unique_ptr<kivo::web::WebDisplay> start_display(const kivo::host::Options& options,
                                                     const std::optional<kivo::registry::RegistryUrl>& registry,
                                                     bool& failed) {
  auto display = std::make_unique<kivo::web::WebDisplay>(options.bind, options.port, KIVO_WEB_DIR);
  display->set_access(options.access);
  display->metrics().set_stand(options.stand);
  display->set_archive(options.archive);
  if (registry) display->set_catalogue(std::make_shared<kivo::registry::RegistryCatalogue>(*registry, options.archive));
  std::string error;
  if (!display->start(error)) {
    failed = !options.display_optional;
    report(failed ? "the web display cannot start: " + error +
                        " (give another --port or --bind, -b for no display, or --display-optional to run on "
                        "without it)"
                  : "web display not started, running on without it (--display-optional): " + error);
    return nullptr;
  }
  report("display at " + joined(display->addresses()));
  if (kivo::web::is_loopback(options.bind)) return display;
  if (options.access.password_file.empty())
    report("warning: the display listens on " + options.bind +
           " without --auth: anyone who reaches it can read the monitoring canvas, the run and event "
           "counts, and can load it down; give --auth FILE to require a password (see docs/security.md)");
  else if (options.access.certificate.empty())
    report("warning: the display listens on " + options.bind +
           " with --auth but without --tls: the canvas and the counts cross the network readable by anyone "
           "on the way, and an overheard answer to the password challenge can be attacked offline; give "
           "--tls CERT to encrypt them (see docs/security.md)");
  return display;
}

// A descriptor 0, 1 or 2 left closed by the caller would be taken by the
// first stream opened, and the prompt would then read the stream's bytes as
// commands; /dev/null holds the place instead.
void fill_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
}

// dlopen() looks a bare file name up in the library search path, not in the
// working directory; --plugin names a file, so a bare name means one here.
std::string plugin_file(const std::string& option) {
  return option.find('/') == std::string::npos ? "./" + option : option;
}

bool open_streams(kivo::host::Session& session, const kivo::host::Options& options) {
  for (const std::string& path : options.streams) {
    std::string error;
    if (!session.sources().open(path, false, error)) {
      report(error);
      return false;
    }
  }
  return true;
}

bool run_startup(kivo::host::Session& session, const kivo::host::Options& options) {
  for (const kivo::host::StartupItem& item : options.startup) {
    bool ok = item.is_file ? session.run_file(item.text) : session.execute(item.text, "-e '" + item.text + "'");
    if (!ok) return false;
    if (session.quit_requested() || session.interrupted()) break;
  }
  return true;
}

bool write_snapshot(kivo::host::Session& session, const std::string& path) {
  std::string error;
  if (session.snapshot(path, error)) return true;
  report("--snapshot: " + error);
  return false;
}

// A file of which nothing was a record was no stream: a batch run that read
// it has failed, however damaged streams are read through.
bool all_were_streams(kivo::host::Session& session) {
  const std::vector<std::string> others = session.sources().not_streams();
  for (const std::string& path : others)
    report((path == "-" ? "standard input" : path) + ": not a KIVO stream (no stream file header)");
  return others.empty();
}

// Everything after loading: sources, start-up commands, then the events to the
// end (-q) or the prompt.
int process(kivo::host::Session& session, const kivo::host::Options& options,
            kivo::interp::Registry& registry) {
  if (!open_streams(session, options) || !run_startup(session, options)) return kExitFailure;
  // Ctrl-C during a start-up command skips the rest; a batch run ends there.
  if (session.interrupted() && options.quit) return kExitInterrupted;
  bool streams = true;
  if (!session.quit_requested()) {
    // Standard input cannot carry both events and commands.
    if (options.quit || session.sources().reads_standard_input()) {
      if (kivo::host::interrupt_pending()) return kExitInterrupted;
      session.run(0);
      if (session.interrupted()) return kExitInterrupted;
      streams = all_were_streams(session);
    } else {
      if (!kivo::host::run_prompt(session, registry)) return kExitInterrupted;
    }
  }
  std::fflush(stdout);
  if (!options.snapshot.empty() && !write_snapshot(session, options.snapshot)) return kExitFailure;
  return streams ? 0 : kExitFailure;
}

// The data-quality configuration, log and reference run that the options
// name; empty when they can be used, else the usage error naming the option.
std::string quality_setup(const kivo::host::Options& options, kivo::quality::Setup& setup) {
  std::string error;
  if (!options.checks.empty()) {
    std::optional<kivo::quality::Config> config = kivo::quality::load_config(options.checks, error);
    if (!config) return kivo::eventio::usage_message("kivo", "--checks", error);
    setup.config = std::move(*config);
  }
  if (!options.quality_log.empty()) {
    setup.log = kivo::quality::QualityLog::open(options.quality_log, error);
    if (!setup.log) return kivo::eventio::usage_message("kivo", "--quality-log", error);
  }
  if (!options.reference.empty()) {
    setup.reference = kivo::quality::load_reference(options.reference, error);
    if (!setup.reference) return kivo::eventio::usage_message("kivo", "--reference", error);
  }
  setup.on_bad = options.on_bad;
  setup.on_good = options.on_good;
  return {};
}

int run_session(const kivo::host::Options& options, const kivo::host::MonitorPlugin& plugin,
                kivo::quality::Setup quality, const std::optional<kivo::registry::RegistryUrl>& run_registry,
                const std::string& registry_unavailable) {
  bool display_failed = false;
  std::unique_ptr<kivo::web::WebDisplay> display =
      options.batch ? nullptr : start_display(options, run_registry, display_failed);
  if (display_failed) return kExitUsage;  // before pinit and any event
  kivo::interp::Registry& registry = kivo::interp::Registry::global();
  kivo::host::RunRecording recording{options.archive, options.stand,
                                     run_registry ? kivo::host::start_registry_writer(*run_registry, options.archive,
                                                                                      registry_unavailable)
                                                  : nullptr};
  kivo::host::Session session(plugin, registry, display.get(), std::move(recording), std::move(quality));
  session.set_refresh_seconds(options.refresh_seconds);  // checked by parse_options
  plugin.pinit();
  const int status = process(session, options, registry);
  // The run in progress is archived however the session ends, a request to
  // end (SIGTERM, SIGHUP) included; a second such signal ends kivo at once.
  const bool archived = session.finish();
  if (kivo::host::termination_requested() != 0) {
    std::fflush(stdout);
    kivo::host::end_by_requested_signal();
  }
  return status == 0 && !archived ? kExitFailure : status;
}

// A reader that left early (`kivo ... | head`) has cut the output: said at
// the end, and the exit status is not 0.
int with_output_checked(int status) {
  const std::string cut = kivo::host::cut_standard_streams();
  if (cut.empty()) return status;
  std::fputs(kivo::host::cut_output_message(cut).c_str(), stderr);
  return status == 0 ? kExitFailure : status;
}

}  // namespace

int main(int argc, char** argv) {
  kivo::host::ignore_broken_pipes();
  kivo::host::Options options;
  std::string error;
  if (!kivo::host::parse_options(argc, argv, options, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kivo::host::usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(kivo::eventio::version_text("kivo").c_str(), stdout);
    return 0;
  }
  if (!options.list_archive.empty()) {
    if (!options.streams.empty()) {
      std::fprintf(stderr, "%s\n",
                   kivo::eventio::usage_message("kivo", "--list-archive",
                                                "takes no STREAM ('" + options.streams.front() + "' given)")
                       .c_str());
      return kExitUsage;
    }
    return with_output_checked(kivo::host::print_archive(options.list_archive));
  }
  if (kivo::host::is_registry_tool(options)) return with_output_checked(kivo::host::run_registry_tool(options));
  // Told now rather than after a run that may last hours.
  if (!options.snapshot.empty()) {
    if (const std::string problem = kivo::web::snapshot_problem(options.snapshot); !problem.empty()) {
      std::fprintf(stderr, "%s\n", kivo::eventio::usage_message("kivo", "--snapshot", problem).c_str());
      return kExitUsage;
    }
  }
  if (!options.archive.empty()) {
    if (const std::string problem = kivo::host::RunArchive::directory_problem(options.archive); !problem.empty()) {
      std::fprintf(stderr, "%s\n",
                   kivo::eventio::usage_message("kivo", "--archive", options.archive + ": " + problem).c_str());
      return kExitUsage;
    }
  }
  std::optional<kivo::registry::RegistryUrl> run_registry;
  std::string registry_unavailable;
  if (const std::string problem = kivo::host::registry_setup(options, run_registry, registry_unavailable);
      !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return kExitUsage;
  }
  fill_closed_standard_descriptors();
  // Told before the plug-in loads, so that no event is read with a bad configuration.
  kivo::quality::Setup quality;
  if (const std::string problem = quality_setup(options, quality); !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return kExitUsage;
  }
  // Ctrl-C stops a run, SIGTERM and SIGHUP end kivo as .q does, a second
  // one at once, without leftovers (see Interrupt.h).
  kivo::eventio::remove_partial_output_on_signals({SIGTERM, SIGHUP});
  kivo::host::install_interrupt_handler();
  // Node.js and JSROOT load while the events are read.
  if (!options.snapshot.empty()) kivo::web::prepare_snapshot_renderer();
  std::string path =
      options.plugin.empty() ? kivo::host::default_plugin_path() : plugin_file(options.plugin);
  std::unique_ptr<kivo::host::MonitorPlugin> plugin = kivo::host::MonitorPlugin::load(path, error);
  if (!plugin) {
    report(error);
    return kExitFailure;
  }
  return with_output_checked(run_session(options, *plugin, std::move(quality), run_registry, registry_unavailable));
}
