#include "Config.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include <toml++/toml.h>

#include "TextFile.h"
#include "default_checks_text.h"

namespace kivo::quality {

namespace {

constexpr double kUnbounded = std::numeric_limits<double>::max();
constexpr std::size_t kDifferenceStaves = 3;
constexpr const char* kDefaultFile = "default_checks.toml";

// One key of the configuration: where it lives in Config and what it accepts.
struct Field {
  const char* table;
  const char* key;
  enum Kind { Flag, Number, List, Positions } kind;
  double min = 0, max = kUnbounded;  // of the number, or of every element of the list
  bool* (*flag)(Config&) = nullptr;
  double* (*number)(Config&) = nullptr;
  std::vector<double>* (*list)(Config&) = nullptr;
  std::array<double, tracking::kStaves>* (*positions)(Config&) = nullptr;
};

Field flag(const char* table, bool* (*at)(Config&)) {
  return {table, "enabled", Field::Flag, 0, 0, at, nullptr, nullptr};
}
Field number(const char* table, const char* key, double min, double max, double* (*at)(Config&)) {
  return {table, key, Field::Number, min, max, nullptr, at, nullptr};
}
Field list(const char* table, const char* key, std::vector<double>* (*at)(Config&)) {
  return {table, key, Field::List, -kUnbounded, kUnbounded, nullptr, nullptr, at};
}
// One number per stave 0..3, no two the same.
Field positions(const char* table, const char* key, std::array<double, tracking::kStaves>* (*at)(Config&)) {
  return {table, key, Field::Positions, -kUnbounded, kUnbounded, nullptr, nullptr, nullptr, at};
}

const std::vector<Field>& fields() {
  static const std::vector<Field> table = {
      number("verdicts", "confirm_judgements", 1, 100, [](Config& c) { return &c.verdicts.confirm_judgements; }),
      flag("occupancy", [](Config& c) { return &c.occupancy.enabled; }),
      number("occupancy", "window_events", 1, kUnbounded, [](Config& c) { return &c.occupancy.window_events; }),
      number("occupancy", "min_events", 1, kUnbounded, [](Config& c) { return &c.occupancy.min_events; }),
      number("occupancy", "baseline_events", 1, kUnbounded, [](Config& c) { return &c.occupancy.baseline_events; }),
      number("occupancy", "min_expected_hits", 1, kUnbounded, [](Config& c) { return &c.occupancy.min_expected_hits; }),
      number("occupancy", "medium_low", 0, 1, [](Config& c) { return &c.occupancy.medium_low; }),
      number("occupancy", "bad_low", 0, 1, [](Config& c) { return &c.occupancy.bad_low; }),
      number("occupancy", "medium_high", 1, kUnbounded, [](Config& c) { return &c.occupancy.medium_high; }),
      number("occupancy", "bad_high", 1, kUnbounded, [](Config& c) { return &c.occupancy.bad_high; }),
      number("occupancy", "medium_p", 0, 1, [](Config& c) { return &c.occupancy.medium_p; }),
      number("occupancy", "bad_p", 0, 1, [](Config& c) { return &c.occupancy.bad_p; }),
      flag("hot_pixels", [](Config& c) { return &c.hot_pixels.enabled; }),
      number("hot_pixels", "window_events", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.window_events; }),
      number("hot_pixels", "min_events", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.min_events; }),
      number("hot_pixels", "event_share", 0, 1, [](Config& c) { return &c.hot_pixels.event_share; }),
      number("hot_pixels", "min_hits", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.min_hits; }),
      number("hot_pixels", "neighbour_ratio", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.neighbour_ratio; }),
      number("hot_pixels", "medium_count", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.medium_count; }),
      number("hot_pixels", "bad_count", 1, kUnbounded, [](Config& c) { return &c.hot_pixels.bad_count; }),
      flag("busy_events", [](Config& c) { return &c.busy_events.enabled; }),
      number("busy_events", "window_events", 1, kUnbounded, [](Config& c) { return &c.busy_events.window_events; }),
      number("busy_events", "min_events", 1, kUnbounded, [](Config& c) { return &c.busy_events.min_events; }),
      number("busy_events", "quantile", 0.5, 1, [](Config& c) { return &c.busy_events.quantile; }),
      number("busy_events", "multiple", 1, kUnbounded, [](Config& c) { return &c.busy_events.multiple; }),
      number("busy_events", "least_hits", 0, kUnbounded, [](Config& c) { return &c.busy_events.least_hits; }),
      number("busy_events", "medium_share", 0, 1, [](Config& c) { return &c.busy_events.medium_share; }),
      number("busy_events", "bad_share", 0, 1, [](Config& c) { return &c.busy_events.bad_share; }),
      flag("hit_rate", [](Config& c) { return &c.hit_rate.enabled; }),
      number("hit_rate", "window_events", 1, kUnbounded, [](Config& c) { return &c.hit_rate.window_events; }),
      number("hit_rate", "min_events", 1, kUnbounded, [](Config& c) { return &c.hit_rate.min_events; }),
      number("hit_rate", "medium_below", 0, kUnbounded, [](Config& c) { return &c.hit_rate.medium_below; }),
      number("hit_rate", "bad_below", 0, kUnbounded, [](Config& c) { return &c.hit_rate.bad_below; }),
      number("hit_rate", "medium_above", 0, kUnbounded, [](Config& c) { return &c.hit_rate.medium_above; }),
      number("hit_rate", "bad_above", 0, kUnbounded, [](Config& c) { return &c.hit_rate.bad_above; }),
      number("hit_rate", "medium_ratio", 1, kUnbounded, [](Config& c) { return &c.hit_rate.medium_ratio; }),
      number("hit_rate", "bad_ratio", 1, kUnbounded, [](Config& c) { return &c.hit_rate.bad_ratio; }),
      flag("beam_position", [](Config& c) { return &c.beam_position.enabled; }),
      number("beam_position", "window_events", 1, kUnbounded, [](Config& c) { return &c.beam_position.window_events; }),
      number("beam_position", "min_events", 1, kUnbounded, [](Config& c) { return &c.beam_position.min_events; }),
      number("beam_position", "baseline_events", 1, kUnbounded, [](Config& c) { return &c.beam_position.baseline_events; }),
      number("beam_position", "min_beam_hits", 1, kUnbounded, [](Config& c) { return &c.beam_position.min_beam_hits; }),
      number("beam_position", "min_significance", 0, kUnbounded, [](Config& c) { return &c.beam_position.min_significance; }),
      number("beam_position", "medium_columns", 0, kUnbounded, [](Config& c) { return &c.beam_position.medium_columns; }),
      number("beam_position", "bad_columns", 0, kUnbounded, [](Config& c) { return &c.beam_position.bad_columns; }),
      number("beam_position", "medium_rows", 0, kUnbounded, [](Config& c) { return &c.beam_position.medium_rows; }),
      number("beam_position", "bad_rows", 0, kUnbounded, [](Config& c) { return &c.beam_position.bad_rows; }),
      number("beam_position", "medium_width_ratio", 1, kUnbounded, [](Config& c) { return &c.beam_position.medium_width_ratio; }),
      number("beam_position", "bad_width_ratio", 1, kUnbounded, [](Config& c) { return &c.beam_position.bad_width_ratio; }),
      flag("alignment", [](Config& c) { return &c.alignment.enabled; }),
      number("alignment", "window_events", 1, kUnbounded, [](Config& c) { return &c.alignment.window_events; }),
      number("alignment", "min_events", 1, kUnbounded, [](Config& c) { return &c.alignment.min_events; }),
      list("alignment", "expected_columns", [](Config& c) { return &c.alignment.expected_columns; }),
      list("alignment", "expected_rows", [](Config& c) { return &c.alignment.expected_rows; }),
      number("alignment", "near_columns", 0, 511, [](Config& c) { return &c.alignment.near_columns; }),
      number("alignment", "near_rows", 0, 511, [](Config& c) { return &c.alignment.near_rows; }),
      number("alignment", "peak_ratio", 1, kUnbounded, [](Config& c) { return &c.alignment.peak_ratio; }),
      number("alignment", "min_significance", 0, kUnbounded, [](Config& c) { return &c.alignment.min_significance; }),
      number("alignment", "medium_columns", 0, kUnbounded, [](Config& c) { return &c.alignment.medium_columns; }),
      number("alignment", "bad_columns", 0, kUnbounded, [](Config& c) { return &c.alignment.bad_columns; }),
      number("alignment", "medium_rows", 0, kUnbounded, [](Config& c) { return &c.alignment.medium_rows; }),
      number("alignment", "bad_rows", 0, kUnbounded, [](Config& c) { return &c.alignment.bad_rows; }),
      flag("synchronisation", [](Config& c) { return &c.synchronisation.enabled; }),
      number("synchronisation", "window_events", 1, kUnbounded, [](Config& c) { return &c.synchronisation.window_events; }),
      number("synchronisation", "min_events", 1, kUnbounded, [](Config& c) { return &c.synchronisation.min_events; }),
      number("synchronisation", "near_columns", 0, 511, [](Config& c) { return &c.synchronisation.near_columns; }),
      number("synchronisation", "near_rows", 0, 511, [](Config& c) { return &c.synchronisation.near_rows; }),
      number("synchronisation", "peak_ratio", 1, kUnbounded, [](Config& c) { return &c.synchronisation.peak_ratio; }),
      number("synchronisation", "min_significance", 0, kUnbounded,
             [](Config& c) { return &c.synchronisation.min_significance; }),
      number("synchronisation", "medium_ratio", 1, kUnbounded, [](Config& c) { return &c.synchronisation.medium_ratio; }),
      number("synchronisation", "bad_ratio", 1, kUnbounded, [](Config& c) { return &c.synchronisation.bad_ratio; }),
      flag("missing_packet", [](Config& c) { return &c.missing_packet.enabled; }),
      number("missing_packet", "window_events", 1, kUnbounded, [](Config& c) { return &c.missing_packet.window_events; }),
      number("missing_packet", "min_events", 1, kUnbounded, [](Config& c) { return &c.missing_packet.min_events; }),
      number("missing_packet", "medium_share", 0, 1, [](Config& c) { return &c.missing_packet.medium_share; }),
      number("missing_packet", "bad_share", 0, 1, [](Config& c) { return &c.missing_packet.bad_share; }),
      flag("reference", [](Config& c) { return &c.reference.enabled; }),
      number("reference", "min_entries", 1, kUnbounded, [](Config& c) { return &c.reference.min_entries; }),
      number("reference", "medium_distance", 0, 1, [](Config& c) { return &c.reference.medium_distance; }),
      number("reference", "bad_distance", 0, 1, [](Config& c) { return &c.reference.bad_distance; }),
      number("reference", "medium_p", 0, 1, [](Config& c) { return &c.reference.medium_p; }),
      number("reference", "bad_p", 0, 1, [](Config& c) { return &c.reference.bad_p; }),
      flag("efficiency", [](Config& c) { return &c.efficiency.enabled; }),
      number("efficiency", "window_events", 1, kUnbounded, [](Config& c) { return &c.efficiency.window_events; }),
      number("efficiency", "min_events", 1, kUnbounded, [](Config& c) { return &c.efficiency.min_events; }),
      number("efficiency", "min_tracks", 1, kUnbounded, [](Config& c) { return &c.efficiency.min_tracks; }),
      number("efficiency", "medium_ratio", 0, 1, [](Config& c) { return &c.efficiency.medium_ratio; }),
      number("efficiency", "bad_ratio", 0, 1, [](Config& c) { return &c.efficiency.bad_ratio; }),
      number("efficiency", "medium_p", 0, 1, [](Config& c) { return &c.efficiency.medium_p; }),
      number("efficiency", "bad_p", 0, 1, [](Config& c) { return &c.efficiency.bad_p; }),
      flag("residuals", [](Config& c) { return &c.residuals.enabled; }),
      number("residuals", "window_events", 1, kUnbounded, [](Config& c) { return &c.residuals.window_events; }),
      number("residuals", "min_events", 1, kUnbounded, [](Config& c) { return &c.residuals.min_events; }),
      number("residuals", "min_matches", 1, kUnbounded, [](Config& c) { return &c.residuals.min_matches; }),
      number("residuals", "medium_shift", 0, kUnbounded, [](Config& c) { return &c.residuals.medium_shift; }),
      number("residuals", "bad_shift", 0, kUnbounded, [](Config& c) { return &c.residuals.bad_shift; }),
      number("residuals", "min_shift_significance", 0, kUnbounded,
             [](Config& c) { return &c.residuals.min_shift_significance; }),
      number("residuals", "medium_width_ratio", 1, kUnbounded, [](Config& c) { return &c.residuals.medium_width_ratio; }),
      number("residuals", "bad_width_ratio", 1, kUnbounded, [](Config& c) { return &c.residuals.bad_width_ratio; }),
      number("residuals", "min_tracks", 1, kUnbounded, [](Config& c) { return &c.residuals.min_tracks; }),
      number("residuals", "min_pairs", 1, kUnbounded, [](Config& c) { return &c.residuals.min_pairs; }),
      number("residuals", "moved_p", 0, 1, [](Config& c) { return &c.residuals.moved_p; }),
      number("residuals", "medium_moved_share", 0, 1, [](Config& c) { return &c.residuals.medium_moved_share; }),
      number("residuals", "bad_moved_share", 0, 1, [](Config& c) { return &c.residuals.bad_moved_share; }),
      flag("track_synchronisation", [](Config& c) { return &c.track_synchronisation.enabled; }),
      number("track_synchronisation", "window_events", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.window_events; }),
      number("track_synchronisation", "min_events", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.min_events; }),
      number("track_synchronisation", "min_tracks", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.min_tracks; }),
      number("track_synchronisation", "min_matches", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.min_matches; }),
      number("track_synchronisation", "min_significance", 0, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.min_significance; }),
      number("track_synchronisation", "medium_ratio", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.medium_ratio; }),
      number("track_synchronisation", "bad_ratio", 1, kUnbounded,
             [](Config& c) { return &c.track_synchronisation.bad_ratio; }),
      number("alarm", "time_limit_seconds", 0.001, 86400, [](Config& c) { return &c.alarm.time_limit_seconds; }),
      number("alarm", "max_alarms", 1, 1e6, [](Config& c) { return &c.alarm.max_alarms; }),
      number("alarm", "period_seconds", 0.001, 86400, [](Config& c) { return &c.alarm.period_seconds; }),
      flag("tracking", [](Config& c) { return &c.tracking.enabled; }),
      positions("tracking", "plane_positions", [](Config& c) { return &c.tracking.plane_positions; }),
      number("tracking", "road_pixels", 0.5, 100, [](Config& c) { return &c.tracking.road_pixels; }),
      number("tracking", "road_widths", 1, 100, [](Config& c) { return &c.tracking.road_widths; }),
      number("tracking", "matching_radius", 0.5, 100, [](Config& c) { return &c.tracking.matching_radius; }),
      number("tracking", "max_chi2", 0.1, kUnbounded, [](Config& c) { return &c.tracking.max_chi2; }),
      number("tracking", "cost_share", 0.01, 1000, [](Config& c) { return &c.tracking.cost_share; }),
  };
  return table;
}

// A Medium limit and its Bad limit: Bad must be at least as strict.
struct LimitPair {
  const char* table;
  const char* medium;
  const char* bad;
  bool bad_is_lower;  // a limit the value must stay above: Bad's is the lower one
};

const std::vector<LimitPair>& limit_pairs() {
  static const std::vector<LimitPair> pairs = {
      {"occupancy", "medium_low", "bad_low", true},
      {"occupancy", "medium_high", "bad_high", false},
      {"occupancy", "medium_p", "bad_p", true},
      {"hot_pixels", "medium_count", "bad_count", false},
      {"busy_events", "medium_share", "bad_share", false},
      {"hit_rate", "medium_below", "bad_below", true},
      {"hit_rate", "medium_above", "bad_above", false},
      {"hit_rate", "medium_ratio", "bad_ratio", false},
      {"beam_position", "medium_columns", "bad_columns", false},
      {"beam_position", "medium_rows", "bad_rows", false},
      {"beam_position", "medium_width_ratio", "bad_width_ratio", false},
      {"alignment", "medium_columns", "bad_columns", false},
      {"alignment", "medium_rows", "bad_rows", false},
      {"synchronisation", "medium_ratio", "bad_ratio", false},
      {"missing_packet", "medium_share", "bad_share", false},
      {"reference", "medium_distance", "bad_distance", false},
      {"reference", "medium_p", "bad_p", true},
      {"efficiency", "medium_ratio", "bad_ratio", true},
      {"efficiency", "medium_p", "bad_p", true},
      {"residuals", "medium_shift", "bad_shift", false},
      {"residuals", "medium_width_ratio", "bad_width_ratio", false},
      {"residuals", "medium_moved_share", "bad_moved_share", false},
      {"track_synchronisation", "medium_ratio", "bad_ratio", false},
  };
  return pairs;
}

// A count of events that must not exceed another setting of its table: a
// check that needs more entries than its window holds would never judge.
std::string dotted(const Field& field) { return std::string(field.table) + "." + field.key; }

const Field* find_field(const std::string& table, const std::string& key) {
  for (const Field& field : fields())
    if (table == field.table && key == field.key) return &field;
  return nullptr;
}

std::string known_tables() {
  std::string names;
  for (const Field& field : fields())
    if (names.find(field.table) == std::string::npos) names += (names.empty() ? "" : ", ") + std::string(field.table);
  return names;
}

std::string known_keys(const std::string& table) {
  std::string names;
  for (const Field& field : fields())
    if (table == field.table) names += (names.empty() ? "" : ", ") + std::string(field.key);
  return names;
}

std::string format_number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// Reads configuration tables into a Config, remembering where each key was
// set so that errors point at the line the operator wrote.
class Reader {
 public:
  explicit Reader(Config& config) : config_(config) {}

  bool read(const toml::table& root, const std::string& file, std::string& error) {
    for (const auto& [name, node] : root) {
      const std::string table(name.str());
      const toml::table* keys = node.as_table();
      if (!keys) return fail(file, node, table, "not a table of settings (tables: " + known_tables() + ")", error);
      if (known_keys(table).empty())
        return fail(file, node, "[" + table + "]", "unknown check (known: " + known_tables() + ")", error);
      for (const auto& [key_name, value] : *keys) {
        const std::string key(key_name.str());
        const Field* field = find_field(table, key);
        if (!field)
          return fail(file, value, table + "." + key, "unknown key (known: " + known_keys(table) + ")", error);
        if (!set(*field, value, file, error)) return false;
        where_[dotted(*field)] = location(file, value);
      }
    }
    return true;
  }

  // Every key has been given a value (by the defaults, at least).
  bool complete(std::string& missing) const {
    for (const Field& field : fields())
      if (!where_.count(dotted(field))) missing.append(" ").append(dotted(field));
    return missing.empty();
  }

  // Each Bad limit at least as strict as its Medium limit. The error names
  // the key of the pair that `file` set, the Bad one when it set both.
  bool check_limits(const std::string& file, std::string& error) const {
    for (const LimitPair& pair : limit_pairs()) {
      const double medium = *find_field(pair.table, pair.medium)->number(config_);
      const double bad = *find_field(pair.table, pair.bad)->number(config_);
      if (pair.bad_is_lower ? bad <= medium : bad >= medium) continue;
      const std::string table(pair.table);
      const std::string bad_key = table + "." + pair.bad, medium_key = table + "." + pair.medium;
      const bool name_medium = where_.at(bad_key).rfind(file + ":", 0) != 0;
      const std::string& key = name_medium ? medium_key : bad_key;
      const std::string& other = name_medium ? pair.bad : pair.medium;
      const bool at_most = pair.bad_is_lower != name_medium;
      error = where_.at(key) + ": " + key + ": " + format_number(name_medium ? medium : bad) + " must be " +
              (at_most ? "at most " : "at least ") + other + " (" + format_number(name_medium ? bad : medium) + ")";
      return false;
    }
    return true;
  }

  // A check needs its `min_events` within its window: more could never be
  // there, and the check would wait for ever.
  bool check_windows(const std::string& file, std::string& error) const {
    for (const Field& field : fields()) {
      if (std::string(field.key) != "window_events") continue;
      const Field* least = find_field(field.table, "min_events");
      if (!least || *least->number(config_) <= *field.number(config_)) continue;
      const std::string table(field.table);
      const bool name_window = where_.at(table + ".min_events").rfind(file + ":", 0) != 0;
      const std::string key = table + (name_window ? ".window_events" : ".min_events");
      error = where_.at(key) + ": " + key + ": " +
              (name_window ? format_number(*field.number(config_)) + " must be at least min_events (" +
                                 format_number(*least->number(config_)) + ")"
                           : format_number(*least->number(config_)) + " must be at most window_events (" +
                                 format_number(*field.number(config_)) + ")");
      return false;
    }
    return true;
  }

 private:
  static std::string location(const std::string& file, const toml::node& node) {
    return file + ":" + std::to_string(node.source().begin.line);
  }

  static bool fail(const std::string& file, const toml::node& node, const std::string& key,
                   const std::string& message, std::string& error) {
    error = location(file, node) + ": " + key + ": " + message;
    return false;
  }

  bool set(const Field& field, const toml::node& value, const std::string& file, std::string& error) {
    switch (field.kind) {
      case Field::Flag:
        if (!value.is_boolean()) return fail(file, value, dotted(field), "expected true or false", error);
        *field.flag(config_) = value.as_boolean()->get();
        return true;
      case Field::Number:
        return set_number(field, value, *field.number(config_), file, error);
      case Field::List:
        return set_list(field, value, file, error);
      case Field::Positions:
        return set_positions(field, value, file, error);
    }
    return true;
  }

  // Four numbers, all different: a track through three planes, two of them
  // at one place, would have no direction.
  bool set_positions(const Field& field, const toml::node& value, const std::string& file, std::string& error) {
    const toml::array* array = value.as_array();
    if (!array || array->size() != tracking::kStaves)
      return fail(file, value, dotted(field), "expected one number per stave 0, 1, 2, 3", error);
    std::array<double, tracking::kStaves> numbers{};
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (!set_number(field, (*array)[i], numbers[i], file, error)) return false;
      for (std::size_t j = 0; j < i; ++j)
        if (numbers[j] == numbers[i])
          return fail(file, (*array)[i], dotted(field),
                      "staves " + std::to_string(j) + " and " + std::to_string(i) + " are both at " +
                          format_number(numbers[i]) + "; each stave needs a place of its own",
                      error);
    }
    *field.positions(config_) = numbers;
    return true;
  }

  bool set_number(const Field& field, const toml::node& value, double& target, const std::string& file,
                  std::string& error) {
    std::optional<double> number = value.value<double>();
    if (!value.is_number() || !number || !std::isfinite(*number))
      return fail(file, value, dotted(field), "expected a number", error);
    if (*number < field.min || *number > field.max) {
      std::string range = field.max == kUnbounded ? "at least " + format_number(field.min)
                                                  : format_number(field.min) + " to " + format_number(field.max);
      return fail(file, value, dotted(field), format_number(*number) + " is out of range (" + range + ")", error);
    }
    target = *number;
    return true;
  }

  bool set_list(const Field& field, const toml::node& value, const std::string& file, std::string& error) {
    const toml::array* array = value.as_array();
    if (!array || (!array->empty() && array->size() != kDifferenceStaves))
      return fail(file, value, dotted(field), "expected [] or one number per stave 0, 1, 2", error);
    std::vector<double> numbers(array->size());
    for (std::size_t i = 0; i < array->size(); ++i)
      if (!set_number(field, (*array)[i], numbers[i], file, error)) return false;
    *field.list(config_) = numbers;
    return true;
  }

  Config& config_;
  std::map<std::string, std::string> where_;
};

std::string list_text(const std::vector<double>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + format_number(values[i]);
  return text + "]";
}

// The configuration in force as TOML, tables and keys in the documented order.
std::string config_text(Config& config) {
  std::string text;
  std::string table;
  for (const Field& field : fields()) {
    if (table != field.table) {
      table = field.table;
      text += (text.empty() ? "[" : "\n[") + table + "]\n";
    }
    text += std::string(field.key) + " = ";
    switch (field.kind) {
      case Field::Flag: text += *field.flag(config) ? "true" : "false"; break;
      case Field::Number: text += format_number(*field.number(config)); break;
      case Field::List: text += list_text(*field.list(config)); break;
      case Field::Positions: {
        const auto& values = *field.positions(config);
        text += list_text(std::vector<double>(values.begin(), values.end()));
        break;
      }
    }
    text += "\n";
  }
  return text;
}

bool parse_text(const std::string& text, const std::string& name, toml::table& root, std::string& error) {
  try {
    root = toml::parse(text, name);
    return true;
  } catch (const toml::parse_error& failure) {
    error = name + ":" + std::to_string(failure.source().begin.line) + ":" +
            std::to_string(failure.source().begin.column) + ": " + std::string(failure.description());
    return false;
  }
}

std::optional<Config> build(const std::string* text, const std::string& name, std::string& error) {
  Config config{};
  Reader reader(config);
  toml::table defaults;
  std::string missing;
  if (!parse_text(default_config_text(), kDefaultFile, defaults, error) ||
      !reader.read(defaults, kDefaultFile, error))
    return std::nullopt;
  if (!reader.complete(missing)) throw std::logic_error(std::string(kDefaultFile) + " lacks" + missing);
  config.origin = "built-in defaults";
  if (text) {
    toml::table given;
    if (!parse_text(*text, name, given, error) || !reader.read(given, name, error)) return std::nullopt;
    config.origin = name;
  }
  const std::string& given = text ? name : kDefaultFile;
  if (!reader.check_limits(given, error) || !reader.check_windows(given, error)) return std::nullopt;
  config.text = config_text(config);
  return config;
}

}  // namespace

const std::string& default_config_text() {
  static const std::string text(kDefaultChecksText);
  return text;
}

Config default_config() {
  std::string error;
  std::optional<Config> config = build(nullptr, "", error);
  if (!config) throw std::logic_error("the built-in check configuration is invalid: " + error);
  return *config;
}

std::optional<Config> parse_config(const std::string& text, const std::string& name, std::string& error) {
  return build(&text, name, error);
}

std::optional<Config> load_config(const std::string& path, std::string& error) {
  std::string text;
  if (!read_text_file(path, text, error)) return std::nullopt;
  return parse_config(text, path, error);
}

}  // namespace kivo::quality
