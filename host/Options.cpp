#include "Options.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "CommandLine.h"
#include "MetricsToken.h"
#include "RegistryTools.h"
#include "RunCatalogue.h"
#include "WebDisplay.h"

namespace kivo::host {

namespace {

using eventio::CommandOption;

constexpr const char* kAbout =
    "usage: kivo [-b] [-q] [-e CMD]... [-x FILE]... [--port N] [--bind ADDR]\n"
    "            [--auth FILE] [--tls CERT] [--plugin PATH] [--snapshot FILE]\n"
    "            [--refresh-seconds S] [--archive DIR] [--checks FILE]\n"
    "            [--quality-log FILE] [--on-bad CMD] [--on-good CMD] [--reference FILE]\n"
    "            [--name STAND] [--metrics-token FILE] [--registry URL] [--display-optional]\n"
    "            [STREAM]...\n"
    "       kivo --list-archive DIR\n"
    "       kivo [--registry URL] [--name STAND] --rebuild DIR\n"
    "       kivo --registry URL --export csv|json [--since DATE]\n"
    "\n"
    "Loads the monitor library, opens the STREAMs (\"-\" is standard input) as the\n"
    "event source, runs the -e commands and -x command files in the order given,\n"
    "then processes the remaining events: to the end and exit with -q, in the\n"
    "background with the prompt open otherwise.\n";

constexpr const char* kNotes =
    "Host messages go to standard error; standard output carries only what the\n"
    "commands print. Type help() at the prompt for the commands.\n"
    "\n"
    "Exit status: 0 when all went well; 1 when the monitor library cannot be\n"
    "loaded, a stream cannot be opened, a batch run's stream is not a KIVO stream,\n"
    "a -e or -x command fails, the --snapshot file cannot be written, a run could\n"
    "not be archived, or standard output or error was closed before the end (the\n"
    "events are processed all the same); 2 for a bad command line, among them a\n"
    "display that cannot start and a --registry that is not a registry of this\n"
    "kivo, told before any event is read; 130 when Ctrl-C stopped a batch run or\n"
    "a prompt reading from a pipe. SIGTERM and SIGHUP end kivo as killed by that\n"
    "signal, once the run in progress is archived.\n"
    "\n"
    "With --archive DIR every run is also recorded in the run registry DIR/registry.sqlite,\n"
    "or where --registry URL says: a file path (SQLite) or postgresql://USER@HOST:PORT/DB.\n"
    "Keep the password out of the URL, where other users see it in the process list:\n"
    "put it in ~/.pgpass or in the file PGPASSFILE names (see docs/registry.md).\n";

std::string parse_port(const std::string& text, int& port) {
  int value = 0;
  if (!eventio::read_number(text, value).empty() || value < 0 || value > 65535)
    return "'" + text + "' is not a port number from 0 to 65535";
  port = value;
  return {};
}

std::string parse_seconds(const std::string& text, double& seconds) {
  double value = 0;
  if (!eventio::read_number(text, value).empty() || !(value >= 0) || value > 365.0 * 24 * 3600)
    return "'" + text + "' is not a number of seconds from 0 (none) to a year";
  seconds = value;
  return {};
}

std::string parse_auth(const std::string& path, web::Access& access) {
  std::string realm;
  if (std::string problem = web::read_password_realm(path, realm); !problem.empty()) return problem;
  access.password_file = path;
  access.realm = realm;
  return {};
}

std::string parse_tls(const std::string& path, web::Access& access) {
  if (std::string problem = web::certificate_problem(path); !problem.empty()) return problem;
  if (std::string problem = web::enable_tls(); !problem.empty()) return "cannot serve HTTPS: " + problem;
  access.certificate = path;
  return {};
}

constexpr std::size_t kMaxStandName = 256;

// A label value of /metrics: any text of one line.
std::string parse_stand(const std::string& text, std::string& stand) {
  if (text.empty()) return "the stand name is empty";
  if (text.size() > kMaxStandName) return "the stand name is longer than " + std::to_string(kMaxStandName) + " bytes";
  if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < ' ' || c == 0x7f; }))
    return "the stand name holds a control character";
  stand = text;
  return {};
}

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = "";
  if (gethostname(name, sizeof name) != 0) return "localhost";
  name[HOST_NAME_MAX] = '\0';
  return name[0] != '\0' ? name : "localhost";
}

std::string parse_metrics_token(const std::string& path, web::Access& access) {
  std::string token;
  if (std::string problem = web::read_metrics_token(path, token); !problem.empty()) return problem;
  access.metrics_token = token;
  return {};
}

std::string parse_bind(const std::string& text, std::string& bind) {
  if (!web::WebDisplay::valid_bind_address(text))
    return "'" + text + "' is not a numeric IPv4 or IPv6 address such as 127.0.0.1 or 0.0.0.0";
  bind = text;
  return {};
}

// A directory option: an empty value names no directory.
std::function<std::string(const std::string&)> store_directory(std::string& directory) {
  return [&directory](const std::string& text) {
    if (text.empty()) return std::string("no directory given");
    directory = text;
    return std::string();
  };
}

// A --registry given empty (an unset variable in a script) names no
// registry: refused rather than taken for the archive's own.
std::string parse_registry(const std::string& text, std::string& registry) {
  if (text.empty()) return "no registry given (a file path or a postgresql:// URL)";
  registry = text;
  return {};
}

std::string parse_export_format(const std::string& text, std::string& format) {
  if (!registry::is_export_format(text)) return "'" + text + "' is not an export format: csv or json";
  format = text;
  return {};
}

std::string parse_since(const std::string& text, std::string& since) {
  if (!web::is_run_date(text)) return "'" + text + "' is not a date (2024-05-01) or a time in UTC (2024-05-01T03:12:45Z)";
  since = text;
  return {};
}

CommandOption startup_item(char name, const char* value_name, const char* help, std::vector<StartupItem>& items) {
  return {"", name, value_name, help, [&items, name](const std::string& text) {
            items.push_back({name == 'x', text});
            return std::string();
          }};
}

void add_options(eventio::CommandLine& line, Options& options) {
  line.add({"", 'b', "", "no web display", eventio::set_flag(options.batch)});
  line.add({"", 'q', "", "quit once every event is processed", eventio::set_flag(options.quit)});
  line.add(startup_item('e', "CMD", "run the command CMD, e.g. -e 'set_refresh(1000)'", options.startup));
  line.add(startup_item('x', "FILE", "run the commands in FILE, one per line", options.startup));
  line.add({"display-optional", 0, "", "run on without the web display when it cannot start (else exit 2)",
            eventio::set_flag(options.display_optional)});
  line.add({"port", 0, "N", "web display port (default 8080)",
            [&options](const std::string& text) { return parse_port(text, options.port); }});
  line.add({"bind", 0, "ADDR", "web display address, numeric (default 127.0.0.1)",
            [&options](const std::string& text) { return parse_bind(text, options.bind); }});
  line.add({"auth", 0, "FILE", "web display: require HTTP digest authentication, users in htdigest FILE",
            [&options](const std::string& path) { return parse_auth(path, options.access); }});
  line.add({"tls", 0, "CERT", "web display: serve HTTPS with CERT (PEM: certificate and private key)",
            [&options](const std::string& path) { return parse_tls(path, options.access); }});
  line.add({"plugin", 0, "PATH", "monitor library (default ../lib/libkivo_monitor.so beside kivo)",
            eventio::store_text(options.plugin)});
  line.add({"snapshot", 0, "FILE", "at exit, render the canvas as last drawn to FILE (.png or .svg)",
            eventio::store_text(options.snapshot)});
  line.add({"refresh-seconds", 0, "S",
            "also redraw the canvas every S seconds while events arrive (as set_refresh_seconds(S))",
            [&options](const std::string& text) { return parse_seconds(text, options.refresh_seconds); }});
  line.add({"archive", 0, "DIR", "write each run, when it ends, to DIR/run<N>.root (a ROOT file)",
            store_directory(options.archive)});
  line.add({"list-archive", 0, "DIR", "print the runs archived in DIR, their times, events and verdicts, and exit",
            store_directory(options.list_archive)});
  line.add({"registry", 0, "URL",
            "record the runs in the registry URL: a file path (SQLite) or postgresql://USER@HOST/DB "
            "(password in ~/.pgpass or PGPASSFILE)",
            [&options](const std::string& text) { return parse_registry(text, options.registry); }});
  line.add({"no-registry", 0, "", "archive the runs without recording them in a registry",
            eventio::set_flag(options.no_registry)});
  line.add({"rebuild", 0, "DIR", "record the run files of DIR in the registry (again), and exit",
            store_directory(options.rebuild)});
  line.add({"export", 0, "FORMAT", "write the registry's runs to standard output as csv or json, and exit",
            [&options](const std::string& text) { return parse_export_format(text, options.export_format); }});
  line.add({"since", 0, "DATE", "--export: only the runs whose first event is on or after DATE (2024-05-01)",
            [&options](const std::string& text) { return parse_since(text, options.since); }});
  line.add({"checks", 0, "FILE", "data-quality checks configured by the TOML FILE (checks() prints them)",
            eventio::store_text(options.checks)});
  line.add({"quality-log", 0, "FILE", "append one JSON line per verdict change to FILE",
            eventio::store_text(options.quality_log)});
  line.add({"on-bad", 0, "CMD", "run CMD with /bin/sh -c when a stave's verdicts turn Bad",
            eventio::store_text(options.on_bad)});
  line.add({"on-good", 0, "CMD", "run CMD with /bin/sh -c when a stave's last Bad verdict clears",
            eventio::store_text(options.on_good)});
  line.add({"reference", 0, "FILE", "compare with a known-good run written by save()",
            eventio::store_text(options.reference)});
  line.add({"name", 0, "STAND", "the stand's name, served at /metrics as kivo_stand_info (default: the host name)",
            [&options](const std::string& text) { return parse_stand(text, options.stand); }});
  line.add({"metrics-token", 0, "FILE", "/metrics also opens to the bearer token in FILE (private to its owner)",
            [&options](const std::string& path) { return parse_metrics_token(path, options.access); }});
}

eventio::CommandLine command_line(Options& options) {
  eventio::CommandLine line("kivo", kAbout, kNotes);
  add_options(line, options);
  return line;
}

}  // namespace

bool parse_options(int argc, const char* const* argv, Options& options, std::string& error) {
  eventio::CommandLine line = command_line(options);
  switch (line.parse(argc, argv)) {
    case eventio::CommandLine::Outcome::usage_error:
      error = line.error();
      return false;
    case eventio::CommandLine::Outcome::help:
      options.help = true;
      return true;
    case eventio::CommandLine::Outcome::version:
      options.version = true;
      return true;
    case eventio::CommandLine::Outcome::proceed:
      break;
  }
  options.streams = line.operands();
  if (options.stand.empty()) options.stand = host_name();
  return true;
}

std::string usage() {
  Options options;
  return command_line(options).help();
}

}  // namespace kivo::host
