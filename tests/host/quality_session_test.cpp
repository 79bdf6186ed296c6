// The data-quality checks through the real kivo on simulated runs: a normal
// run is Good, each simulated fault turns exactly its check Bad, and the
// verdicts reach the table, the log, the alarm command and save().
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kivo_process.h"

namespace {

using kivo::test::Finished;
using kivo::test::run_program;

// One row of the quality() table.
struct Row {
  std::string check, stave, chip, verdict, reason;
};

std::vector<Row> table_rows(const std::string& err) {
  std::vector<Row> rows;
  const std::regex row(R"(^(\w+) +(-|\d) +(-|\d) +(Null|Good|Medium|Bad) +run \d+, event \d+, [0-9:]+ +(.*)$)");
  std::istringstream lines(err);
  std::string line;
  std::smatch match;
  while (std::getline(lines, line))
    if (std::regex_match(line, match, row)) rows.push_back({match[1], match[2], match[3], match[4], match[5]});
  return rows;
}

// "check stave chip" of every row with `verdict`.
std::set<std::string> rows_judged(const std::vector<Row>& rows, const std::string& verdict) {
  std::set<std::string> found;
  for (const Row& row : rows)
    if (row.verdict == verdict) found.insert(row.check + " " + row.stave + " " + row.chip);
  return found;
}

std::string overall(const std::string& err) {
  std::smatch match;
  std::regex_search(err, match, std::regex(R"(data quality at run \d+, event \d+, [-0-9 :]+: (\w+))"));
  return match.size() > 1 ? match[1].str() : "";
}

const Row* row_of(const std::vector<Row>& rows, const std::string& check, const std::string& stave) {
  for (const Row& row : rows)
    if (row.check == check && row.stave == stave) return &row;
  return nullptr;
}

class QualitySessionTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string path(const std::string& name) const { return directory + "/" + name; }

  // A realistic test-beam run: a beam on chip 4 of every stave, little noise,
  // a few hot pixels firing in 5% of the events, 1% of packets missing.
  std::string simulate(const std::string& name, std::vector<std::string> extra = {}, int events = 8000) {
    std::vector<std::string> argv = {KIVO_SIM, "--events", std::to_string(events), "--seed", "7",
                                     "--beam-sigma-row", "80", "--particles", "2", "--noise", "0.1",
                                     "--hot-pixels", "3", "--hot-probability", "0.05",
                                     "--missing-packet", "0.01", "-o", path(name)};
    argv.insert(argv.end() - 2, extra.begin(), extra.end());
    const Finished sim = run_program(argv);
    EXPECT_EQ(sim.status, 0) << sim.err;
    return path(name);
  }
  Finished kivo(std::vector<std::string> options, const std::string& stream,
                std::vector<std::string> commands = {"quality()"}) {
    std::vector<std::string> argv = {KIVO_BIN, "-b", "-q"};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& command : std::vector<std::string>{"set_refresh(1000)", "run()"})
      argv.insert(argv.end(), {"-e", command});
    for (const std::string& command : commands) argv.insert(argv.end(), {"-e", command});
    argv.push_back(stream);
    return run_program(argv);
  }

  std::string directory;
};

TEST_F(QualitySessionTest, ANormalRunIsGoodEverywhere) {
  const Finished run = kivo({}, simulate("normal.kevt"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(overall(run.err), "Good") << run.err;
  const std::vector<Row> rows = table_rows(run.err);
  ASSERT_EQ(rows.size(), 4u + 4 + 4 + 4 + 4 + 3 + 4 + 1 + 4 + 4 + 4 + 4) << run.err;
  // Columns line up whatever their widths ("event 0" and "event 8001" alike).
  const std::size_t header = run.err.find("check ");
  ASSERT_NE(header, std::string::npos);
  const std::size_t line_start = run.err.rfind('\n', header) + 1;
  const std::size_t reason_at = run.err.find("reason", header) - line_start;
  std::istringstream lines(run.err.substr(line_start));
  std::string line;
  while (std::getline(lines, line) && line.size() > reason_at) {
    EXPECT_EQ(line[reason_at - 1], ' ') << line;
    EXPECT_NE(line[reason_at], ' ') << line;
  }
  for (const Row& row : rows) {
    if (row.check == "reference") {
      EXPECT_EQ(row.verdict, "Null") << "no reference run loaded";
      continue;
    }
    EXPECT_EQ(row.verdict, "Good") << row.check << " " << row.stave << ": " << row.reason;
  }
}

// A simulated fault, the rows it must turn Bad ("check stave chip") and part
// of the reason of each.
struct Fault {
  std::vector<std::string> options;
  std::set<std::string> bad;
  std::string reason;
};

class FaultTest : public QualitySessionTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, TurnsExactlyItsCheckBad) {
  const Fault& fault = GetParam();
  const Finished run = kivo({}, simulate("fault.kevt", fault.options));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Row> rows = table_rows(run.err);
  EXPECT_EQ(rows_judged(rows, "Bad"), fault.bad) << run.err;
  EXPECT_EQ(rows_judged(rows, "Medium"), std::set<std::string>{}) << run.err;
  for (const Row& row : rows) {
    if (row.verdict != "Bad") continue;
    EXPECT_NE(row.reason.find(fault.reason), std::string::npos) << row.reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, FaultTest,
    ::testing::Values(
        Fault{{"--dead-chip", "2:5"}, {"occupancy 2 5", "efficiency 2 5"}, "stave 2, chip 5: "},
        Fault{{"--noisy-chip", "1:7"}, {"hot_pixels 1 -"}, "stave 1: 35 hot pixels"},
        Fault{{"--desync-stave", "1"}, {"synchronisation 1 -", "track_synchronisation 1 -"},
              "stave 1 is one event late: "},
        Fault{{"--beam-drift-col", "3000"},
              {"beam_position 0 -", "beam_position 1 -", "beam_position 2 -", "beam_position 3 -"},
              "earlier in the run at column"},
        Fault{{"--missing-packet", "0.3"}, {"missing_packet - -"},
              "data events (30.3%) came without the detector packet"}),
    [](const ::testing::TestParamInfo<Fault>& info) {
      std::string name;
      for (char c : info.param.options[0].substr(2))
        if (c != '-') name += c;
      return name;
    });

TEST_F(QualitySessionTest, TooFewEventsGiveNull) {
  const Finished run = kivo({}, simulate("short.kevt", {}, 600));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(overall(run.err), "Null") << run.err;
  const std::vector<Row> rows = table_rows(run.err);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows_judged(rows, "Null").size(), rows.size()) << run.err;
  const Row* occupancy = row_of(rows, "occupancy", "0");
  ASSERT_TRUE(occupancy);
  EXPECT_NE(occupancy->reason.find("building the baseline from earlier in the run: 0 of 2000 events"),
            std::string::npos)
      << occupancy->reason;
  EXPECT_NE(run.err.find(": Null: not judged (600 data events, the checks need 1000)\n"), std::string::npos)
      << "never Good: " << run.err;
}

TEST_F(QualitySessionTest, AChangeToBadRunsTheAlarmOnceAndIsLogged) {
  const std::string alarms = path("alarms.txt"), log = path("quality.log");
  const std::string command = "printf '%s|%s|%s|%s|%s|%s\\n' \"$KIVO_CHECK\" \"$KIVO_STAVE\" \"$KIVO_CHIP\" "
                              "\"$KIVO_VERDICT\" \"$KIVO_RUN\" \"$KIVO_REASON\" >> " + alarms;
  const Finished run = kivo({"--on-bad", command, "--quality-log", log}, simulate("dead.kevt", {"--dead-chip", "2:5"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string fired = kivo::test::read_file(alarms);
  // The hit counts and the tracks of the other staves each find the chip
  // dead: one alarm for the stave tells both.
  EXPECT_EQ(fired.rfind("occupancy,efficiency|2||Bad|1|occupancy: stave 2, chip 5: no hit in the ", 0), 0u) << fired;
  EXPECT_NE(fired.find(" | efficiency: stave 2, chip 5: efficiency 0.0% "), std::string::npos) << fired;
  EXPECT_EQ(std::count(fired.begin(), fired.end(), '\n'), 1) << fired;

  // One line per change: each changes the verdict its key held before.
  std::istringstream lines(kivo::test::read_file(log));
  std::string line;
  std::map<std::string, std::string> verdicts;
  int to_bad = 0;
  const std::regex fields(R"re(^\{"time":"[-0-9T:.]+Z","run":1,"event":\d+,"check":"(\w+)","stave":(\w+),)re"
                          R"re("chip":(\w+),"old":"(\w+)","new":"(\w+)","reason":".+"\}$)re");
  std::smatch match;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(std::regex_match(line, match, fields)) << line;
    const std::string key = match[1].str() + " " + match[2].str() + " " + match[3].str();
    const std::string before = verdicts.count(key) ? verdicts[key] : "Null";
    EXPECT_EQ(match[4].str(), before) << line;
    EXPECT_NE(match[4].str(), match[5].str()) << line;
    verdicts[key] = match[5];
    to_bad += match[5] == "Bad";
  }
  EXPECT_EQ(to_bad, 2);
  EXPECT_EQ(verdicts["occupancy 2 5"], "Bad");
  EXPECT_EQ(verdicts["efficiency 2 5"], "Bad");
  EXPECT_EQ(verdicts["occupancy 1 5"], "Good");
}

TEST_F(QualitySessionTest, ASlowAlarmDoesNotHoldUpTheEvents) {
  const std::string started = path("started"), release = path("release"), finished = path("finished");
  const std::string stream = simulate("dead.kevt", {"--dead-chip", "2:5"});
  kivo::test::LiveProcess kivo({KIVO_BIN, "-b", "-e", "set_refresh(1000)", "--on-bad",
                                "touch " + started + "; while [ ! -e " + release + " ]; do sleep 0.02; done; touch " +
                                    finished,
                                stream});
  // Every event is processed while the alarm command still waits.
  ASSERT_TRUE(kivo.wait_for_err("all sources read (8001 events)")) << kivo.err();
  EXPECT_TRUE(std::filesystem::exists(started));
  EXPECT_FALSE(std::filesystem::exists(finished));
  std::ofstream(release).close();
  kivo.write(".q\n");
  EXPECT_EQ(kivo.wait(), 0);
  EXPECT_TRUE(std::filesystem::exists(finished)) << "kivo waits for a running alarm before it ends";
}

TEST_F(QualitySessionTest, AConfigurationErrorNamesFileLineAndKeyBeforeAnyEvent) {
  const std::string checks = path("checks.toml");
  std::ofstream(checks) << "# mine\n[occupancy]\nwindow_event = 3000\n";
  const Finished run = kivo({"--checks", checks}, simulate("normal.kevt", {}, 100));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kivo: --checks: " + checks + ":3: occupancy.window_event: unknown key (known: enabled, "
                     "window_events, min_events, baseline_events, min_expected_hits, medium_low, bad_low, "
                     "medium_high, bad_high, medium_p, bad_p) (see kivo --help)\n");
  EXPECT_EQ(run.out, "") << "no event was read";
}

TEST_F(QualitySessionTest, TheConfigurationInForceIsPrinted) {
  const std::string checks = path("checks.toml");
  std::ofstream(checks) << "[hot_pixels]\nbad_count = 40\n";
  const Finished run = kivo({"--checks", checks}, simulate("normal.kevt", {}, 100), {"checks()"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("# data-quality checks in force, from " + checks + "\n[verdicts]\nconfirm_judgements = 2\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nbad_count = 40\n"), std::string::npos);
}

TEST_F(QualitySessionTest, AReferenceOfTheSameRunIsGoodOneWithTheBeamElsewhereBad) {
  const std::string normal = simulate("normal.kevt"), reference = path("reference.json");
  ASSERT_EQ(kivo({}, normal, {"OM()", "save(\"" + reference + "\")"}).status, 0);

  const Finished same = kivo({"--reference", reference}, normal);
  ASSERT_EQ(same.status, 0) << same.err;
  std::vector<Row> rows = table_rows(same.err);
  for (const Row& row : rows) EXPECT_EQ(row.verdict, "Good") << row.check << " " << row.stave << ": " << row.reason;
  ASSERT_TRUE(row_of(rows, "reference", "1"));
  EXPECT_EQ(row_of(rows, "reference", "1")->reason,
            "stave 1: pixels per event differ by 0.0% (p = 1), hits per column differ by 0.0% (p = 1), hits per row "
            "differ by 0.0% (p = 1) against " + reference);

  const Finished moved = kivo({"--reference", reference}, simulate("moved.kevt", {"--beam-col", "5400"}));
  ASSERT_EQ(moved.status, 0) << moved.err;
  rows = table_rows(moved.err);
  for (const std::string stave : {"0", "1", "2", "3"}) {
    ASSERT_TRUE(row_of(rows, "beam_position", stave));
    EXPECT_EQ(row_of(rows, "beam_position", stave)->verdict, "Bad");
    EXPECT_NE(row_of(rows, "beam_position", stave)->reason.find("the reference run's at column 4"), std::string::npos);
  }
}

TEST_F(QualitySessionTest, AnUnusableReferenceIsRefusedAndTheCurrentOneStays) {
  const std::string normal = simulate("normal.kevt", {}, 100);
  const Finished start = kivo({"--reference", path("none.json")}, normal);
  EXPECT_EQ(start.status, 2);
  EXPECT_EQ(start.err, "kivo: --reference: " + path("none.json") +
                           ": cannot be read: No such file or directory (see kivo --help)\n");
  const Finished prompt = kivo({}, normal, {"reference(\"" + normal + "\")"});
  EXPECT_EQ(prompt.status, 1);
  EXPECT_NE(prompt.err.find(normal + ": not a ROOT or JSON save"), std::string::npos) << prompt.err;
  EXPECT_NE(prompt.err.find("; the reference stays none"), std::string::npos) << prompt.err;
}

TEST_F(QualitySessionTest, SaveWritesTheVerdictsAndTheTrends) {
  const std::string saved = path("saved.json"), file = path("saved.root");
  const Finished run = kivo({}, simulate("dead.kevt", {"--dead-chip", "2:5"}),
                            {"save(\"" + saved + "\")", "save(\"" + file + "\")"});
  ASSERT_EQ(run.status, 0) << run.err;
  // A ROOT file names its keys uncompressed, with their class.
  const std::string root = kivo::test::read_file(file);
  for (const char* key : {"TNamed", "quality_overall", "quality_occupancy_2_5", "trend_hits_per_event_0",
                          "quality_double_column_hits_3"})
    EXPECT_NE(root.find(key), std::string::npos) << key;
  const std::string json = kivo::test::read_file(saved);
  for (const char* text : {"\"fName\":\"quality_overall\",\"fTitle\":\"Bad\"",
                           "\"fName\":\"quality_occupancy_2_5\",\"fTitle\":\"Bad: stave 2, chip 5: no hit",
                           "\"fName\":\"quality_missing_packet\"", "\"fName\":\"trend_hits_per_event_0\"",
                           "\"fName\":\"trend_event_rate\"", "\"fName\":\"trend_verdict_2\""})
    EXPECT_NE(json.find(text), std::string::npos) << text;
}

// Synchronisation faults made by editing the text form, as they come from a
// detector: the stave's hits recorded one event late.

// `text` (kivo-dump's form) with the hit lines of readout unit `unit` of each
// data event with the packet moved to the next such event from the
// `from`th on.
std::string one_event_late(const std::string& text, int unit, int from) {
  std::istringstream lines(text);
  const std::string moved = "hit " + std::to_string(unit) + " ";
  std::string edited, line;
  std::vector<std::string> carried, mine;
  int event = -1;
  bool in_event = false;  // the lines read belong to a data event with the packet
  const auto close_event = [&] {
    if (!in_event) return;
    for (const std::string& hit : event >= from ? carried : mine) edited += hit + "\n";
    if (event >= from) carried = mine;
    mine.clear();
  };
  while (std::getline(lines, line)) {
    if (line.rfind("event", 0) == 0 || line.rfind("run", 0) == 0 || line.rfind("end", 0) == 0 ||
        line.rfind("type", 0) == 0) {
      close_event();
      in_event = line == "event";
      event += in_event;
    }
    if (in_event && line.rfind(moved, 0) == 0)
      mine.push_back(line);
    else
      edited += line + "\n";
  }
  close_event();
  return edited;
}

// One verdict change of the quality log.
struct Change {
  long event;
  std::string check, stave, verdict, reason;
};

// The changes of `check` in `log`, of every check when `check` is empty.
std::vector<Change> changes_of(const std::string& check, const std::string& log) {
  std::vector<Change> changes;
  const std::regex fields(
      R"re("event":(\d+),"check":"(\w+)","stave":(\w+),"chip":\w+,"old":"\w+","new":"(\w+)","reason":"(.*)"\}$)re");
  std::istringstream lines(log);
  std::string line;
  std::smatch match;
  while (std::getline(lines, line))
    if (std::regex_search(line, match, fields) && (check.empty() || match[2] == check))
      changes.push_back({std::stol(match[1]), match[2], match[3], match[4], match[5]});
  return changes;
}

class SynchronisationSessionTest : public QualitySessionTest {
 protected:
  // kivo-sim's defaults (three hot pixels per stave firing in 90% of the
  // events) with `options`.
  std::string simulate_defaults(const std::string& name, int events, std::vector<std::string> options) {
    std::vector<std::string> argv = {KIVO_SIM, "--events", std::to_string(events)};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-o", path(name)});
    const Finished sim = run_program(argv);
    EXPECT_EQ(sim.status, 0) << sim.err;
    return path(name);
  }

  // The changes of `check` over a run refreshed every 1000 events.
  std::vector<Change> judged(const std::string& stream, const std::string& check) {
    const Finished run = kivo({"--quality-log", path("quality.log")}, stream);
    EXPECT_EQ(run.status, 0) << run.err;
    return changes_of(check, kivo::test::read_file(path("quality.log")));
  }
};

TEST_F(SynchronisationSessionTest, AStaveOneEventLateIsNamedWithinFiveRefreshes) {
  constexpr int kFrom = 6000;
  const std::string stream = simulate_defaults("run.kevt", 12000, {"--seed", "21"});
  ASSERT_EQ(run_program({KIVO_DUMP, stream, path("run.txt")}).status, 0);
  // Stave 1 is readout unit 2.
  kivo::test::pack(one_event_late(kivo::test::read_file(path("run.txt")), 2, kFrom), path("late.kevt"));

  const std::vector<Change> changes = judged(path("late.kevt"), "");
  bool good_before = false;
  const Change* caught = nullptr;
  for (const Change& change : changes) {
    const bool alarming = change.verdict == "Medium" || change.verdict == "Bad";
    // The tracks of the other staves find stave 1's clusters in the event after.
    const bool by_tracks = change.check == "efficiency" || change.check == "track_synchronisation";
    if (change.stave == "1" && by_tracks && change.event >= kFrom) continue;
    if (change.stave != "1" || change.check != "synchronisation") {
      EXPECT_FALSE(alarming) << change.check << " " << change.stave << " at " << change.event << ": " << change.reason;
      continue;
    }
    good_before |= change.verdict == "Good" && change.event < kFrom;
    if (alarming && !caught) caught = &change;
  }
  EXPECT_TRUE(good_before) << "stave 1 was judged in step before";
  ASSERT_TRUE(caught) << "never caught";
  EXPECT_EQ(caught->verdict, "Bad");
  EXPECT_GE(caught->event, kFrom);
  EXPECT_LE(caught->event, kFrom + 5 * 1000 + 1);
  EXPECT_EQ(caught->reason.rfind("stave 1 is one event late: its hits match those of staves 2 and 3 of the event "
                                 "before (",
                                 0),
            0u)
      << caught->reason;
}

// A run that the synchronisation and alignment checks must leave Good or
// Null throughout, and whether all four staves are judged in step in it.
struct QuietRun {
  std::string name;
  std::vector<std::string> options;
  bool judged_in_step;
};

class QuietRunTest : public SynchronisationSessionTest, public ::testing::WithParamInterface<QuietRun> {};

TEST_P(QuietRunTest, RaisesNothing) {
  const std::string stream = simulate_defaults("quiet.kevt", 8000, GetParam().options);
  std::set<std::string> in_step;
  for (const std::string check : {"synchronisation", "alignment"})
    for (const Change& change : judged(stream, check)) {
      EXPECT_TRUE(change.verdict == "Good" || change.verdict == "Null")
          << check << " stave " << change.stave << " at event " << change.event << ": " << change.reason;
      if (check == std::string("synchronisation") && change.verdict == "Good") in_step.insert(change.stave);
    }
  if (GetParam().judged_in_step) {
    EXPECT_EQ(in_step, (std::set<std::string>{"0", "1", "2", "3"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Healthy, QuietRunTest,
    ::testing::Values(QuietRun{"defaults", {"--seed", "22"}, true},
                      QuietRun{"sparse", {"--seed", "23", "--particles", "1", "--cluster", "1"}, false},
                      QuietRun{"offset_staves", {"--seed", "24", "--stave-shift-col", "400"}, true},
                      QuietRun{"dead_chip_in_the_beam", {"--seed", "25", "--dead-chip", "1:4", "--faults-from", "4000"},
                               false}),
    [](const ::testing::TestParamInfo<QuietRun>& info) { return info.param.name; });

}  // namespace
