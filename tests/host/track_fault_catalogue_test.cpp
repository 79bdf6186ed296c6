// The checks on tracks as an operator meets them: faults that move hits
// instead of removing them (swapped cables, a stuck address bit, mirrored
// columns), a chip that misses a few particles or loses them slowly, a stave
// one event late in a sparse beam, all made by hand in the text form of
// simulated runs; and healthy runs of beams nobody tuned the checks to.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "fault_runs.h"
#include "kivo_process.h"

namespace {

using kivo::test::alarming;
using kivo::test::Change;
using kivo::test::Edit;
using kivo::test::Finished;
using kivo::test::Hit;
using kivo::test::run_program;

const std::vector<std::string> kTrackChecks = {"efficiency", "residuals", "track_synchronisation"};

// Tracks through and matched on chip `chip` of stave `stave` in a saved file.
struct ChipTracks {
  double total = 0, matched = 0;
  double efficiency() const { return total > 0 ? matched / total : 0; }
};

ChipTracks chip_tracks(const std::string& json_text, int stave, int chip) {
  const kivo::test::SavedMap total = kivo::test::saved_map(json_text, "htrack_total_" + std::to_string(stave));
  const kivo::test::SavedMap matched = kivo::test::saved_map(json_text, "htrack_matched_" + std::to_string(stave));
  EXPECT_GT(total.nx, 0) << "htrack_total_" << stave << " not saved";
  EXPECT_EQ(total.bins.size(), matched.bins.size());
  ChipTracks tracks;
  const double width = (total.xmax - total.xmin) / total.nx;
  for (int x = 1; x <= total.nx; ++x) {
    const double centre = total.xmin + (x - 0.5) * width;
    if (static_cast<int>(centre) / 1024 != chip) continue;
    for (int y = 1; y <= total.ny; ++y) {
      tracks.total += total.at(x, y);
      tracks.matched += matched.at(x, y);
    }
  }
  return tracks;
}

class TrackFaults : public kivo::test::FaultRuns {
 protected:
  // The first Medium or Bad verdict of a check on tracks on `stave` (and,
  // unless -2, naming `chip`: -1 for none); null when there is none.
  const Change* first_flag(const std::vector<Change>& changes, int stave, int chip = -2) const {
    for (const Change& change : changes)
      if (std::find(kTrackChecks.begin(), kTrackChecks.end(), change.check) != kTrackChecks.end() &&
          change.stave == stave && (chip == -2 || change.chip == chip) && alarming(change.to))
        return &change;
    return nullptr;
  }
  // A check on tracks flags one of `staves`, naming one of `chips` (any
  // chip or none when empty), within `refreshes` of the onset; no check on
  // tracks flags another stave.
  void expect_named(const std::vector<Change>& changes, const std::vector<int>& staves, const std::vector<int>& chips,
                    int refreshes) {
    const Change* found = nullptr;
    for (int stave : staves)
      for (int chip : chips.empty() ? std::vector<int>{-2} : chips)
        if (const Change* flag = first_flag(changes, stave, chip); flag && (!found || flag->event < found->event))
          found = flag;
    ASSERT_NE(found, nullptr) << "no check on tracks named the chip";
    EXPECT_GE(found->event, onset) << "flagged before the fault: " << found->reason;
    EXPECT_LE(found->event, onset + refreshes * refresh + 1) << found->check << ": " << found->reason;
    for (const Change& change : changes)
      if (std::find(staves.begin(), staves.end(), change.stave) == staves.end() &&
          std::find(kTrackChecks.begin(), kTrackChecks.end(), change.check) != kTrackChecks.end()) {
        EXPECT_FALSE(alarming(change.to)) << "another stave flagged: " << change.check << " stave " << change.stave
                                          << ": " << change.reason;
      }
  }
  // A run of several conditions one after the other: each part's events.
  std::string joined(const std::vector<std::pair<std::vector<std::string>, int>>& parts) {
    std::string text = "run 1\n";
    int n = 0;
    for (const auto& [options, count] : parts)
      text += kivo::test::data_events_of(text_of(simulate(options, "part" + std::to_string(n++) + ".kevt", count)));
    kivo::test::pack(text, path("joined.kevt"));
    return path("joined.kevt");
  }
};

// Healthy runs none of the checks on tracks was tuned to: spills, intensity
// changes, wide and sparse beams, large offsets between the staves,
// divergent tracks, staves that miss a particle now and then.
TEST_F(TrackFaults, HealthyBeamsRaiseNoTrackVerdict) {
  const std::vector<std::vector<std::string>> beams = {
      {"--seed", "501", "--spills", "2000:1000", "--divergence", "2"},
      {"--seed", "502", "--spills", "300:700", "--particles", "3"},
      {"--seed", "503", "--beam-sigma-col", "2500", "--beam-sigma-row", "200", "--particles", "3", "--divergence",
       "3"},
      {"--seed", "504", "--particles", "0.5", "--cluster", "2"},
      {"--seed", "505", "--stave-shift-col", "600", "--stave-shift-row", "20", "--divergence", "1"},
      {"--seed", "506", "--stave-shift-col", "-600", "--stave-shift-row", "-15"},
      {"--seed", "507", "--efficiency", "0.99", "--divergence", "3"},
      {"--seed", "508", "--beam-sigma-col", "40", "--beam-sigma-row", "15", "--particles", "15", "--noise", "10"},
  };
  for (const auto& beam : beams) {
    SCOPED_TRACE(beam[1]);
    expect_quiet(judge(simulate(beam)), kTrackChecks);
  }
}

TEST_F(TrackFaults, IntensityChangesAndOwnOffsetsPerStaveAreNoFault) {
  expect_quiet(judge(joined({{{"--seed", "511"}, 4000},
                             {{"--seed", "512", "--particles", "1.5"}, 4000},
                             {{"--seed", "513", "--particles", "15"}, 4000},
                             {{"--seed", "514"}, 4000}})),
               kTrackChecks);
  // Each stave offset on its own, not along a line: +600, -600, 0 and +300 columns.
  onset = 0;
  const std::array<int, 4> offsets = {600, -600, 0, 300};
  expect_quiet(judge(with_fault(simulate({"--seed", "515", "--stave-shift-col", "0", "--divergence", "1"}),
                                {[&offsets](const Hit& h) -> std::optional<Hit> {
                                   const int column = h.stave_column() + offsets[static_cast<std::size_t>(h.stave)];
                                   if (column < 0 || column > 9215) return std::nullopt;
                                   return Hit{h.stave, column / 1024, h.row, column % 1024};
                                 },
                                 {}})),
               kTrackChecks);
}

// A chip in the beam misses a random 5% of the particles: every hit of the
// chip is gone in a random 5% of the events.
Edit missing_events(int stave, int chip, std::function<double(int event)> share) {
  auto rng = std::make_shared<std::mt19937>(17);
  auto gone = std::make_shared<bool>(false);
  return {[=](const Hit& h) { return *gone && h.stave == stave && h.chip == chip ? std::nullopt : std::optional(h); },
          {},
          [=](int event) { *gone = std::uniform_real_distribution<double>(0, 1)(*rng) < share(event); }};
}

TEST_F(TrackFaults, AChipMissingFivePercentOfTheParticlesIsMedium) {
  // Throughout the run: the saved efficiency of the chip against the others.
  onset = 0;
  const std::string stream = with_fault(simulate({"--seed", "521"}), missing_events(2, 4, [](int) { return 0.05; }));
  const std::string saved = path("saved.json");
  const Finished run = run_program({KIVO_BIN, "-b", "-q", "-e", "set_refresh(1000)", "-e", "run()", "-e", "OM()",
                                    "-e", "save(\"" + saved + "\")", stream});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string text = kivo::test::read_file(saved);
  const ChipTracks faulty = chip_tracks(text, 2, 4);
  EXPECT_GT(faulty.total, 2000);
  EXPECT_GE(faulty.efficiency(), 0.93);
  EXPECT_LE(faulty.efficiency(), 0.97);
  for (int stave = 0; stave < 4; ++stave)
    for (int chip = 3; chip <= 5; ++chip) {
      const ChipTracks tracks = chip_tracks(text, stave, chip);
      if ((stave == 2 && chip == 4) || tracks.total < 500) continue;
      EXPECT_GE(tracks.efficiency(), 0.985) << "stave " << stave << " chip " << chip << ": " << tracks.matched
                                            << " of " << tracks.total;
    }

  // From the middle of the run on: Medium on that chip within ten refreshes.
  onset = 8000;
  events = 19000;
  const std::vector<Change> changes =
      judge(with_fault(simulate({"--seed", "522"}), missing_events(2, 4, [](int) { return 0.05; })));
  expect_found(changes, "efficiency", 2, 4, 10, "stave 2, chip 4: efficiency ");
}

// A chip that loses more and more of its particles, up to 60% by the end of
// the run: Medium before the loss reaches 20%. Single pixels lost at random
// lose a particle only with all of its pixels (a 20% loss of pixels loses
// about 6% of clusters of 1 to 4 pixels), so such a loss is found later,
// before it reaches 30%.
TEST_F(TrackFaults, ASlowLossIsMediumBeforeItReachesAFifth) {
  onset = 0;
  events = 20000;
  const auto loss = [this](int event) { return 0.6 * event / events; };
  const std::string stream = simulate({"--seed", "531", "--divergence", "1"});
  std::vector<Change> changes = judge(with_fault(stream, missing_events(1, 4, loss)));
  const Change* found = first_flag(changes, 1, 4);
  ASSERT_NE(found, nullptr);
  EXPECT_LE(loss(found->event), 0.2) << found->reason;
  EXPECT_EQ(found->check, "efficiency");

  std::mt19937 rng(3);
  int event = 0;
  changes = judge(with_fault(stream, {[&](const Hit& h) {
                                        const bool lost = h.stave == 1 && h.chip == 4 &&
                                                          std::uniform_real_distribution<double>(0, 1)(rng) < loss(event);
                                        return lost ? std::nullopt : std::optional(h);
                                      },
                                      {},
                                      [&event](int e) { event = e; }}));
  found = first_flag(changes, 1, 4);
  ASSERT_NE(found, nullptr);
  EXPECT_LE(loss(found->event), 0.3) << found->reason;
}

// Faults that move hits: each is found on its stave, naming its chip (or,
// for hits moved within the matching radius, the stave), within five
// refreshes, while the occupancy of the chips may look healthy.
TEST_F(TrackFaults, SwappedCablesAreNamed) {
  const std::string stream = simulate({"--seed", "541", "--divergence", "1", "--beam-sigma-col", "600"});
  // Chips 3 and 5 of stave 1 swapped.
  std::vector<Change> changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 1 && (h.chip == 3 || h.chip == 5) ? Hit{1, 8 - h.chip, h.row, h.column} : h;
  }, {}}));
  expect_named(changes, {1}, {3, 5}, 5);
  // The same on the default beam, where chips 3 and 5 see its tails only.
  expect_named(judge(with_fault(simulate({"--seed", "542", "--divergence", "1"}, "narrow.kevt"), {[](const Hit& h) {
                 return h.stave == 1 && (h.chip == 3 || h.chip == 5) ? Hit{1, 8 - h.chip, h.row, h.column} : h;
               }, {}})),
               {1}, {3, 5}, 5);
  // Staves 1 and 2 swapped.
  changes = judge(with_fault(stream, {[](const Hit& h) {
    return h.stave == 1 || h.stave == 2 ? Hit{3 - h.stave, h.chip, h.row, h.column} : h;
  }, {}}));
  expect_named(changes, {1, 2}, {}, 5);
}

TEST_F(TrackFaults, AStuckColumnBitOrMirroredColumnsOnTheBeamChipAreNamed) {
  const std::string stream = simulate({"--seed", "551", "--divergence", "1"});
  for (const auto& [stave, bit, stuck] : std::vector<std::tuple<int, int, int>>{{0, 9, 0}, {2, 6, 1}, {3, 4, 1}}) {
    SCOPED_TRACE("stave " + std::to_string(stave) + ", bit " + std::to_string(bit) + " stuck at " +
                 std::to_string(stuck));
    const int mask = 1 << bit;
    expect_named(judge(with_fault(stream, {[=](const Hit& h) {
                   if (h.stave != stave || h.chip != 4) return h;
                   return Hit{h.stave, h.chip, h.row, stuck ? h.column | mask : h.column & ~mask};
                 }, {}})),
                 {stave}, {4}, 5);
  }
  // Low bits move the hits by 1 to 4 columns, within the matching radius:
  // the stave's residuals widen, and so do those of the staves whose tracks
  // it helps make, which are not blamed.
  for (const auto& [stave, bit] : std::vector<std::pair<int, int>>{{1, 0}, {2, 2}}) {
    SCOPED_TRACE("stave " + std::to_string(stave) + ", bit " + std::to_string(bit) + " stuck at 0");
    const int mask = 1 << bit;
    expect_named(judge(with_fault(stream, {[=](const Hit& h) {
                   return h.stave == stave && h.chip == 4 ? Hit{h.stave, h.chip, h.row, h.column & ~mask} : h;
                 }, {}})),
                 {stave}, {}, 5);
  }
  // The beam is centred on the chip, so that the mirrored spot lies where
  // the true one did.
  expect_named(judge(with_fault(stream, {[](const Hit& h) {
                 return h.stave == 1 && h.chip == 4 ? Hit{1, 4, h.row, 1023 - h.column} : h;
               }, {}})),
               {1}, {4}, 5);
}

// A stave one event late in a sparse beam, where the stave correlations
// hold no peak at any lag: the tracks of the other three staves match the
// stave's clusters of the next event.
TEST_F(TrackFaults, AStaveOneEventLateInASparseBeamIsNamed) {
  for (const auto& [particles, stave] : std::vector<std::pair<std::string, int>>{{"0.3", 1}, {"1", 3}}) {
    SCOPED_TRACE(particles + " particles per event, stave " + std::to_string(stave));
    const std::string text = text_of(simulate({"--seed", "561", "--particles", particles, "--divergence", "1"}));
    kivo::test::pack(kivo::test::one_event_late(text, stave, onset), path("late.kevt"));
    const std::vector<Change> changes = judge(path("late.kevt"));
    expect_found(changes, "track_synchronisation", stave, -1, 5, "one event late");
  }
}

}  // namespace
