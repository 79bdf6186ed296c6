// kivo-sim: writes a synthetic test-beam run in the stream format.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "OutputFile.h"
#include "Simulator.h"
#include "StreamWriter.h"

namespace {

using kivo::sim::SimConfig;

struct Option {
  const char* name;
  const char* value_name;  // null for a flag
  const char* help;
  std::function<bool(SimConfig&, std::string_view)> apply;
};

template <class T>
bool parse_value(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(value)) return false;
  }
  return ec == std::errc() && ptr == end;
}

template <class T>
std::function<bool(SimConfig&, std::string_view)> set(T SimConfig::*field) {
  return [field](SimConfig& config, std::string_view text) { return parse_value(text, config.*field); };
}

// "S:C": stave and chip.
bool parse_chip(std::string_view text, kivo::sim::ChipAddress& address) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return parse_value(text.substr(0, colon), address.stave) && parse_value(text.substr(colon + 1), address.chip) &&
         address.stave >= 0 && address.chip >= 0;
}

std::function<bool(SimConfig&, std::string_view)> set_chip(kivo::sim::ChipAddress SimConfig::*field) {
  return [field](SimConfig& config, std::string_view text) { return parse_chip(text, config.*field); };
}

const std::vector<Option>& options() {
  static const std::vector<Option> table = {
      {"--events", "N", "data events to write (default 10000)", set(&SimConfig::events)},
      {"--run", "N", "run number (default 1)", set(&SimConfig::run)},
      {"--seed", "S", "random seed; the same seed gives the same bytes (default 1)", set(&SimConfig::seed)},
      {"--end-run", nullptr, "finish with an end-run event",
       [](SimConfig& c, std::string_view) { return c.end_run = true; }},
      {"--beam-col", "C", "beam centre, stave-wide column (default 4608)", set(&SimConfig::beam_col)},
      {"--beam-row", "R", "beam centre, chip row (default 256)", set(&SimConfig::beam_row)},
      {"--beam-sigma-col", "W", "beam width in columns (default 300)", set(&SimConfig::beam_sigma_col)},
      {"--beam-sigma-row", "W", "beam width in rows (default 60)", set(&SimConfig::beam_sigma_row)},
      {"--stave-shift-col", "D", "stave s sees the beam shifted by s*D columns (default 40)",
       set(&SimConfig::stave_shift_col)},
      {"--stave-shift-row", "D", "stave s sees the beam shifted by s*D rows (default 8)",
       set(&SimConfig::stave_shift_row)},
      {"--particles", "M", "mean particles per event (default 5)", set(&SimConfig::particles)},
      {"--cluster", "N", "pixels per particle cluster: 1..N, N at most 8 (default 4)",
       set(&SimConfig::max_cluster)},
      {"--noise", "M", "mean noise hits per stave and event (default 2)", set(&SimConfig::noise)},
      {"--hot-pixels", "N", "hot pixels per stave (default 3)", set(&SimConfig::hot_pixels)},
      {"--hot-probability", "P", "chance a hot pixel fires in an event (default 0.9)",
       set(&SimConfig::hot_probability)},
      {"--missing-packet", "F", "fraction of data events without packet 2000 (default 0)",
       set(&SimConfig::missing_packet)},
      {"--unmapped", "M", "mean hits per event on unmapped unit 1, channel 28 (default 0)",
       set(&SimConfig::unmapped)},
      {"--dead-chip", "S:C", "fault: chip C of stave S records no hits", set_chip(&SimConfig::dead_chip)},
      {"--noisy-chip", "S:C", "fault: 32 pixels of chip C of stave S fire in 2% of the events each",
       set_chip(&SimConfig::noisy_chip)},
      {"--desync-stave", "S", "fault: stave S records the particles of the event before",
       set(&SimConfig::desync_stave)},
      {"--beam-drift-col", "D", "fault: the beam centre moves D columns by the last event",
       set(&SimConfig::beam_drift_col)},
      {"--beam-drift-row", "D", "fault: the beam centre moves D rows by the last event",
       set(&SimConfig::beam_drift_row)},
      {"--faults-from", "N", "the faults and the drift begin at data event N, from 0 (default 0)",
       set(&SimConfig::faults_from)},
  };
  return table;
}

void print_help() {
  std::printf(
      "usage: kivo-sim [OPTION]... [-o OUTPUT]\n"
      "Writes a synthetic test-beam run in the KIVO stream format: a begin-run event,\n"
      "then the data events (optionally an end-run event). OUTPUT is a file, written\n"
      "atomically, or - for standard output (the default; refused when it is a\n"
      "terminal).\n\n"
      "  -o, --output PATH    where to write (default -)\n");
  for (const Option& option : options()) {
    const std::string name = std::string(option.name) + (option.value_name ? std::string(" ") + option.value_name : "");
    std::printf("  %-20s %s\n", name.c_str(), option.help);
  }
  std::printf(
      "  -h, --help           this text\n\n"
      "Beam centres C, R, shifts and drifts D may be -1e6..1e6, widths W 0..1e6. A\n"
      "stave has columns 0..9215 and rows 0..511; a beam centred beyond them lies off\n"
      "the stave. Staves S are 0..3, chips C 0..8. The faults let every data-quality\n"
      "check of kivo be seen failing on a realistic run; --missing-packet is one too.\n");
}

const Option* find_option(std::string_view name) {
  for (const Option& option : options())
    if (name == option.name) return &option;
  return nullptr;
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
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      print_help();
      return 0;
    }
    const bool is_output = arg == "-o" || arg == "--output";
    const Option* option = is_output ? nullptr : find_option(arg);
    if (!is_output && !option) {
      std::fprintf(stderr, "kivo-sim: unknown option '%s' (see --help)\n", argv[i]);
      return 2;
    }
    const bool takes_value = is_output || option->value_name;
    if (takes_value && i + 1 >= argc) {
      std::fprintf(stderr, "kivo-sim: option '%s' needs a value\n", argv[i]);
      return 2;
    }
    if (is_output) {
      output = argv[++i];
    } else if (!option->apply(config, takes_value ? std::string_view(argv[++i]) : std::string_view())) {
      std::fprintf(stderr, "kivo-sim: bad value '%s' for option '%s'\n", argv[i], argv[i - 1]);
      return 2;
    }
  }
  if (const std::string problem = kivo::sim::check_config(config); !problem.empty()) {
    std::fprintf(stderr, "kivo-sim: %s\n", problem.c_str());
    return 2;
  }
  return write_run(config, output) ? 0 : 1;
}
