// The checks on constructed readings: what each judges Bad, Medium, Good or
// Null, and the numbers its reason names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

#include "Checks.h"
#include "Quality.h"

namespace kivo::quality {
namespace {

constexpr std::size_t kDifferenceCells = 1025;

Reading empty_reading(double events) {
  Reading reading;
  reading.run = 1;
  reading.events = events;
  reading.data_events = events;
  for (StaveReading& stave : reading.staves) stave.hits_per_event.assign(203, 0.0);
  for (std::size_t s = 0; s < kDifferenceStaves; ++s) {
    reading.column_differences[s].assign(kDifferenceCells, 0.0);
    reading.row_differences[s].assign(kDifferenceCells, 0.0);
  }
  return reading;
}

// Bin of a difference distribution centred on `offset`.
std::size_t difference_bin(int offset) { return static_cast<std::size_t>(offset + 512); }

// `entries` spread as a Gaussian of width `sigma` around `offset`.
void add_peak(Bins& bins, int offset, double sigma, double entries) {
  for (int d = -511; d <= 511; ++d)
    bins[difference_bin(d)] += entries * std::exp(-0.5 * (d - offset) * (d - offset) / (sigma * sigma)) /
                               (sigma * std::sqrt(2 * M_PI));
}

// A reading whose counters and distributions are those of a healthy run of
// `events` events: the same hits on every stave, sharp difference peaks.
Reading healthy_reading(double events) {
  Reading reading = empty_reading(events);
  for (StaveReading& stave : reading.staves) {
    stave.hits = 5 * events;
    for (std::size_t c = 0; c < kChips; ++c) stave.chip_hits[c] = (c == 4 ? 0.4 : 0.05) * events;
    stave.beam = BeamFit{4608, 256, 300, 60};
    stave.hits_per_event[6] = events;
  }
  for (int s = 0; s < kDifferenceStaves; ++s) {
    add_peak(reading.column_differences[static_cast<std::size_t>(s)], -40 * (3 - s), 3, events);
    add_peak(reading.row_differences[static_cast<std::size_t>(s)], -8 * (3 - s), 2, events);
  }
  return reading;
}

struct Judge {
  Config config = default_config();
  History history{quality::longest_window(config)};
  RunMemory memory;
  std::optional<ReferenceRun> reference;

  std::vector<Result> operator()(std::vector<Result> (*check)(const Context&), const Reading& reading) {
    history.add(reading);
    const Context context{config, reading, history, reference ? &*reference : nullptr, memory};
    return check(context);
  }
};

const Result& find(const std::vector<Result>& results, int stave, int chip = kNone) {
  for (const Result& result : results)
    if (result.stave == stave && result.chip == chip) return result;
  throw std::logic_error("no such result");
}

std::vector<Verdict> verdicts(const std::vector<Result>& results) {
  std::vector<Verdict> all;
  for (const Result& result : results) all.push_back(result.verdict);
  return all;
}

bool all_are(const std::vector<Result>& results, Verdict verdict) {
  for (const Result& result : results)
    if (result.verdict != verdict) return false;
  return true;
}

TEST(Verdicts, NullRanksBelowGoodUnlessEverythingIsNull) {
  EXPECT_EQ(worst(Verdict::Null, Verdict::Good), Verdict::Good);
  EXPECT_EQ(worst(Verdict::Medium, Verdict::Good), Verdict::Medium);
  EXPECT_EQ(worst(Verdict::Bad, Verdict::Medium), Verdict::Bad);
  std::vector<TrackedResult> results = {{{"a", 0, kNone, Verdict::Null, "", 0}, {}},
                                        {{"b", 0, kNone, Verdict::Null, "", 0}, {}}};
  EXPECT_EQ(combined(results), Verdict::Null);
  results.push_back({{"c", 1, kNone, Verdict::Good, "", 0}, {}});
  EXPECT_EQ(combined(results), Verdict::Good);
  EXPECT_EQ(combined(results, 0), Verdict::Null);
  EXPECT_EQ(combined(results, 1), Verdict::Good);
}

TEST(Verdicts, ARowShowsTheMostSevereChipAndCountsTheOthers) {
  const std::vector<TrackedResult> results = {
      {{"dead_chip", 2, 0, Verdict::Good, "chip 0", 0.1}, {}}, {{"dead_chip", 2, 1, Verdict::Bad, "chip 1", 1}, {}},
      {{"dead_chip", 2, 2, Verdict::Good, "chip 2", 0.3}, {}}, {{"dead_chip", 2, 3, Verdict::Bad, "chip 3", 0.99}, {}},
      {{"dead_chip", 3, 0, Verdict::Good, "chip 0", 0.2}, {}}, {{"dead_chip", 3, 1, Verdict::Good, "chip 1", 0.4}, {}},
  };
  const std::vector<Row> rows = rows_of(results);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].shown.result.reason, "chip 1");
  EXPECT_EQ(rows[0].more, 1);
  EXPECT_EQ(rows[1].shown.result.reason, "chip 1") << "the most suspect of the good ones";
  EXPECT_EQ(rows[1].more, 0);
}

TEST(DeadChip, AChipWithoutHitsIsBadAgainstTheSameChipElsewhere) {
  Judge judge;
  Reading reading = healthy_reading(5000);
  reading.staves[2].chip_hits[5] = 0;
  reading.staves[1].chip_hits[5] = 240;
  const std::vector<Result> results = judge(judge_dead_chips, reading);
  ASSERT_EQ(results.size(), 36u);
  const Result& dead = find(results, 2, 5);
  EXPECT_EQ(dead.verdict, Verdict::Bad);
  EXPECT_EQ(dead.reason, "stave 2, chip 5: 0 hits in the last 5000 events (hot pixels left out); the same chip of "
                         "the other staves had 240 to 250 (0% of their median)");
  for (const Result& result : results) {
    if (result.stave == 2 && result.chip == 5) continue;
    EXPECT_EQ(result.verdict, Verdict::Good) << result.reason;
  }
}

TEST(DeadChip, FarFewerHitsIsMediumThenBad) {
  Judge judge;
  Reading reading = healthy_reading(5000);
  reading.staves[0].chip_hits[4] = 0.2 * 2000;  // 20% of the others' 2000
  reading.staves[1].chip_hits[4] = 0.04 * 2000;
  const std::vector<Result> results = judge(judge_dead_chips, reading);
  EXPECT_EQ(find(results, 0, 4).verdict, Verdict::Medium);
  EXPECT_EQ(find(results, 1, 4).verdict, Verdict::Bad);
  EXPECT_EQ(find(results, 2, 4).verdict, Verdict::Good);
}

TEST(DeadChip, TooFewEventsOrExpectedHitsGiveNull) {
  Judge judge;
  Reading reading = healthy_reading(999);
  reading.staves[2].chip_hits[5] = 0;
  std::vector<Result> results = judge(judge_dead_chips, reading);
  EXPECT_TRUE(all_are(results, Verdict::Null));
  EXPECT_EQ(find(results, 2, 5).reason, "stave 2, chip 5: 999 events so far, 1000 needed");
  Judge quiet;
  reading = healthy_reading(5000);
  for (StaveReading& stave : reading.staves) stave.chip_hits[8] = 30;
  reading.staves[1].chip_hits[8] = 0;
  results = quiet(judge_dead_chips, reading);
  EXPECT_EQ(find(results, 1, 8).verdict, Verdict::Null) << find(results, 1, 8).reason;
}

TEST(DeadChip, HotPixelsAreLeftOutOfTheComparison) {
  Judge judge;
  Reading start = healthy_reading(1000);
  Reading now = healthy_reading(7000);
  // Chip 7 sees 0.05 hits per event of noise; on staves 1 to 3 a hot pixel
  // adds 1500 hits in the window, half its share of the run. Stave 0 has
  // none and must not look dead. A hotter pixel of chip 8 comes first in
  // the list of the window's start.
  for (std::size_t s = 1; s < kStaves; ++s) {
    start.staves[s].hot.pixels = {{8 * 1024 + 5, 7, 5000}, {7 * 1024 + 10, 100, 2000}};
    now.staves[s].hot.pixels = {{8 * 1024 + 5, 7, 6000}, {7 * 1024 + 10, 100, 3500}};
    start.staves[s].chip_hits[7] += 2000;
    now.staves[s].chip_hits[7] += 3500;
  }
  judge(judge_dead_chips, start);
  const Result chip = find(judge(judge_dead_chips, now), 0, 7);
  EXPECT_EQ(chip.verdict, Verdict::Good) << chip.reason;
  EXPECT_NE(chip.reason.find("300 hits in the last 6000 events"), std::string::npos) << chip.reason;
}

TEST(DeadChip, TheWindowIsTheRecentEvents) {
  Judge judge;
  Reading early = healthy_reading(5000);
  judge(judge_dead_chips, early);
  Reading late = healthy_reading(11000);
  late.staves[3].chip_hits[4] = early.staves[3].chip_hits[4];  // no hit since event 5000
  const Result chip = find(judge(judge_dead_chips, late), 3, 4);
  EXPECT_EQ(chip.verdict, Verdict::Bad);
  EXPECT_NE(chip.reason.find("0 hits in the last 6000 events"), std::string::npos) << chip.reason;
}

TEST(DeadChip, AChipThatJustDiedIsFoundAtTheNextRefresh) {
  Judge judge;
  for (double events = 1000; events <= 8000; events += 1000) judge(judge_dead_chips, healthy_reading(events));
  Reading now = healthy_reading(9000);
  now.staves[1].chip_hits[4] = healthy_reading(8000).staves[1].chip_hits[4];
  const Result chip = find(judge(judge_dead_chips, now), 1, 4);
  EXPECT_EQ(chip.verdict, Verdict::Bad);
  EXPECT_NE(chip.reason.find("0 hits in the last 1000 events"), std::string::npos) << chip.reason;
}

TEST(HitRate, AStaveFarFromTheOthersIsBad) {
  Judge judge;
  Reading reading = healthy_reading(5000);
  reading.staves[1].hits = 5 * 5000 * 3.5;
  std::vector<Result> results = judge(judge_hit_rates, reading);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Good, Verdict::Bad, Verdict::Good, Verdict::Good}));
  EXPECT_EQ(find(results, 1).reason,
            "stave 1: 17.50 hits per event in the last 5000 events; the other staves 5.00 to 5.00 (3.50 times their "
            "median)");
  Judge again;
  reading = healthy_reading(5000);
  reading.staves[2].hits = 5 * 5000 / 1.7;
  results = again(judge_hit_rates, reading);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Good, Verdict::Good, Verdict::Medium, Verdict::Good}));
}

TEST(HitRate, AbsoluteLimitsHoldWhateverTheOthersDo) {
  Judge judge;
  Reading reading = healthy_reading(5000);
  for (StaveReading& stave : reading.staves) stave.hits = 0.01 * 5000;
  EXPECT_TRUE(all_are(judge(judge_hit_rates, reading), Verdict::Bad));
}

TEST(BeamPosition, TheFirstJudgedPositionIsTheReference) {
  Judge judge;
  EXPECT_TRUE(all_are(judge(judge_beam_positions, healthy_reading(1500)), Verdict::Null)) << "2000 events needed";
  EXPECT_TRUE(all_are(judge(judge_beam_positions, healthy_reading(2500)), Verdict::Good));
  Reading moved = healthy_reading(6000);
  moved.staves[0].beam = BeamFit{4608 + 350, 256, 300, 60};
  moved.staves[1].beam = BeamFit{4608, 256 + 30, 300, 60};
  moved.staves[2].beam = BeamFit{4608, 256, 300, 200};
  const std::vector<Result> results = judge(judge_beam_positions, moved);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Bad, Verdict::Medium, Verdict::Bad, Verdict::Good}));
  EXPECT_EQ(find(results, 0).reason,
            "stave 0: beam at column 4958, row 256 (widths 300 and 60); first judged in this run at column 4608, row "
            "256 (widths 300 and 60): moved 350 columns and 0 rows, widths changed up to 1.00 times");
}

TEST(BeamPosition, AReferenceRunReplacesTheFirstPosition) {
  Judge judge;
  judge.reference = ReferenceRun{};
  judge.reference->beam[2] = BeamFit{5608, 256, 300, 60};
  const std::vector<Result> results = judge(judge_beam_positions, healthy_reading(3000));
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Good, Verdict::Good, Verdict::Bad, Verdict::Good}));
  EXPECT_NE(find(results, 2).reason.find("the reference run's at column 5608"), std::string::npos);
}

TEST(Peaks, ASharpPeakIsPlacedPreciselyABroadOneLoosely) {
  Bins sharp(kDifferenceCells, 0.0), broad(kDifferenceCells, 0.0);
  add_peak(sharp, -80, 3, 5000);
  add_peak(broad, -80, 250, 5000);
  const std::optional<Peak> a = find_peak(sharp, 10), b = find_peak(broad, 10);
  ASSERT_TRUE(a && b);
  EXPECT_NEAR(a->position, -80, 0.5);
  EXPECT_LT(a->high - a->low, 1);
  EXPECT_GT(a->share, 0.99);
  EXPECT_GT(b->high - b->low, 100) << "a broad distribution places its peak loosely";
  EXPECT_LT(b->share, 0.05);
  EXPECT_FALSE(find_peak(Bins(kDifferenceCells, 0.0), 10));
}

// A peak by its definition: every window's sums added bin by bin in order.
Peak peak_by_definition(const Bins& bins, double near) {
  const int last = static_cast<int>(bins.size()) - 2, half = static_cast<int>(near);
  const double entries = std::accumulate(bins.begin(), bins.end(), 0.0), centre_of_first = -(last - 1) / 2.0 - 1;
  struct Window {
    double entries = 0, mean = 0, rms = 0;
  };
  const auto window = [&](int centre) {
    double sum = 0, sum_x = 0, sum_x2 = 0;
    for (int b = std::max(1, centre - half); b <= std::min(last, centre + half); ++b) {
      const double w = bins[static_cast<std::size_t>(b)], x = b + centre_of_first;
      sum += w, sum_x += w * x, sum_x2 += w * x * x;
    }
    if (sum <= 0) return Window{};
    const double mean = sum_x / sum;
    return Window{sum, mean, std::sqrt(std::max(sum_x2 / sum - mean * mean, 0.0))};
  };
  int best = 1;
  for (int b = 2; b <= last; ++b)
    if (window(b).entries > window(best).entries) best = b;
  const Window top = window(best);
  Peak peak{top.mean, top.mean, top.mean, top.entries / entries};
  for (int b = 1; b <= last; ++b) {
    const Window candidate = window(b);
    if (candidate.entries < top.entries - 2 * std::sqrt(top.entries)) continue;
    const double error = 2 * candidate.rms / std::sqrt(candidate.entries);
    peak.low = std::min(peak.low, candidate.mean - error);
    peak.high = std::max(peak.high, candidate.mean + error);
  }
  return peak;
}

// Whole-number distributions (the usual ones) take their window sums from
// running totals; the peak is that of its definition to the last bit, narrow
// or broad, with entries in under- and overflow and bins below zero, and
// with counts so large near the edge that the running totals would not be.
TEST(Peaks, WholeNumberPeaksEqualTheirDefinitionToTheLastBit) {
  for (double sigma : {3.0, 40.0, 250.0, 2.0}) {
    Bins bins(kDifferenceCells, 0.0);
    add_peak(bins, -80, sigma, 5000);
    for (double& bin : bins) bin = std::round(bin);
    bins.front() = 7, bins.back() = 3, bins[600] = -2;
    if (sigma == 2.0)
      for (std::size_t b = 990; b < 1010; ++b) bins[b] = 0x1p40 + static_cast<double>(b * 7919 % 1000);
    for (double near : {10.0, 5.0}) {
      const std::optional<Peak> found = find_peak(bins, near);
      const Peak expected = peak_by_definition(bins, near);
      ASSERT_TRUE(found) << sigma;
      EXPECT_EQ(found->position, expected.position) << sigma << " " << near;
      EXPECT_EQ(found->low, expected.low) << sigma << " " << near;
      EXPECT_EQ(found->high, expected.high) << sigma << " " << near;
      EXPECT_EQ(found->share, expected.share) << sigma << " " << near;
    }
  }
}

// A few filled bins, as a refresh's window of recent events holds: scattered,
// side by side, at both ends, some below zero, and none in range at all but
// a negative one while under- and overflow hold the entries.
TEST(Peaks, SparsePeaksEqualTheirDefinitionToTheLastBit) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> place(1, kDifferenceCells - 2);
  std::uniform_int_distribution<int> count(-2, 9);
  for (int trial = 0; trial < 200; ++trial) {
    Bins bins(kDifferenceCells, 0.0);
    const int filled = trial % 40;
    for (int i = 0; i < filled; ++i) bins[place(rng)] += count(rng);
    if (trial % 5 == 0) bins[1] = 4, bins[2] = 1, bins[kDifferenceCells - 2] = 6;
    if (trial % 7 == 0) bins.front() = 3, bins.back() = 2;
    if (trial == 21) std::fill(bins.begin() + 1, bins.end() - 1, 0.0), bins[500] = -1;
    for (double near : {10.0, 5.0, 0.0}) {
      SCOPED_TRACE(testing::Message() << "trial " << trial << ", near " << near);
      const std::optional<Peak> found = find_peak(bins, near);
      if (!(std::accumulate(bins.begin(), bins.end(), 0.0) > 0)) {
        EXPECT_FALSE(found);
        continue;
      }
      ASSERT_TRUE(found);
      const Peak expected = peak_by_definition(bins, near);
      EXPECT_EQ(found->position, expected.position);
      EXPECT_EQ(found->low, expected.low);
      EXPECT_EQ(found->high, expected.high);
      EXPECT_EQ(found->share, expected.share);
    }
  }
}

TEST(MissingPacket, TheShareOfRecentDataEventsWithoutThePacket) {
  Judge judge;
  Reading reading = healthy_reading(700);
  reading.data_events = 1000;
  std::vector<Result> results = judge(judge_missing_packets, reading);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].verdict, Verdict::Bad);
  EXPECT_EQ(results[0].stave, kNone);
  EXPECT_EQ(results[0].reason, "300 of the last 1000 data events (30.0%) came without the detector packet");
  reading = healthy_reading(990);
  reading.data_events = 999;
  EXPECT_EQ(judge(judge_missing_packets, reading)[0].verdict, Verdict::Null) << "after a reset: the run so far";
}

TEST(Reference, SameDistributionsAreGoodOthersBad) {
  Judge judge;
  EXPECT_TRUE(all_are(judge(judge_reference, healthy_reading(5000)), Verdict::Null));
  const Reading reading = healthy_reading(5000);
  judge.reference = ReferenceRun{"ref.json", 5000, {}, {}, {}, {}};
  for (std::size_t s = 0; s < kStaves; ++s) judge.reference->hits_per_event[s] = reading.staves[s].hits_per_event;
  for (std::size_t s = 0; s < kDifferenceStaves; ++s) {
    judge.reference->column_differences[s] = reading.column_differences[s];
    judge.reference->row_differences[s] = reading.row_differences[s];
  }
  judge.reference->row_differences[0].assign(kDifferenceCells, 0.0);
  add_peak(judge.reference->row_differences[0], -20, 2, 5000);
  const std::vector<Result> results = judge(judge_reference, reading);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Bad, Verdict::Good, Verdict::Good, Verdict::Good}));
  EXPECT_EQ(find(results, 1).reason,
            "stave 1: pixels per event p = 1, column difference p = 1, row difference p = 1 against ref.json");
  EXPECT_NE(find(results, 0).reason.find("row difference p = 0"), std::string::npos) << find(results, 0).reason;
}

TEST(History, WindowsStartAtTheNewestReadingOldEnough) {
  History history(5000);
  for (double events : {1000, 3000, 6000, 9000}) history.add(healthy_reading(events));
  const Reading now = healthy_reading(9000);
  EXPECT_EQ(history.window_start(now, 5000, Count::Events).events, 3000);
  EXPECT_EQ(history.window_start(now, 3000, Count::Events).events, 6000);
  EXPECT_EQ(history.window_start(now, 20000, Count::Events).events, 0) << "the start of the run";
  history.add(healthy_reading(200));
  EXPECT_TRUE(history.restarted()) << "fewer events: the histograms were reset";
  EXPECT_EQ(history.window_start(healthy_reading(200), 100, Count::Events).events, 0);
}

TEST(History, StaysBoundedOverALongRun) {
  History history(5000);
  for (int i = 1; i <= 100000; ++i) history.add(empty_reading(i * 10.0));
  EXPECT_LE(history.size(), 48u);
  // Every window can still be served from readings close to its length.
  const Reading now = empty_reading(1e6);
  const double start = history.window_start(now, 5000, Count::Events).events;
  EXPECT_LE(now.events - start, 5000 * 1.25);
  EXPECT_GE(now.events - start, 5000);
}

const double kAwkwardValues[] = {0,       -0.0,   0.5,     1.5,       2.5,     -2.5,   0.49999999999999994,
                                 99.5,    1e20,   -1e300,  0x1p53 + 2, 123456789.5, 1e-300, std::nan(""),
                                 -std::nan(""), HUGE_VAL, -HUGE_VAL, 4294967295.5, 7, -3, 1984, 0x1p51 - 1,
                                 -0x1p51 + 1, 0x1p51, 0x1p51 + 2, 1e15 + 1, 0.125, 0.995, 99.995, 1e-5,
                                 0.0001234567, 123456.5, 1234567.0, 2.675, 5e-324, 1.7976931348623157e308};

TEST(Reasons, WholeNumbersReadAsPrintfWritesThem) {
  for (double value : kAwkwardValues) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%.0f", value);
    EXPECT_EQ(whole(value), expected) << value;
  }
}

// Reasons are written without printf where they can be: what they read is
// what printf writes, whatever the value, and patterns beyond those
// conversions are printf's own.
TEST(Reasons, FormattedAsPrintfFormatsThem) {
  char expected[4000];
  for (double value : kAwkwardValues) {
    SCOPED_TRACE(value);
    const auto same = [&](const std::string& found) { EXPECT_EQ(found, expected); };
    std::snprintf(expected, sizeof expected, "x %.0f%% %+.0f %.2f %.1f %g %.2g %.10g %f y", value, value, value,
                  value, value, value, value, value);
    same(format("x %.0f%% %+.0f %.2f %.1f %g %.2g %.10g %f y", value, value, value, value, value, value, value,
                value));
    std::snprintf(expected, sizeof expected, "%.0g %+g %.900f", value, value, value);
    same(format("%.0g %+g %.900f", value, value, value));
  }
  for (int value : {0, 7, -7, 12345, -2147483647 - 1, 2147483647}) {
    std::snprintf(expected, sizeof expected, "[%d|%03d|%+d|%5d|%+06d|%ld|%zu|%s]", value, value, value, value, value,
                  -3L * value, static_cast<std::size_t>(value) * 3, value > 0 ? "up" : "");
    EXPECT_EQ(format("[%d|%03d|%+d|%5d|%+06d|%ld|%zu|%s]", value, value, value, value, value, -3L * value,
                     static_cast<std::size_t>(value) * 3, value > 0 ? "up" : ""),
              expected);
    std::snprintf(expected, sizeof expected, "%-5d|%x|%c|%10.3s|% d", value, value, 'k', "abcdef", value);
    EXPECT_EQ(format("%-5d|%x|%c|%10.3s|% d", value, value, 'k', "abcdef", value), expected);
  }
}

}  // namespace
}  // namespace kivo::quality
