// The checks' configuration: built-in defaults from the documented file,
// a file laid over them, and errors that name the file, the line and the key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Config.h"

namespace kivo::quality {
namespace {

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Config, BuiltInDefaultsAreTheDocumentedFile) {
  EXPECT_EQ(default_config_text(), file_text(KIVO_DEFAULT_CHECKS));
  const Config config = default_config();
  EXPECT_EQ(config.origin, "built-in defaults");
  EXPECT_TRUE(config.occupancy.enabled);
  EXPECT_EQ(config.occupancy.window_events, 3000);
  EXPECT_EQ(config.verdicts.confirm_judgements, 2);
  EXPECT_EQ(config.hot_pixels.event_share, 0.01);
  EXPECT_TRUE(config.alignment.expected_columns.empty());
  EXPECT_EQ(config.reference.bad_p, 1e-6);
  EXPECT_EQ(config.alarm.max_alarms, 5);
}

TEST(Config, AFileChangesOnlyWhatItNames) {
  std::string error;
  const std::optional<Config> config = parse_config(
      "[hot_pixels]\nbad_count = 40\n[alignment]\nexpected_columns = [-120, -80.5, -40]\n"
      "[reference]\nenabled = false\n",
      "mine.toml", error);
  ASSERT_TRUE(config) << error;
  EXPECT_EQ(config->origin, "mine.toml");
  EXPECT_EQ(config->hot_pixels.bad_count, 40);
  EXPECT_EQ(config->hot_pixels.medium_count, default_config().hot_pixels.medium_count);
  EXPECT_EQ(config->alignment.expected_columns, (std::vector<double>{-120, -80.5, -40}));
  EXPECT_FALSE(config->reference.enabled);
  EXPECT_NE(config->text.find("bad_count = 40\n"), std::string::npos) << config->text;
  EXPECT_NE(config->text.find("expected_columns = [-120, -80.5, -40]\n"), std::string::npos);
}

TEST(Config, TheTextInForceReadsBackTheSame) {
  std::string error;
  const Config defaults = default_config();
  const std::optional<Config> again = parse_config(defaults.text, "again.toml", error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->text, defaults.text);
}

TEST(Config, ErrorsNameTheFileTheLineAndTheKey) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[occupancy]\nenabled = true\n\n[dead_chips]\nwindow_events = 3\n",
       "c.toml:4: [dead_chips]: unknown check (known: verdicts, occupancy, hot_pixels, busy_events, hit_rate, beam_position, "
       "alignment, synchronisation, missing_packet, reference, efficiency, residuals, track_synchronisation, alarm, tracking)"},
      {"[occupancy]\nwindow = 3\n", "c.toml:2: occupancy.window: unknown key (known: enabled, window_events, "
                                    "min_events, baseline_events, min_expected_hits, medium_low, bad_low, "
                                    "medium_high, bad_high, medium_p, bad_p)"},
      {"[hit_rate]\n\nmin_events = \"many\"\n", "c.toml:3: hit_rate.min_events: expected a number"},
      {"[hit_rate]\nenabled = 1\n", "c.toml:2: hit_rate.enabled: expected true or false"},
      {"[missing_packet]\nbad_share = 1.5\n", "c.toml:2: missing_packet.bad_share: 1.5 is out of range (0 to 1)"},
      {"[occupancy]\nmin_events = 0\n", "c.toml:2: occupancy.min_events: 0 is out of range (at least 1)"},
      {"[occupancy]\nmin_events = 4000\n", "c.toml:2: occupancy.min_events: 4000 must be at most window_events (3000)"},
      {"[hit_rate]\nwindow_events = 500\n", "c.toml:2: hit_rate.window_events: 500 must be at least min_events (1000)"},
      {"[verdicts]\nconfirm_judgements = 0\n",
       "c.toml:2: verdicts.confirm_judgements: 0 is out of range (1 to 100)"},
      {"[hot_pixels]\nbad_count = 3\n", "c.toml:2: hot_pixels.bad_count: 3 must be at least medium_count (5)"},
      {"[occupancy]\nmedium_low = 0.1\n", "c.toml:2: occupancy.medium_low: 0.1 must be at least bad_low (0.25)"},
      {"[occupancy]\nbad_high = 1.5\n", "c.toml:2: occupancy.bad_high: 1.5 must be at least medium_high (1.8)"},
      {"[alignment]\nexpected_rows = [1, 2]\n",
       "c.toml:2: alignment.expected_rows: expected [] or one number per stave 0, 1, 2"},
      {"verbose = true\n",
       "c.toml:1: verbose: not a table of settings (tables: verdicts, occupancy, hot_pixels, busy_events, hit_rate, "
       "beam_position, alignment, synchronisation, missing_packet, reference, efficiency, residuals, track_synchronisation, alarm, tracking)"},
      {"[synchronisation]\nbad_ratio = 1.1\n",
       "c.toml:2: synchronisation.bad_ratio: 1.1 must be at least medium_ratio (1.2)"},
      {"[synchronisation]\nmedium_ratio = 0.9\n", "c.toml:2: synchronisation.medium_ratio: 0.9 is out of range (at least 1)"},
      {"[synchronisation]\nmin_events = 3001\n",
       "c.toml:2: synchronisation.min_events: 3001 must be at most window_events (3000)"},
      {"[synchronisation]\nwindow_events = 999\n",
       "c.toml:2: synchronisation.window_events: 999 must be at least min_events (1000)"},
      {"[alignment]\nmin_events = 5001\n",
       "c.toml:2: alignment.min_events: 5001 must be at most window_events (5000)"},
      {"[synchronisation]\nwindow_events = 500\nmin_events = 600\n",
       "c.toml:3: synchronisation.min_events: 600 must be at most window_events (500)"},
      {"[alignment]\nmax_hot_share = 0.05\n",
       "c.toml:2: alignment.max_hot_share: unknown key (known: enabled, window_events, min_events, expected_columns, "
       "expected_rows, near_columns, near_rows, peak_ratio, min_significance, medium_columns, bad_columns, "
       "medium_rows, bad_rows)"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parse_config(c.text, "c.toml", error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(Config, TrackingSettingsAreReadAndBadOnesRefused) {
  std::string error;
  const std::optional<Config> config = parse_config(
      "[tracking]\nplane_positions = [0, 25.5, 51, 76.5]\nmatching_radius = 3\nenabled = false\n", "t.toml", error);
  ASSERT_TRUE(config) << error;
  EXPECT_FALSE(config->tracking.enabled);
  EXPECT_EQ(config->tracking.plane_positions[1], 25.5);
  EXPECT_EQ(config->tracking.matching_radius, 3);
  EXPECT_EQ(config->tracking.max_chi2, default_config().tracking.max_chi2);
  EXPECT_NE(config->text.find("plane_positions = [0, 25.5, 51, 76.5]"), std::string::npos) << config->text;
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[tracking]\nmatching_radius = -2\n", "t.toml:2: tracking.matching_radius: -2 is out of range (0.5 to 100)"},
      {"[tracking]\nplane_positions = [0, 1, \"two\", 3]\n", "t.toml:2: tracking.plane_positions: expected a number"},
      {"[tracking]\nplane_positions = [0, 1, 2]\n",
       "t.toml:2: tracking.plane_positions: expected one number per stave 0, 1, 2, 3"},
      {"[tracking]\n\nplane_positions = [0, 1, 1, 3]\n",
       "t.toml:3: tracking.plane_positions: staves 1 and 2 are both at 1; each stave needs a place of its own"},
      {"[tracking]\nmax_chi2 = 0\n", "t.toml:2: tracking.max_chi2: 0 is out of range (at least 0.1)"},
      {"[tracking]\nroad = 3\n",
       "t.toml:2: tracking.road: unknown key (known: enabled, plane_positions, road_pixels, road_widths, "
       "matching_radius, max_chi2, cost_share)"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(parse_config(c.text, "t.toml", error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(Config, SyntaxErrorsNameTheLineAndColumn) {
  std::string error;
  EXPECT_FALSE(parse_config("[occupancy]\nwindow_events = = 3\n", "s.toml", error));
  EXPECT_EQ(error.rfind("s.toml:2:", 0), 0u) << error;
}

TEST(Config, UnreadableFilesAreNamed) {
  std::string error;
  EXPECT_FALSE(load_config("/nonexistent/checks.toml", error));
  EXPECT_EQ(error, "/nonexistent/checks.toml: cannot be read: No such file or directory");
  const std::string directory = std::filesystem::temp_directory_path().string();
  EXPECT_FALSE(load_config(directory, error));
  EXPECT_EQ(error, directory + ": cannot be read: is a directory");
}

}  // namespace
}  // namespace kivo::quality
