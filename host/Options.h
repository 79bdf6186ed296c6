// The kivo command line.
#ifndef KIVO_HOST_OPTIONS_H
#define KIVO_HOST_OPTIONS_H

#include <string>
#include <vector>

#include "Access.h"

namespace kivo::host {

// One -e command or -x file, kept in the order given.
struct StartupItem {
  bool is_file;
  std::string text;  // the command, or the file path
};

struct Options {
  bool batch = false;  // -b: no web display
  bool display_optional = false;  // --display-optional: run on when the display cannot start
  bool quit = false;   // -q: process to the end, then exit
  bool help = false;
  bool version = false;
  std::vector<StartupItem> startup;
  int port = 8080;
  std::string bind = "127.0.0.1";
  std::string plugin;    // empty: the monitor library beside the executable
  std::string snapshot;  // --snapshot FILE: render the canvas there at exit
  double refresh_seconds = 0;  // --refresh-seconds S: also redraw every S seconds while events arrive
  std::string archive;   // --archive DIR: each run written there as a ROOT file
  std::string list_archive;  // --list-archive DIR: print the runs archived there and exit
  std::string registry;      // --registry URL: where the runs are recorded (default DIR/registry.sqlite)
  bool no_registry = false;  // --no-registry: the archive without a registry
  std::string rebuild;       // --rebuild DIR: record the run files of DIR in the registry and exit
  std::string export_format; // --export csv|json: write the registry's runs and exit
  std::string since;         // --since DATE: the runs --export writes
  std::string checks;       // --checks FILE: data-quality configuration
  std::string quality_log;  // --quality-log FILE: verdict changes appended
  std::string on_bad;       // --on-bad CMD: run when a stave's verdicts turn Bad
  std::string on_good;      // --on-good CMD: run when a stave's last Bad verdict clears
  std::string reference;    // --reference FILE: a known-good run saved by save()
  std::string stand;        // --name STAND: labels /metrics; the host name by default
  web::Access access;    // --auth FILE, --tls CERT, --metrics-token FILE
  std::vector<std::string> streams;
};

// Parses argv; false with a one-line `error` naming the bad argument.
bool parse_options(int argc, const char* const* argv, Options& options, std::string& error);

std::string usage();

}  // namespace kivo::host

#endif
