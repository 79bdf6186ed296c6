// kivo-pack: turns the text form of events into a stream file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "OutputFile.h"
#include "StreamWriter.h"
#include "TextFormat.h"

namespace {

void print_help() {
  std::printf(
      "usage: kivo-pack [INPUT [OUTPUT]]\n"
      "Reads events in the text form from INPUT (a file, or - for standard input, the\n"
      "default) and writes them as a KIVO stream to OUTPUT (a file, written atomically,\n"
      "or - for standard output, the default, refused when it is a terminal). On a\n"
      "bad line it names the line and writes nothing. The text form is described in\n"
      "docs/stream-format.md.\n\n"
      "Exit status: 0 when the stream was written, 1 on a bad line or when a file\n"
      "cannot be read or written, 2 on a usage error, also when OUTPUT is the INPUT\n"
      "file itself (through a link too).\n");
}

bool read_records(const std::string& input, std::vector<kivo::eventio::EventRecord>& records) {
  std::ifstream file;
  if (input != "-") {
    // A directory opens like a file and then fails to read; name it as what it is.
    std::error_code ignored;
    errno = std::filesystem::is_directory(input, ignored) ? EISDIR : 0;
    if (errno == 0) file.open(input);
    if (!file.is_open()) {
      std::fprintf(stderr, "kivo-pack: %s: %s\n", input.c_str(),
                   errno != 0 ? std::strerror(errno) : "cannot open");
      return false;
    }
  }
  std::string error;
  if (!kivo::eventio::parse_text(input == "-" ? std::cin : file, records, error)) {
    std::fprintf(stderr, "kivo-pack: %s: %s\n", input == "-" ? "standard input" : input.c_str(),
                 error.c_str());
    return false;
  }
  return true;
}

bool write_records(const std::string& output, const std::vector<kivo::eventio::EventRecord>& records) {
  std::string error;
  auto writer = kivo::eventio::StreamWriter::open(output, error);
  if (!writer) {
    std::fprintf(stderr, "kivo-pack: %s\n", error.c_str());
    return false;
  }
  for (const auto& record : records)
    if (!writer->write(record)) break;
  if (!writer->close(error)) {
    std::fprintf(stderr, "kivo-pack: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kivo::eventio::remove_partial_output_on_signal();
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      print_help();
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kivo-pack: unknown option '%s' (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (args.size() > 2) {
    std::fprintf(stderr, "kivo-pack: too many arguments (see --help)\n");
    return 2;
  }
  const std::string input = args.size() > 0 ? args[0] : "-";
  const std::string output = args.size() > 1 ? args[1] : "-";
  if (const std::string clash = kivo::eventio::output_overwrites_input(input, output); !clash.empty()) {
    std::fprintf(stderr, "kivo-pack: %s\n", clash.c_str());
    return 2;
  }
  std::vector<kivo::eventio::EventRecord> records;
  if (!read_records(input, records)) return 1;
  return write_records(output, records) ? 0 : 1;
}
