#include "Options.h"

#include <charconv>
#include <string_view>

#include "web_display.h"

namespace kivo::host {

namespace {

bool parse_port(std::string_view text, int& port) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 65535) {
    return false;
  }
  port = value;
  return true;
}

// The value of an option that takes one: the next argument.
bool take_value(int argc, const char* const* argv, int& i, std::string& value,
                std::string& error) {
  if (i + 1 >= argc) {
    error = std::string("option ") + argv[i] + " needs a value";
    return false;
  }
  value = argv[++i];
  return true;
}

}  // namespace

bool parse_options(int argc, const char* const* argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    std::string value;
    if (argument == "-b") {
      options.batch = true;
    } else if (argument == "-q") {
      options.quit = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "-e" || argument == "-x") {
      if (!take_value(argc, argv, i, value, error)) return false;
      options.startup.push_back({argument == "-x", value});
    } else if (argument == "--port") {
      if (!take_value(argc, argv, i, value, error)) return false;
      if (!parse_port(value, options.port)) {
        error = "--port " + value + ": not a port number (0 to 65535)";
        return false;
      }
    } else if (argument == "--bind") {
      if (!take_value(argc, argv, i, options.bind, error)) return false;
      if (!WebDisplay::valid_bind_address(options.bind)) {
        error = "--bind " + options.bind +
                ": not a numeric IPv4 or IPv6 address (e.g. 127.0.0.1 or 0.0.0.0)";
        return false;
      }
    } else if (argument == "--plugin") {
      if (!take_value(argc, argv, i, options.plugin, error)) return false;
    } else if (argument == "--snapshot") {
      if (!take_value(argc, argv, i, options.snapshot, error)) return false;
    } else if (argument == "--checks") {
      if (!take_value(argc, argv, i, options.checks, error)) return false;
    } else if (argument == "--quality-log") {
      if (!take_value(argc, argv, i, options.quality_log, error)) return false;
    } else if (argument == "--on-bad") {
      if (!take_value(argc, argv, i, options.on_bad, error)) return false;
    } else if (argument == "--reference") {
      if (!take_value(argc, argv, i, options.reference, error)) return false;
    } else if (argument.size() > 1 && argument[0] == '-') {
      error = "unknown option " + std::string(argument) + " (see kivo --help)";
      return false;
    } else {
      options.streams.emplace_back(argument);
    }
  }
  return true;
}

std::string usage() {
  return "usage: kivo [-b] [-q] [-e CMD]... [-x FILE]... [--port N] [--bind ADDR]\n"
         "            [--plugin PATH] [--snapshot FILE] [--checks FILE]\n"
         "            [--quality-log FILE] [--on-bad CMD] [--reference FILE] [STREAM]...\n"
         "\n"
         "Loads the monitor library, opens the STREAMs (\"-\" is standard input) as the\n"
         "event source, runs the -e commands and -x command files in the order given,\n"
         "then processes the remaining events: to the end and exit with -q, in the\n"
         "background with the prompt open otherwise.\n"
         "\n"
         "  -b               no web display\n"
         "  -q               quit once every event is processed\n"
         "  -e CMD           run the command CMD, e.g. -e 'set_refresh(1000)'\n"
         "  -x FILE          run the commands in FILE, one per line\n"
         "  --port N         web display port (default 8080)\n"
         "  --bind ADDR      web display address, numeric (default 127.0.0.1)\n"
         "  --plugin PATH    monitor library (default ../lib/libkivo_monitor.so beside kivo)\n"
         "  --snapshot FILE  at exit, render the canvas as last drawn to FILE (.png or .svg)\n"
         "  --checks FILE    data-quality checks configured by the TOML FILE (default:\n"
         "                   the built-in configuration; checks() prints it)\n"
         "  --quality-log FILE  append one JSON line per verdict change to FILE\n"
         "  --on-bad CMD     run CMD with /bin/sh -c for each verdict that turns Bad\n"
         "  --reference FILE  compare with a known-good run written by save()\n"
         "  -h, --help       this text\n"
         "\n"
         "Host messages go to standard error; standard output carries only what the\n"
         "commands print. Type help() at the prompt for the commands.\n";
}

}  // namespace kivo::host
