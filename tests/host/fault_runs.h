// Faults made by hand for the end-to-end judgement of the checks: runs
// simulated with kivo-sim, their text form (kivo-dump) edited from a data
// event on and packed again (kivo-pack), then judged by the real kivo at
// set_refresh(1000) with a quality log and an alarm command.
#ifndef KIVO_TESTS_HOST_FAULT_RUNS_H
#define KIVO_TESTS_HOST_FAULT_RUNS_H

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kivo::test {

// (readout unit, channel) of chip c of stave s, as the readout is wired.
inline constexpr int kChipChannels[4][9][2] = {
    {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8}, {1, 27}},
    {{2, 3}, {2, 2}, {2, 1}, {2, 4}, {2, 5}, {2, 6}, {2, 7}, {2, 8}, {2, 9}},
    {{1, 26}, {1, 25}, {1, 24}, {1, 23}, {1, 22}, {1, 21}, {1, 20}, {1, 19}, {1, 18}},
    {{1, 17}, {1, 16}, {1, 15}, {1, 14}, {1, 13}, {1, 12}, {1, 11}, {1, 10}, {1, 9}},
};

// One hit of the text form, by stave, chip, chip row and chip column.
struct Hit {
  int stave, chip, row, column;
  int stave_column() const { return chip * 1024 + column; }
};

// The hit of a "hit" line on a wired channel; nullopt for any other line.
std::optional<Hit> parse_hit(const std::string& line);
std::string hit_line(const Hit& hit);

// An edit of the text form from the onset on: `event` is told each data
// event's index (from 0) before its lines, each hit line is kept, changed or
// dropped (`hit`), and lines may be added after each "event" line.
struct Edit {
  std::function<std::optional<Hit>(const Hit&)> hit;
  std::function<std::vector<Hit>(std::mt19937&)> added;
  std::function<void(int event)> event = {};
};

std::string edited(const std::string& text, const Edit& edit, int onset);

// The text with stave `stave`'s hits one event late from `onset` on, as
// when its readout missed a trigger: each event's hits of the stave move to
// the event after it.
std::string one_event_late(const std::string& text, int stave, int onset);

// The data events of a text form (without its begin- and end-run lines),
// for joining runs of other conditions into one run.
std::string data_events_of(const std::string& text);

// A verdict change of the quality log.
struct Change {
  int event;
  std::string check;
  int stave, chip;
  std::string from, to, reason;
};

bool alarming(const std::string& verdict);

// A two-dimensional histogram of a file save("x.json") wrote: its bins
// 0..nx+1 by 0..ny+1 as ROOT numbers them (bin = x + (nx + 2) * y).
struct SavedMap {
  int nx = 0, ny = 0;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  std::vector<double> bins;
  double at(int x, int y) const { return bins[static_cast<std::size_t>(x + (nx + 2) * y)]; }
};

// The object `name` of a saved file's text; nx == 0 when it is not there.
SavedMap saved_map(const std::string& json_text, const std::string& name);

class FaultRuns : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return directory + "/" + name; }

  // Writes a kivo-sim run of `events` data events to `name`; its path.
  std::string simulate(const std::vector<std::string>& options, const std::string& name = "run.kevt", int events = -1);
  std::string text_of(const std::string& stream);
  // The stream with `edit` applied to its text form from the onset on.
  std::string with_fault(const std::string& stream, const Edit& edit);
  // Runs kivo on `stream`; the verdict changes it logged (the alarms it
  // raised go to `alarms`).
  std::vector<Change> judge(const std::string& stream) { return judge_with(stream, {}); }
  std::vector<Change> judge_with(const std::string& stream, const std::vector<std::string>& options);

  // No Medium or Bad verdict and no alarm; only of the checks in `checks`
  // when it is not empty.
  void expect_quiet(const std::vector<Change>& changes, const std::vector<std::string>& checks = {});
  // The fault is found by `check` on `stave` (and `chip`, unless -1) within
  // `refreshes` of the onset, with `reason_part` in its reason; no other
  // stave turns Medium or Bad.
  void expect_found(const std::vector<Change>& changes, const std::string& check, int stave, int chip,
                    int refreshes, const std::string& reason_part);

  int events = 16000;
  int onset = 8000;  // the data event (from 0) where each fault starts
  int refresh = 1000;
  std::string directory;
  std::vector<std::string> alarms;
  std::string messages;  // kivo's standard error of the last judge()
};

}  // namespace kivo::test

#endif
