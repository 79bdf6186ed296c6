// Synthetic test-beam events: particles around a Gaussian beam spot crossing the
// four staves (each stave with its own offset) on straight tracks whose slopes
// spread with the beam's divergence, small clusters of adjacent pixels per
// particle that each stave records with a given efficiency, random noise, a few
// hot pixels that fire in most events, an optional spill structure (no particles
// between spills), optional data events without packet 2000 and optional hits on
// an unmapped channel.
// Hits are placed on the readout unit and channel wired to their stave and chip.
// Faults for the data-quality checks, from a given data event on: a dead chip,
// a noisy chip (many pixels that fire often), a stave out of synchronisation
// (its particles' hits those of the event before) and a beam that drifts.
#ifndef KIVO_TOOLS_SIMULATOR_H
#define KIVO_TOOLS_SIMULATOR_H

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "EventRecord.h"

namespace kivo::sim {

inline constexpr int kStaves = 4;
inline constexpr int kChipsPerStave = 9;
inline constexpr int kChipColumns = 1024;
inline constexpr int kChipRows = 512;
inline constexpr int kStaveColumns = kChipsPerStave * kChipColumns;

// A chip of a stave; unset while stave is negative.
struct ChipAddress {
  int stave = -1;
  int chip = -1;
  bool set() const { return stave >= 0; }
};

// Pixels of a noisy chip and how often each fires.
inline constexpr int kNoisyPixels = 32;
inline constexpr double kNoisyProbability = 0.02;

struct SimConfig {
  std::uint64_t seed = 1;
  int run = 1;
  long long events = 10000;
  bool end_run = false;
  double beam_col = 4608.0;        // stave-wide column of the beam centre
  double beam_row = 256.0;
  double beam_sigma_col = 300.0;
  double beam_sigma_row = 60.0;
  double stave_shift_col = 40.0;   // stave s sees the beam shifted by s times these
  double stave_shift_row = 8.0;
  double particles = 5.0;          // mean particles per event
  int max_cluster = 4;             // pixels per particle: 1..max_cluster
  double divergence = 0.0;         // spread of a track's shift from one stave to the next, pixels
  double efficiency = 1.0;         // chance that a stave records a particle crossing it
  long long spill_on = 0;          // data events with beam, then spill_off without, repeating;
  long long spill_off = 0;         //   0 and 0: the beam is always on
  double noise = 2.0;              // mean noise hits per stave and event
  int hot_pixels = 3;              // per stave
  double hot_probability = 0.9;    // chance that a hot pixel fires in an event
  double missing_packet = 0.0;     // fraction of data events without packet 2000
  double unmapped = 0.0;           // mean hits per event on unit 1, channel 28
  ChipAddress dead_chip;           // fires no more
  ChipAddress noisy_chip;          // kNoisyPixels of its pixels fire with kNoisyProbability
  int desync_stave = -1;           // its particles' hits come from the event before
  double beam_drift_col = 0.0;     // the beam centre moves this far by the last event
  double beam_drift_row = 0.0;
  long long faults_from = 0;       // data event (from 0) where the faults and the drift begin
};

// A setting the simulator cannot use, named by its kivo-sim option.
struct ConfigProblem {
  std::string option;  // "--noise"; empty when every setting is usable
  std::string reason;  // "must be 0..10000"
};

ConfigProblem check_config(const SimConfig& config);

struct ReadoutChannel {
  int ruid;
  int ruchn;
};

// The readout unit and channel that serve chip `chip` of stave `stave`.
ReadoutChannel channel_of(int stave, int chip);

class Simulator {
 public:
  // `config` must pass check_config.
  explicit Simulator(const SimConfig& config);

  eventio::EventRecord begin_run(std::uint32_t sequence) const;
  eventio::EventRecord end_run(std::uint32_t sequence) const;
  eventio::EventRecord data_event(std::uint32_t sequence);

 private:
  struct Pixel {
    int stave_col;
    int row;
  };
  struct HotPixel {
    int stave;
    Pixel pixel;
  };
  // Hit words being gathered: one slot per stave and chip, then the unmapped channel.
  static constexpr int kUnmappedSlot = kStaves * kChipsPerStave;
  using Slots = std::array<std::vector<std::uint32_t>, kUnmappedSlot + 1>;
  struct SlotChannel {
    ReadoutChannel channel;
    int slot;
  };

  void fill_packet(eventio::EventRecord& record);
  void add_particle(Slots& words, std::vector<Pixel>& delayed);
  void add_hit(Slots& words, int stave,
               Pixel pixel);
  bool faulty() const { return index_ >= config_.faults_from; }
  bool beam_on() const;
  bool recorded();
  double drift() const;
  Pixel random_pixel();
  double gaussian(double mean, double sigma);
  int poisson(double mean);

  SimConfig config_;
  std::mt19937_64 rng_;
  std::vector<HotPixel> hot_;
  std::vector<Pixel> noisy_;                // of the noisy chip
  std::vector<Pixel> delayed_;              // the out-of-sync stave's hits for the next event
  long long index_ = 0;                     // of the next data event
  std::vector<SlotChannel> channel_order_;  // by readout unit, then channel
};

}  // namespace kivo::sim

#endif
