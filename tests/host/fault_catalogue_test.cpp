// The data-quality checks as an operator meets them: runs simulated with
// kivo-sim, faults made by hand by editing their text form (kivo-dump, edit,
// kivo-pack) from a data event in the middle of the run, and the real kivo
// judging them at set_refresh(1000). A healthy run of any beam raises no
// Medium or Bad verdict; each fault is found by its check, on its stave (and
// chip), within a few refreshes, with no other stave flagged and no more
// alarms than root causes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fault_runs.h"
#include "kivo_process.h"

namespace {

using kivo::test::alarming;
using kivo::test::Change;
using kivo::test::Finished;
using kivo::test::Hit;
using kivo::test::one_event_late;
using kivo::test::run_program;

class FaultCatalogue : public kivo::test::FaultRuns {};

// Healthy runs of beams none of the checks was tuned to.
TEST_F(FaultCatalogue, HealthyRunsOfVariedBeamsStayQuiet) {
  const std::vector<std::vector<std::string>> beams = {
      {"--seed", "101"},
      {"--seed", "102", "--particles", "1", "--cluster", "1"},
      {"--seed", "103", "--beam-sigma-col", "20", "--beam-sigma-row", "10", "--particles", "40"},
      {"--seed", "104", "--stave-shift-col", "400", "--stave-shift-row", "30"},
      {"--seed", "105", "--noise", "40", "--beam-sigma-col", "1500", "--beam-sigma-row", "150"},
      {"--seed", "106", "--beam-col", "300", "--noise", "0", "--hot-pixels", "4", "--hot-probability", "0.05"},
      {"--seed", "301", "--beam-sigma-col", "2500", "--beam-sigma-row", "200", "--particles", "2"},
  };
  for (const auto& beam : beams) {
    SCOPED_TRACE(beam[1]);
    expect_quiet(judge(simulate(beam)));
  }
  // A beam so wide that no double column expects many hits: clustered hits
  // still scatter more than Poisson counts.
  expect_quiet(judge(simulate({"--seed", "42", "--beam-sigma-col", "2000", "--beam-sigma-row", "150"}, "wide.kevt", 20000)));
}

TEST_F(FaultCatalogue, ABeamArrivingAfterNoiseOnlyEventsIsNoFault) {
  const std::string noise = text_of(simulate({"--seed", "107", "--particles", "0"}, "noise.kevt", 5000));
  std::string beam = text_of(simulate({"--seed", "108"}, "beam.kevt", 12000));
  beam.erase(0, beam.find('\n') + 1);  // one run: without the second begin-run line
  kivo::test::pack(noise + beam, path("late.kevt"));
  expect_quiet(judge(path("late.kevt")));
}

TEST_F(FaultCatalogue, DeadAndPartlyDeadRegionsAreNamed) {
  const std::string stream = simulate({"--seed", "111"});
  // A chip in the beam stops: one root cause, at most two alarms.
  std::vector<Change> changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 2 && h.chip == 4 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "occupancy", 2, 4, 3, "the whole chip (too few: 0 hits");
  EXPECT_LE(alarms.size(), 2u);
  // Half a chip, by its columns.
  changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 1 && h.chip == 4 && h.column >= 512 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "occupancy", 1, 4, 3, "columns 512 to 1023 (too few: 0 hits");
  // Half a chip, by its rows: the chip is named.
  changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 0 && h.chip == 4 && h.row >= 256 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "occupancy", 0, 4, 3, "the whole chip (too few: ");
  // Occupancy's Medium raises no alarm; the tracks find the rows that miss
  // every particle, which is Bad.
  for (const std::string& alarm : alarms) EXPECT_TRUE(alarm.starts_with("efficiency|0|")) << alarm;
  // A double column in the beam.
  changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 3 && h.chip == 4 && (h.column == 600 || h.column == 601) ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "occupancy", 3, 4, 3, "columns 600 to 601 (too few: 0 hits");
}

TEST_F(FaultCatalogue, ADeadStaveRaisesOneAlarmWithADigest) {
  const std::vector<Change> changes = judge(with_fault(simulate({"--seed", "112"}), {[](const Hit& h) {
    return h.stave == 1 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "occupancy", 1, -1, 3, "too few: 0 hits");
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_NE(alarms[0].find("occupancy: 9 of 9 chips Bad"), std::string::npos) << alarms[0];
}

TEST_F(FaultCatalogue, NoisyRegionsAndHotBlocksAreNamed) {
  const std::string stream = simulate({"--seed", "113"});
  // A chip far from the beam with 20 more hits in every event.
  std::vector<Change> changes = judge(with_fault(stream, {{}, [](std::mt19937& rng) {
    std::vector<Hit> hits;
    for (int i = 0; i < 20; ++i) hits.push_back({1, 8, static_cast<int>(rng() % 512), static_cast<int>(rng() % 1024)});
    return hits;
  }}));
  expect_found(changes, "occupancy", 1, 8, 3, "the whole chip (too many: ");
  // A region of 64 columns with 3 more hits in every event.
  changes = judge(with_fault(stream, {{}, [](std::mt19937& rng) {
    std::vector<Hit> hits;
    for (int i = 0; i < 3; ++i) hits.push_back({0, 6, static_cast<int>(rng() % 512), 320 + static_cast<int>(rng() % 64)});
    return hits;
  }}));
  expect_found(changes, "occupancy", 0, 6, 3, "columns 320 to 383 (too many: ");
  // 30 hot pixels in a compact block, where the beam passes.
  changes = judge(with_fault(stream, {{}, [](std::mt19937& rng) {
    std::vector<Hit> hits;
    for (int row = 100; row < 106; ++row)
      for (int column = 500; column < 505; ++column)
        if (rng() % 10 < 9) hits.push_back({2, 4, row, column});
    return hits;
  }}));
  expect_found(changes, "hot_pixels", 2, -1, 3, "30 of them in blocks of pixels that stand out together");
  for (const Change& change : changes)
    EXPECT_FALSE(change.check == "beam_position" && alarming(change.to)) << "the block captured the beam: "
                                                                         << change.reason;
  // A few pixels that start to fire in 3% of the events.
  changes = judge(with_fault(stream, {{}, [](std::mt19937& rng) {
    std::vector<Hit> hits;
    for (int i = 0; i < 6; ++i)
      if (rng() % 100 < 3) hits.push_back({3, 1, 300, 200 + 10 * i});
    return hits;
  }}));
  expect_found(changes, "hot_pixels", 3, -1, 3, " hot pixels");
}

TEST_F(FaultCatalogue, ABeamJumpFlippedRowsAndARateDropAreFoundOnTheirStave) {
  const std::string stream = simulate({"--seed", "114"});
  std::vector<Change> changes = judge(with_fault(stream, {[](const Hit& h) -> std::optional<Hit> {
    if (h.stave != 2) return h;
    const int column = h.stave_column() + 400;
    if (column > 9215) return std::nullopt;
    return Hit{2, column / 1024, h.row, column % 1024};
  }, {}}));
  expect_found(changes, "beam_position", 2, -1, 5, "earlier in the run at column");
  // The rows of a chip in the beam read upside down (a beam off the
  // middle row, so that it shows).
  changes = judge(with_fault(simulate({"--seed", "115", "--beam-row", "150"}), {[](const Hit& h) {
    return h.stave == 1 && h.chip == 4 ? Hit{1, 4, 511 - h.row, h.column} : h;
  }, {}}));
  expect_found(changes, "beam_position", 1, -1, 5, "rows");
  std::mt19937 thin(3);
  changes = judge(with_fault(stream, {[&thin](const Hit& h) {
    return h.stave == 3 && thin() % 10 >= 4 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  expect_found(changes, "hit_rate", 3, -1, 3, "times their median");
}

// A stave whose hits come one event late from the onset on is named by the
// synchronisation check, whether it is one of the staves the others are
// compared with (3) or not (1).
TEST_F(FaultCatalogue, AStaveOneEventLateIsNamed) {
  const std::string text = text_of(simulate({"--seed", "116"}));
  for (const int stave : {1, 3}) {
    SCOPED_TRACE("stave " + std::to_string(stave));
    kivo::test::pack(one_event_late(text, stave, onset), path("late.kevt"));
    expect_found(judge(path("late.kevt")), "synchronisation", stave, -1, 5, "one event late");
  }
}

// A reference run of the same conditions, other seed and other hot pixels:
// Good however long the run; other conditions are not.
TEST_F(FaultCatalogue, AReferenceOfTheSameConditionsStaysGoodOthersDoNot) {
  const std::string reference = path("reference.json");
  const Finished saved = run_program({KIVO_BIN, "-b", "-q", "-e", "run()", "-e", "OM()", "-e",
                                      "save(\"" + reference + "\")", simulate({"--seed", "121"}, "good.kevt", 30000)});
  ASSERT_EQ(saved.status, 0) << saved.err;
  const auto judged = [&](const std::vector<std::string>& options) {
    return judge_with(simulate(options, "run.kevt", 30000), {"--reference", reference});
  };
  expect_quiet(judged({"--seed", "122"}));
  for (const auto& [options, check] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--seed", "123", "--noise", "20"}, "reference"},
           {{"--seed", "124", "--particles", "10"}, "reference"},
           {{"--seed", "125", "--beam-col", "4708"}, "reference"}}) {
    SCOPED_TRACE(options[2]);
    const std::vector<Change> changes = judged(options);
    const auto found = std::find_if(changes.begin(), changes.end(), [&](const Change& c) {
      return c.check == check && alarming(c.to);
    });
    ASSERT_NE(found, changes.end());
    EXPECT_LE(found->event, 5001) << found->reason;
  }
}

}  // namespace
