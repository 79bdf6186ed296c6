// The data-quality checks as an operator meets them: runs simulated with
// kivo-sim, faults made by hand by editing their text form (kivo-dump, edit,
// kivo-pack) from a data event in the middle of the run, and the real kivo
// judging them at set_refresh(1000). A healthy run of any beam raises no
// Medium or Bad verdict; each fault is found by its check, on its stave (and
// chip), within a few refreshes, with no other stave flagged and no more
// alarms than root causes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fault_runs.h"
#include "kivo_process.h"

namespace {

using namespace kivo::test;

// The text form split into what comes before the first data event and the
// data events, each with its lines.
struct Events {
  std::string head;
  std::vector<std::string> events;

  explicit Events(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("event", 0) == 0) events.emplace_back();
      (events.empty() ? head : events.back()) += line + "\n";
    }
  }
  std::string text() const {
    std::string all = head;
    for (const std::string& event : events) all += event;
    return all;
  }
};

// Spills: the events of `beam` where the beam is on (`on` events of every
// `on + off`), those of `noise` (the same run without particles) between.
std::string in_spills(const std::string& beam, const std::string& noise, int on, int off) {
  Events with(beam);
  const Events without(noise);
  for (std::size_t i = 0; i < with.events.size() && i < without.events.size(); ++i)
    if (static_cast<int>(i % static_cast<std::size_t>(on + off)) >= on) with.events[i] = without.events[i];
  return with.text();
}

// A data event without the detector packet (and its hits).
const char* const kWithoutPacket = "event nopacket\n";

// One row per check and stave of the quality() table: "check stave chip verdict reason".
std::vector<std::string> table_rows(const std::string& err) {
  std::vector<std::string> rows;
  const std::regex row(R"(^(\w+) +(-|\d) +(-|\d) +(Null|Good|Medium|Bad) +run \d+, event \d+, [0-9:]+ +(.*)$)");
  std::istringstream lines(err);
  std::string line;
  std::smatch match;
  while (std::getline(lines, line))
    if (std::regex_match(line, match, row))
      rows.push_back(match[1].str() + " " + match[2].str() + " " + match[3].str() + " " + match[4].str() + " " +
                     match[5].str());
  return rows;
}

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

// The beam as a test beam delivers it: in spills, with intensity changing
// in steps and slowly, with 5% of the packets missing. None is a fault.
TEST_F(FaultCatalogue, SpillsIntensityChangesAndMissingPacketsAreNoFault) {
  const auto run_of = [&](const std::string& particles, const std::string& name) {
    return text_of(simulate({"--seed", "131", "--particles", particles}, name));
  };
  const std::string beam = run_of("5", "beam.kevt"), none = run_of("0", "none.kevt");
  for (const auto& [on, off] : {std::pair(2000, 1000), std::pair(600, 1400), std::pair(4000, 4000)}) {
    SCOPED_TRACE(testing::Message() << "spills of " << on << " events, " << off << " without beam");
    kivo::test::pack(in_spills(beam, none, on, off), path("spills.kevt"));
    expect_quiet(judge(path("spills.kevt")));
  }
  // Three times the particles from the onset on, then a beam falling to a
  // third of them in steps.
  Events stepped(beam);
  const Events tripled(run_of("15", "tripled.kevt"));
  for (std::size_t i = onset; i < stepped.events.size(); ++i) stepped.events[i] = tripled.events[i];
  kivo::test::pack(stepped.text(), path("stepped.kevt"));
  expect_quiet(judge(path("stepped.kevt")));
  Events falling(beam);
  const std::vector<Events> lower = {Events(run_of("4", "p4.kevt")), Events(run_of("3", "p3.kevt")),
                                     Events(run_of("2.2", "p2.kevt")), Events(run_of("1.5", "p1.kevt"))};
  for (std::size_t i = 4000; i < falling.events.size(); ++i) falling.events[i] = lower[std::min<std::size_t>(3, (i - 4000) / 3000)].events[i];
  kivo::test::pack(falling.text(), path("falling.kevt"));
  expect_quiet(judge(path("falling.kevt")));
  Events missing(beam);
  for (std::size_t i = 0; i < missing.events.size(); i += 20) missing.events[i] = kWithoutPacket;
  kivo::test::pack(missing.text(), path("missing.kevt"));
  expect_quiet(judge(path("missing.kevt")));
}

// Noise bursts on one stave, of two shapes: named by the busy-event check on
// their stave, and no other check nor stave flagged for them.
TEST_F(FaultCatalogue, NoiseBurstsAreNamedOnTheirStaveAndLeftOutOfTheOthers) {
  const std::string stream = simulate({"--seed", "132"});
  struct Bursts {
    int stave, every, least, most, chip;  // chip -1: any
  };
  for (const Bursts& bursts : {Bursts{3, 300, 5000, 20000, -1}, Bursts{1, 60, 400, 1500, 6}}) {
    SCOPED_TRACE(testing::Message() << "bursts on stave " << bursts.stave << " every " << bursts.every);
    int event = 0;
    const std::vector<Change> changes = judge(with_fault(stream, {{}, [&](std::mt19937& rng) {
      std::vector<Hit> hits;
      // Bursts of one or two events in a row.
      if (event++ % bursts.every < (bursts.every > 100 ? 1 : 2)) {
        const int n = bursts.least + static_cast<int>(rng() % static_cast<unsigned>(bursts.most - bursts.least));
        for (int i = 0; i < n; ++i)
          hits.push_back({bursts.stave, bursts.chip >= 0 ? bursts.chip : static_cast<int>(rng() % 9),
                          static_cast<int>(rng() % 512), static_cast<int>(rng() % 1024)});
      }
      return hits;
    }}));
    expect_found(changes, "busy_events", bursts.stave, -1, 3, "noise bursts: ");
    for (const Change& change : changes)
      EXPECT_FALSE(alarming(change.to) && change.check != "busy_events")
          << change.check << " stave " << change.stave << ": " << change.reason;
  }
}

// A chip dead in 1500 of every 3000 events reaches Bad, and is still Bad,
// named with the windows it was dead in, while it is alive.
TEST_F(FaultCatalogue, AChipFailingNowAndThenReachesBad) {
  int event = onset;
  int last = -1;
  const std::vector<Change> changes = judge_with(with_fault(simulate({"--seed", "133"}), {[&](const Hit& h) {
    return h.stave == 2 && h.chip == 4 && (event / 1500) % 2 == 1 ? std::nullopt : std::optional<Hit>(h);
  }, [&](std::mt19937&) {
    event += last >= 0;
    last = event;
    return std::vector<Hit>{};
  }}), {"-e", "run()", "-e", "quality()"});
  const auto bad = std::find_if(changes.begin(), changes.end(), [](const Change& c) {
    return c.check == "occupancy" && c.stave == 2 && c.chip == 4 && c.to == "Bad";
  });
  ASSERT_NE(bad, changes.end());
  EXPECT_LE(bad->event, onset + 6 * refresh + 1) << bad->reason;
  for (const Change& change : changes)
    EXPECT_FALSE(alarming(change.to) && change.stave != 2) << change.check << ": " << change.reason;
  // Dead from the onset (data event 8000) to 8999, 10500 to 11999 and 13500
  // to 14999: the run ends with a thousand events where the chip is alive.
  const std::vector<std::string> rows = table_rows(messages);
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& row) {
    return row.rfind("occupancy 2 4 Bad stave 2, chip 4: the whole chip (dead in ", 0) == 0;
  })) << testing::PrintToString(rows);
}

// Readout unit 1 (staves 0, 2 and 3) loses every hit: one alarm, naming
// the unit; stave 1, on unit 2, is blamed for nothing.
TEST_F(FaultCatalogue, ALostReadoutUnitRaisesOneAlarmNamingIt) {
  const std::vector<Change> changes = judge(with_fault(simulate({"--seed", "134"}), {[](const Hit& h) {
    return h.stave == 1 ? std::optional<Hit>(h) : std::nullopt;
  }, {}}));
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_EQ(alarms[0].rfind("occupancy,hit_rate|0,2,3|", 0), 0u) << alarms[0];
  EXPECT_NE(alarms[0].find("readout unit 1 lost: staves 0, 2 and 3 without hits"), std::string::npos) << alarms[0];
  for (const Change& change : changes)
    EXPECT_FALSE(alarming(change.to) && change.stave == 1) << change.check << ": " << change.reason;
}

// A whole file judged once at its end, without a refresh interval, confirms
// what it holds: each fault from the middle of a run of 20000 events is Bad.
TEST_F(FaultCatalogue, AWholeFileJudgedOnceConfirmsItsFaults) {
  const std::string stream = simulate({"--seed", "135"}, "run.kevt", 20000);
  const auto judged_once = [&](const std::string& faulty) {
    const Finished run = run_program({KIVO_BIN, "-b", "-q", "-e", "run()", "-e", "OM()", "-e", "quality()", faulty});
    EXPECT_EQ(run.status, 0) << run.err;
    return table_rows(run.err);
  };
  const auto has_row = [](const std::vector<std::string>& rows, const std::string& start, const std::string& part) {
    return std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
      return row.rfind(start, 0) == 0 && row.find(part) != std::string::npos;
    });
  };
  std::vector<std::string> rows = judged_once(with_fault(stream, {[](const Hit& h) {
    return h.stave == 2 && h.chip == 4 ? std::nullopt : std::optional<Hit>(h);
  }, {}}));
  EXPECT_TRUE(has_row(rows, "occupancy 2 4 Bad ", "stave 2, chip 4: ")) << testing::PrintToString(rows);
  // 200 pixels of each stave firing in 5% of the events.
  rows = judged_once(with_fault(stream, {{}, [](std::mt19937& rng) {
    std::vector<Hit> hits;
    for (int stave = 0; stave < 4; ++stave)
      for (int p = 0; p < 200; ++p)
        if (rng() % 100 < 5) hits.push_back({stave, p % 9, 10 + 2 * (p / 9), 50 + 40 * (p % 20)});
    return hits;
  }}));
  for (const std::string stave : {"0", "1", "2", "3"})
    EXPECT_TRUE(has_row(rows, "hot_pixels " + stave + " - Bad ", "hot pixels")) << testing::PrintToString(rows);
  Events missing(text_of(stream));
  std::mt19937 rng(9);
  for (std::size_t i = 10000; i < missing.events.size(); ++i)
    if (rng() % 100 < 30) missing.events[i] = kWithoutPacket;
  kivo::test::pack(missing.text(), path("missing.kevt"));
  rows = judged_once(path("missing.kevt"));
  EXPECT_TRUE(has_row(rows, "missing_packet - - Bad ", "came without the detector packet")) << testing::PrintToString(rows);
}

// Three runs in one file archived without a refresh interval: each is judged
// at its end; the middle one's dead chip is Bad and named in its file and
// the listing, the last, too short to judge, is Null and not Good.
TEST_F(FaultCatalogue, EachArchivedRunIsJudgedAtItsEnd) {
  const auto run_text = [&](int run, int events, int seed) {
    return text_of(simulate({"--seed", std::to_string(seed), "--run", std::to_string(run), "--end-run"},
                            "run" + std::to_string(run) + ".kevt", events));
  };
  Events second(run_text(2, 7000, 137));
  for (std::size_t i = 3000; i < second.events.size(); ++i) {
    std::istringstream lines(second.events[i]);
    std::string line, kept;
    while (std::getline(lines, line)) {
      const std::optional<Hit> hit = parse_hit(line);
      if (!hit || hit->stave != 1 || hit->chip != 4) kept += line + "\n";
    }
    second.events[i] = kept;
  }
  kivo::test::pack(run_text(1, 7000, 136) + second.text() + run_text(3, 400, 138), path("three.kevt"));
  const std::string archive = path("archive");
  std::filesystem::create_directory(archive);
  ASSERT_EQ(run_program({KIVO_BIN, "-b", "-q", "--archive", archive, path("three.kevt")}).status, 0);
  const Finished listed = run_program({KIVO_BIN, "--list-archive", archive});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n +1  run1\\.root  [^\n]* 7000  Good "))) << listed.out;
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n +2  run2\\.root  [^\n]* 7000  Bad "))) << listed.out;
  EXPECT_NE(listed.out.find("        quality_occupancy_1_4: Bad: stave 1, chip 4: "), std::string::npos) << listed.out;
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n +3  run3\\.root  [^\n]* 400  Null "))) << listed.out;
  EXPECT_NE(listed.out.find("quality_overall: Null: not judged (400 data events, the checks need 1000)"),
            std::string::npos)
      << listed.out;
  const std::string file = kivo::test::read_file(archive + "/run3.root");
  EXPECT_NE(file.find("Null: not judged (400 data events"), std::string::npos) << "the run file's quality_overall";
}

}  // namespace
