#include "Simulator.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kivo::sim {
namespace {

// (ruid, ruchn) of chip c of stave s, the inverse of the detector's channel map.
constexpr ReadoutChannel kChannels[kStaves][kChipsPerStave] = {
    {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8}, {1, 27}},
    {{2, 3}, {2, 2}, {2, 1}, {2, 4}, {2, 5}, {2, 6}, {2, 7}, {2, 8}, {2, 9}},
    {{1, 26}, {1, 25}, {1, 24}, {1, 23}, {1, 22}, {1, 21}, {1, 20}, {1, 19}, {1, 18}},
    {{1, 17}, {1, 16}, {1, 15}, {1, 14}, {1, 13}, {1, 12}, {1, 11}, {1, 10}, {1, 9}},
};

constexpr double kMaxMeanHits = 10000;
// Bound of beam centres, widths and stave shifts: centre, three stave shifts
// and even a draw 100 widths out still sum to far less than INT_MAX.
constexpr double kMaxBeamValue = 1e6;
constexpr int kUnmappedRuid = 1;
constexpr int kUnmappedRuchn = 28;

// Pixels of a cluster, in the order they are added: each touches an earlier one.
constexpr int kClusterShape[][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {0, -1}, {-1, 0}, {2, 0}, {0, 2}};
constexpr int kMaxClusterPixels = sizeof kClusterShape / sizeof kClusterShape[0];

std::uint32_t hit_word(int row, int col) {
  return static_cast<std::uint32_t>(row) << 16 | static_cast<std::uint32_t>(col);
}

// False for NaN as well.
bool within(double value, double min, double max) { return value >= min && value <= max; }

// The first beam setting that is not finite and within kMaxBeamValue, or a
// width that is negative.
ConfigProblem check_beam(const SimConfig& config) {
  const struct {
    const char* option;
    double value;
    double min;
  } settings[] = {
      {"--beam-col", config.beam_col, -kMaxBeamValue},
      {"--beam-row", config.beam_row, -kMaxBeamValue},
      {"--beam-sigma-col", config.beam_sigma_col, 0},
      {"--beam-sigma-row", config.beam_sigma_row, 0},
      {"--stave-shift-col", config.stave_shift_col, -kMaxBeamValue},
      {"--stave-shift-row", config.stave_shift_row, -kMaxBeamValue},
      {"--beam-drift-col", config.beam_drift_col, -kMaxBeamValue},
      {"--beam-drift-row", config.beam_drift_row, -kMaxBeamValue},
      {"--divergence", config.divergence, 0},
  };
  for (const auto& setting : settings)
    if (!within(setting.value, setting.min, kMaxBeamValue))
      return {setting.option, std::string("must be ") + (setting.min < 0 ? "-1e6" : "0") + "..1e6"};
  return {};
}

// The first mean hit count beyond 0..kMaxMeanHits.
ConfigProblem check_means(const SimConfig& config) {
  const std::pair<const char*, double> means[] = {
      {"--particles", config.particles}, {"--noise", config.noise}, {"--unmapped", config.unmapped}};
  for (const auto& [option, mean] : means)
    if (!within(mean, 0, kMaxMeanHits)) return {option, "must be 0..10000"};
  return {};
}

bool valid_chip(const ChipAddress& address) {
  return !address.set() || (address.stave < kStaves && address.chip >= 0 && address.chip < kChipsPerStave);
}

// The first fault that names no stave or chip, or a negative start.
ConfigProblem check_faults(const SimConfig& config) {
  const char* const chip_range = "must be S:C with stave S 0..3 and chip C 0..8";
  if (!valid_chip(config.dead_chip)) return {"--dead-chip", chip_range};
  if (!valid_chip(config.noisy_chip)) return {"--noisy-chip", chip_range};
  if (config.desync_stave < -1 || config.desync_stave >= kStaves) return {"--desync-stave", "must be 0..3"};
  if (config.faults_from < 0) return {"--faults-from", "must not be negative"};
  return {};
}

}  // namespace

ReadoutChannel channel_of(int stave, int chip) { return kChannels[stave][chip]; }

ConfigProblem check_config(const SimConfig& config) {
  if (config.events < 0) return {"--events", "must not be negative"};
  if (ConfigProblem beam = check_beam(config); !beam.option.empty()) return beam;
  if (ConfigProblem means = check_means(config); !means.option.empty()) return means;
  if (ConfigProblem faults = check_faults(config); !faults.option.empty()) return faults;
  if (config.max_cluster < 1 || config.max_cluster > kMaxClusterPixels)
    return {"--cluster", "must be 1.." + std::to_string(kMaxClusterPixels)};
  if (config.hot_pixels < 0 || config.hot_pixels > kStaveColumns * kChipRows)
    return {"--hot-pixels", "must be 0.." + std::to_string(kStaveColumns * kChipRows)};
  if (!within(config.hot_probability, 0, 1)) return {"--hot-probability", "must be 0..1"};
  if (!within(config.missing_packet, 0, 1)) return {"--missing-packet", "must be 0..1"};
  if (!within(config.efficiency, 0, 1)) return {"--efficiency", "must be 0..1"};
  if (config.spill_on < 0 || config.spill_off < 0 || (config.spill_on == 0 && config.spill_off > 0))
    return {"--spills", "must be ON:OFF with ON at least 1 and OFF at least 0 data events"};
  return {};
}

Simulator::Simulator(const SimConfig& config) : config_(config), rng_(config.seed) {
  for (int stave = 0; stave < kStaves; ++stave)
    for (int i = 0; i < config_.hot_pixels; ++i) hot_.push_back({stave, random_pixel()});
  if (config_.noisy_chip.set()) {
    std::uniform_int_distribution<int> col(0, kChipColumns - 1), row(0, kChipRows - 1);
    for (int i = 0; i < kNoisyPixels; ++i) {
      const int c = col(rng_);
      noisy_.push_back({config_.noisy_chip.chip * kChipColumns + c, row(rng_)});
    }
  }
  for (int stave = 0; stave < kStaves; ++stave)
    for (int chip = 0; chip < kChipsPerStave; ++chip)
      channel_order_.push_back({kChannels[stave][chip], stave * kChipsPerStave + chip});
  channel_order_.push_back({{kUnmappedRuid, kUnmappedRuchn}, kUnmappedSlot});
  std::sort(channel_order_.begin(), channel_order_.end(), [](const SlotChannel& a, const SlotChannel& b) {
    return std::pair(a.channel.ruid, a.channel.ruchn) < std::pair(b.channel.ruid, b.channel.ruchn);
  });
}

eventio::EventRecord Simulator::begin_run(std::uint32_t sequence) const {
  return {eventio::kBeginRunEventType, config_.run, sequence, false, {}};
}

eventio::EventRecord Simulator::end_run(std::uint32_t sequence) const {
  return {eventio::kEndRunEventType, config_.run, sequence, false, {}};
}

double Simulator::gaussian(double mean, double sigma) {
  if (sigma <= 0) return mean;
  return std::normal_distribution<double>(mean, sigma)(rng_);
}

int Simulator::poisson(double mean) {
  if (mean <= 0) return 0;
  return std::poisson_distribution<int>(mean)(rng_);
}

Simulator::Pixel Simulator::random_pixel() {
  std::uniform_int_distribution<int> col(0, kStaveColumns - 1), row(0, kChipRows - 1);
  const int c = col(rng_);
  const int r = row(rng_);
  return {c, r};
}

void Simulator::add_hit(Slots& words,
                        int stave, Pixel pixel) {
  if (pixel.stave_col < 0 || pixel.stave_col >= kStaveColumns || pixel.row < 0 ||
      pixel.row >= kChipRows)
    return;
  const int chip = pixel.stave_col / kChipColumns;
  if (faulty() && config_.dead_chip.stave == stave && config_.dead_chip.chip == chip) return;
  words[stave * kChipsPerStave + chip].push_back(hit_word(pixel.row, pixel.stave_col % kChipColumns));
}

// The share of the drift reached at the current event: 0 before the faults
// begin, 1 at the last event.
double Simulator::drift() const {
  if (!faulty()) return 0;
  const double span = static_cast<double>(config_.events - 1 - config_.faults_from);
  return span > 0 ? static_cast<double>(index_ - config_.faults_from) / span : 1;
}

// Whether the current data event lies within a spill.
bool Simulator::beam_on() const {
  const long long period = config_.spill_on + config_.spill_off;
  return period == 0 || index_ % period < config_.spill_on;
}

// Whether a stave records the particle crossing it; draws only below full efficiency,
// so that runs at full efficiency stay as they were for a seed.
bool Simulator::recorded() {
  return config_.efficiency >= 1 || std::bernoulli_distribution(config_.efficiency)(rng_);
}

void Simulator::add_particle(Slots& words, std::vector<Pixel>& delayed) {
  const double x = gaussian(config_.beam_col + drift() * config_.beam_drift_col, config_.beam_sigma_col);
  const double y = gaussian(config_.beam_row + drift() * config_.beam_drift_row, config_.beam_sigma_row);
  const double slope_col = gaussian(0, config_.divergence);
  const double slope_row = gaussian(0, config_.divergence);
  std::uniform_int_distribution<int> cluster_size(1, config_.max_cluster);
  for (int stave = 0; stave < kStaves; ++stave) {
    const int centre_col = static_cast<int>(std::lround(x + stave * (config_.stave_shift_col + slope_col)));
    const int centre_row = static_cast<int>(std::lround(y + stave * (config_.stave_shift_row + slope_row)));
    const int size = cluster_size(rng_);
    if (!recorded()) continue;
    const bool late = faulty() && stave == config_.desync_stave;
    for (int p = 0; p < size; ++p) {
      const Pixel pixel{centre_col + kClusterShape[p][1], centre_row + kClusterShape[p][0]};
      if (late)
        delayed.push_back(pixel);
      else
        add_hit(words, stave, pixel);
    }
  }
}

eventio::EventRecord Simulator::data_event(std::uint32_t sequence) {
  eventio::EventRecord record{eventio::kDataEventType, config_.run, sequence, false, {}};
  std::bernoulli_distribution missing(config_.missing_packet);
  if (!missing(rng_)) fill_packet(record);
  ++index_;
  return record;
}

void Simulator::fill_packet(eventio::EventRecord& record) {
  Slots words;
  std::vector<Pixel> delayed;
  for (int n = beam_on() ? poisson(config_.particles) : 0; n > 0; --n) add_particle(words, delayed);
  if (config_.desync_stave >= 0) {
    for (const Pixel& pixel : delayed_) add_hit(words, config_.desync_stave, pixel);
    delayed_ = std::move(delayed);
  }
  for (int stave = 0; stave < kStaves; ++stave)
    for (int n = poisson(config_.noise); n > 0; --n) add_hit(words, stave, random_pixel());
  std::bernoulli_distribution fires(config_.hot_probability);
  for (const HotPixel& hot : hot_)
    if (fires(rng_)) add_hit(words, hot.stave, hot.pixel);
  if (faulty()) {
    std::bernoulli_distribution noisy_fires(kNoisyProbability);
    for (const Pixel& pixel : noisy_)
      if (noisy_fires(rng_)) add_hit(words, config_.noisy_chip.stave, pixel);
  }
  std::uniform_int_distribution<int> col(0, kChipColumns - 1), row(0, kChipRows - 1);
  for (int n = poisson(config_.unmapped); n > 0; --n) {
    const int r = row(rng_);
    words[kUnmappedSlot].push_back(hit_word(r, col(rng_)));
  }

  // Every readout unit is present, also without hits; channels in rising order.
  for (const SlotChannel& entry : channel_order_) {
    eventio::UnitWords& unit = record.unit(entry.channel.ruid);
    if (!words[entry.slot].empty())
      unit.channels.push_back({entry.channel.ruchn, std::move(words[entry.slot])});
  }
}

}  // namespace kivo::sim
