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

// CommandOption::take for "S:C", a stave and a chip.
std::function<std::string(const std::string&)> set_chip(kivo::sim::ChipAddress& address) {
  return [&address](const std::string& text) {
    const std::size_t colon = text.find(':');
    const bool read = colon != std::string::npos &&
                      kivo::eventio::read_number(text.substr(0, colon), address.stave).empty() &&
                      kivo::eventio::read_number(text.substr(colon + 1), address.chip).empty() &&
                      address.stave >= 0 && address.chip >= 0;
    return read ? std::string() : "'" + text + "' is not a stave and chip S:C";
  };
}

// CommandOption::take for "ON:OFF", two counts of data events.
std::function<std::string(const std::string&)> set_spills(SimConfig& config) {
  return [&config](const std::string& text) {
    const std::size_t colon = text.find(':');
    const bool read = colon != std::string::npos &&
                      kivo::eventio::read_count(text.substr(0, colon), config.spill_on).empty() &&
                      kivo::eventio::read_count(text.substr(colon + 1), config.spill_off).empty();
    return read ? std::string() : "'" + text + "' is not ON:OFF, two counts of data events";
  };
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
      {"divergence", 0, "D", "sigma of a track's slope, pixels per stave (default 0)",
       set(config, &SimConfig::divergence)},
      {"efficiency", 0, "E", "chance a stave records a particle, 0..1 (default 1)",
       set(config, &SimConfig::efficiency)},
      {"spills", 0, "ON:OFF", "beam on for ON data events, then off for OFF, repeating", set_spills(config)},
      {"noise", 0, "M", "mean noise hits per stave and event (default 2)", set(config, &SimConfig::noise)},
      {"hot-pixels", 0, "N", "hot pixels per stave (default 3)", set(config, &SimConfig::hot_pixels)},
      {"hot-probability", 0, "P", "chance a hot pixel fires in an event (default 0.9)",
       set(config, &SimConfig::hot_probability)},
      {"missing-packet", 0, "F", "fraction of data events without packet 2000 (default 0)",
       set(config, &SimConfig::missing_packet)},
      {"unmapped", 0, "M", "mean hits per event on unmapped unit 1, channel 28 (default 0)",
       set(config, &SimConfig::unmapped)},
      {"dead-chip", 0, "S:C", "fault: chip C of stave S records no hits", set_chip(config.dead_chip)},
      {"noisy-chip", 0, "S:C", "fault: 32 pixels of chip C of stave S fire in 2% of the events each",
       set_chip(config.noisy_chip)},
      {"desync-stave", 0, "S", "fault: stave S records the particles of the event before",
       set(config, &SimConfig::desync_stave)},
      {"beam-drift-col", 0, "D", "fault: the beam centre moves D columns by the last event",
       set(config, &SimConfig::beam_drift_col)},
      {"beam-drift-row", 0, "D", "fault: the beam centre moves D rows by the last event",
       set(config, &SimConfig::beam_drift_row)},
      {"faults-from", 0, "N", "the faults and the drift begin at data event N, from 0 (default 0)",
       [&config](const std::string& text) { return kivo::eventio::read_count(text, config.faults_from); }},
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
    "Beam centres C, R, shifts and drifts D may be -1e6..1e6, widths W and the\n"
    "divergence 0..1e6. A particle crosses stave s at its place on stave 0 plus s\n"
    "times (the stave shift plus its own slope, drawn with --divergence for columns\n"
    "and rows alike). Each stave records a particle with --efficiency, independently\n"
    "of the others. Between spills (--spills ON:OFF, in data events; none by\n"
    "default) no particle crosses the staves, while noise and hot pixels go on.\n"
    "A stave has columns 0..9215 and rows 0..511; a beam centred beyond them lies\n"
    "off the stave. Staves S are 0..3, chips C 0..8. --divergence, --efficiency and\n"
    "--spills make a healthy run look like a real beam; the faults let every\n"
    "data-quality check of kivo be seen failing on a realistic run; --missing-packet\n"
    "is one too.\n\n"
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
