// The configuration of the data-quality checks: the built-in defaults (the
// documented file default_checks.toml, compiled in) with a TOML file given by
// `kivo --checks FILE` laid over them.
#ifndef KIVO_HOST_QUALITY_CONFIG_H
#define KIVO_HOST_QUALITY_CONFIG_H

#include <optional>
#include <string>
#include <vector>

#include "TrackingSettings.h"

namespace kivo::quality {

struct OccupancyConfig {
  bool enabled;
  double window_events, min_events, baseline_events, min_expected_hits, medium_low, bad_low, medium_high, bad_high,
      medium_p, bad_p;
};

struct HotPixelConfig {
  bool enabled;
  double window_events, min_events, event_share, min_hits, neighbour_ratio, medium_count, bad_count;
};

struct BusyEventConfig {
  bool enabled;
  double window_events, min_events, quantile, multiple, least_hits, medium_share, bad_share;
};

struct HitRateConfig {
  bool enabled;
  double window_events, min_events, medium_below, bad_below, medium_above, bad_above, medium_ratio,
      bad_ratio;
};

struct BeamPositionConfig {
  bool enabled;
  double window_events, min_events, baseline_events, min_beam_hits, min_significance, medium_columns, bad_columns, medium_rows, bad_rows, medium_width_ratio,
      bad_width_ratio;
};

struct AlignmentConfig {
  bool enabled;
  double window_events, min_events;
  std::vector<double> expected_columns, expected_rows;  // empty, or one per stave 0..2
  double near_columns, near_rows, peak_ratio, min_significance, medium_columns, bad_columns, medium_rows,
      bad_rows;
};

struct SynchronisationConfig {
  bool enabled;
  double window_events, min_events, near_columns, near_rows, peak_ratio, min_significance, medium_ratio,
      bad_ratio;
};

struct MissingPacketConfig {
  bool enabled;
  double window_events, min_events, medium_share, bad_share;
};

struct ReferenceConfig {
  bool enabled;
  double min_entries, medium_distance, bad_distance, medium_p, bad_p;
};

// The checks on tracks (the [tracking] table configures the tracks themselves).
struct EfficiencyConfig {
  bool enabled;
  double window_events, min_events, min_tracks, medium_ratio, bad_ratio, medium_p, bad_p;
};

struct ResidualsConfig {
  bool enabled;
  double window_events, min_events, min_matches, medium_shift, bad_shift, min_shift_significance,
      medium_width_ratio, bad_width_ratio, min_tracks, min_pairs, moved_p, medium_moved_share, bad_moved_share;
};

struct TrackSynchronisationConfig {
  bool enabled;
  double window_events, min_events, min_tracks, min_matches, min_significance, medium_ratio, bad_ratio;
};

struct VerdictConfig {
  double confirm_judgements;
};

struct AlarmConfig {
  double time_limit_seconds, max_alarms, period_seconds;
};

struct Config {
  VerdictConfig verdicts;
  OccupancyConfig occupancy;
  HotPixelConfig hot_pixels;
  BusyEventConfig busy_events;
  HitRateConfig hit_rate;
  BeamPositionConfig beam_position;
  AlignmentConfig alignment;
  SynchronisationConfig synchronisation;
  MissingPacketConfig missing_packet;
  ReferenceConfig reference;
  EfficiencyConfig efficiency;
  ResidualsConfig residuals;
  TrackSynchronisationConfig track_synchronisation;
  AlarmConfig alarm;
  tracking::Settings tracking;  // the track reconstruction's [tracking] table
  std::string origin;  // the file given, or "built-in defaults"
  std::string text;    // the configuration in force, as TOML
};

// The built-in configuration.
Config default_config();

// The defaults with the file at `path` laid over them; nullopt with `error`
// naming the file, the line and the key (or the file and why it cannot be
// read) when the file is not a valid configuration.
std::optional<Config> load_config(const std::string& path, std::string& error);

// The same for configuration text; `name` stands for its file in errors.
std::optional<Config> parse_config(const std::string& text, const std::string& name,
                                   std::string& error);

// The documented default file, as compiled in.
const std::string& default_config_text();

}  // namespace kivo::quality

#endif
