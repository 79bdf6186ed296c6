// kivo-sim: writes a synthetic test-beam run in the stream format.
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "OutputFile.h"
#include "Simulator.h"
#include "StreamWriter.h"

namespace {

using kivo::eventio::CommandLine;
using kivo::eventio::CommandOption;
using kivo::sim::SimConfig;

template <class T>
std::function<std::string(const std::string&)> set(SimConfig& config, T SimConfig::*field) {
  return [&config, field](const std::string& text) { return kivo::eventio::read_number(text, config.*field); };
}

void add_options(CommandLine& line, SimConfig& config, std::string& output) {
  const std::vector<CommandOption> options = {
      {"output", 'o', "OUTPUT", "where to write (default -)", kivo::eventio::store_text(output)},
      {"events", 'n', "N", "data events to write (default 10000)",
       [&config](const std::string& text) { return kivo::eventio::read_count(text, config.events); }},
      {"run", 0, "N", "run number (default 1)", set(config, &SimConfig::run)},
      {"seed", 0, "S", "random seed; the same seed gives the same bytes (default 1)", set(config, &SimConfig::seed)},
      {"end-run", 0, "", "finish with an end-run event", kivo::eventio::set_flag(config.end_run)},
      {"beam-col", 0, "C", "beam centre, stave-wide column (default 4608)", set(config, &SimConfig::beam_col)},
      {"beam-row", 0, "R", "beam centre, chip row (default 256)", set(config, &SimConfig::beam_row)},
      {"beam-sigma-col", 0, "W", "beam width in columns (default 300)", set(config, &SimConfig::beam_sigma_col)},
      {"beam-sigma-row", 0, "W", "beam width in rows (default 60)", set(config, &SimConfig::beam_sigma_row)},
      {"stave-shift-col", 0, "D", "stave s sees the beam shifted by s*D columns (default 40)",
       set(config, &SimConfig::stave_shift_col)},
      {"stave-shift-row", 0, "D", "stave s sees the beam shifted by s*D rows (default 8)",
       set(config, &SimConfig::stave_shift_row)},
      {"particles", 0, "M", "mean particles per event (default 5)", set(config, &SimConfig::particles)},
      {"cluster", 0, "N", "pixels per particle cluster: 1..N, N at most 8 (default 4)",
       set(config, &SimConfig::max_cluster)},
      {"noise", 0, "M", "mean noise hits per stave and event (default 2)", set(config, &SimConfig::noise)},
      {"hot-pixels", 0, "N", "hot pixels per stave (default 3)", set(config, &SimConfig::hot_pixels)},
      {"hot-probability", 0, "P", "chance a hot pixel fires in an event (default 0.9)",
       set(config, &SimConfig::hot_probability)},
      {"missing-packet", 0, "F", "fraction of data events without packet 2000 (default 0)",
       set(config, &SimConfig::missing_packet)},
      {"unmapped", 0, "M", "mean hits per event on unmapped unit 1, channel 28 (default 0)",
       set(config, &SimConfig::unmapped)},
  };
  for (const CommandOption& option : options) line.add(option);
}

constexpr const char* kAbout =
    "usage: kivo-sim [OPTION]... [-o OUTPUT]\n"
    "Writes a synthetic test-beam run in the KIVO stream format: a begin-run event,\n"
    "then the data events (optionally an end-run event). OUTPUT is a file, written\n"
    "atomically, or - for standard output (the default; refused when it is a\n"
    "terminal).\n";

constexpr const char* kNotes =
    "Beam centres C, R and shifts D may be -1e6..1e6, widths W 0..1e6. A stave has\n"
    "columns 0..9215 and rows 0..511; a beam centred beyond them lies off the stave.\n\n"
    "Exit status: 0 when the run was written, 1 when it could not be, 2 on a usage\n"
    "error.\n";

// The exit status when the command line ends the program, none when it goes on.
std::optional<int> parse_arguments(int argc, char** argv, SimConfig& config, std::string& output) {
  CommandLine line("kivo-sim", kAbout, kNotes);
  add_options(line, config, output);
  if (const std::optional<int> status = line.parse_for_main(argc, argv)) return status;
  std::string problem;
  if (!line.operands().empty())
    problem = line.usage_error(line.operands()[0], "unexpected operand; OUTPUT is given with -o");
  else if (const kivo::sim::ConfigProblem setting = kivo::sim::check_config(config); !setting.option.empty())
    problem = line.usage_error(setting.option, setting.reason);
  if (problem.empty()) return std::nullopt;
  std::fprintf(stderr, "%s\n", problem.c_str());
  return 2;
}

bool write_run(const SimConfig& config, const std::string& output) {
  std::string error;
  auto writer = kivo::eventio::StreamWriter::open(output, error);
  if (!writer) {
    std::fprintf(stderr, "kivo-sim: %s\n", error.c_str());
    return false;
  }
  kivo::sim::Simulator simulator(config);
  std::uint32_t sequence = 0;
  bool ok = writer->write(simulator.begin_run(sequence++));
  for (long long i = 0; ok && i < config.events; ++i) ok = writer->write(simulator.data_event(sequence++));
  if (ok && config.end_run) ok = writer->write(simulator.end_run(sequence++));
  if (!writer->close(error)) {
    std::fprintf(stderr, "kivo-sim: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kivo::eventio::remove_partial_output_on_signal();
  SimConfig config;
  std::string output = "-";
  if (const std::optional<int> status = parse_arguments(argc, argv, config, output)) return *status;
  return write_run(config, output) ? 0 : 1;
}
