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
      {{"occupancy", 2, 0, Verdict::Good, "chip 0", 0.1}, {}}, {{"occupancy", 2, 1, Verdict::Bad, "chip 1", 1}, {}},
      {{"occupancy", 2, 2, Verdict::Good, "chip 2", 0.3}, {}}, {{"occupancy", 2, 3, Verdict::Bad, "chip 3", 0.99}, {}},
      {{"occupancy", 3, 0, Verdict::Good, "chip 0", 0.2}, {}}, {{"occupancy", 3, 1, Verdict::Good, "chip 1", 0.4}, {}},
  };
  const std::vector<Row> rows = rows_of(results);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].shown.result.reason, "chip 1");
  EXPECT_EQ(rows[0].more, 1);
  EXPECT_EQ(rows[1].shown.result.reason, "chip 1") << "the most suspect of the good ones";
  EXPECT_EQ(rows[1].more, 0);
}

TEST(HitRate, AStaveFarFromTheOthersIsBad) {
  Judge judge;
  Reading reading = healthy_reading(5000);
  reading.staves[1].hits = 5 * 5000 * 3.5;
  std::vector<Result> results = judge(judge_hit_rates, reading);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Good, Verdict::Bad, Verdict::Good, Verdict::Good}));
  EXPECT_EQ(find(results, 1).reason,
            "stave 1: 17.50 hits per event in the last 5000 events (hot pixels left out); the other staves 5.00 to 5.00 "
            "(3.50 times their median)");
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

// Every limit is exclusive: a value exactly at it keeps the verdict below.
TEST(Limits, AValueAtALimitIsNotPastIt) {
  EXPECT_EQ(judge_limit(10, 10, 30, false), Verdict::Good);
  EXPECT_EQ(judge_limit(std::nextafter(10.0, 11.0), 10, 30, false), Verdict::Medium);
  EXPECT_EQ(judge_limit(30, 10, 30, false), Verdict::Medium);
  EXPECT_EQ(judge_limit(std::nextafter(30.0, 31.0), 10, 30, false), Verdict::Bad);
  EXPECT_EQ(judge_limit(0.6, 0.6, 0.25, true), Verdict::Good);
  EXPECT_EQ(judge_limit(std::nextafter(0.6, 0.0), 0.6, 0.25, true), Verdict::Medium);
  EXPECT_EQ(judge_limit(0.25, 0.6, 0.25, true), Verdict::Medium);
  EXPECT_EQ(judge_limit(std::nextafter(0.25, 0.0), 0.6, 0.25, true), Verdict::Bad);
  EXPECT_EQ(judge_limit(0, 0, 0, true), Verdict::Good) << "nothing is below a limit of 0";
  // A value past a limit at the last judgement keeps it until back by the margin.
  EXPECT_EQ(judge_limit_held(95, 100, 300, false, Verdict::Medium), Verdict::Medium);
  EXPECT_EQ(judge_limit_held(90, 100, 300, false, Verdict::Medium), Verdict::Good);
  EXPECT_EQ(judge_limit_held(95, 100, 300, false, Verdict::Good), Verdict::Good);
}

// The hit rate against the other staves, exactly at and just past each
// limit, above and below their median.
TEST(HitRate, TheRatioLimitsOnBothSides) {
  const auto verdict_at = [](double ratio) {
    Judge judge;
    Reading reading = healthy_reading(4000);
    reading.staves[1].hits = 5 * 4000 * ratio;
    return find(judge(judge_hit_rates, reading), 1).verdict;
  };
  EXPECT_EQ(verdict_at(1.5), Verdict::Good);
  EXPECT_EQ(verdict_at(1.5 * (1 + 1e-9)), Verdict::Medium);
  EXPECT_EQ(verdict_at(3), Verdict::Medium);
  EXPECT_EQ(verdict_at(3 * (1 + 1e-9)), Verdict::Bad);
  EXPECT_EQ(verdict_at(1 / 1.5), Verdict::Good);
  EXPECT_EQ(verdict_at(1 / 1.5 * (1 - 1e-9)), Verdict::Medium);
  EXPECT_EQ(verdict_at(1.0 / 3), Verdict::Medium);
  EXPECT_EQ(verdict_at(1.0 / 3 * (1 - 1e-9)), Verdict::Bad);
}

TEST(HitRate, AnEmptyStaveIsBadWithTheAbsoluteLimitsAtZero) {
  Judge judge;
  judge.config.hit_rate.medium_below = judge.config.hit_rate.bad_below = 0;
  Reading reading = healthy_reading(5000);
  reading.staves[3].hits = 0;
  const std::vector<Result> results = judge(judge_hit_rates, reading);
  EXPECT_EQ(find(results, 3).verdict, Verdict::Bad) << find(results, 3).reason;
  EXPECT_EQ(find(results, 0).verdict, Verdict::Good);
}

// The share of missing packets as judged: its least value, three binomial
// standard deviations below it. `missing` of `events` data events give
// exactly `share` as that least value.
double missing_for(double share, double events) {
  // share = m - 3 sqrt(m (1 - m) / n), solved for m.
  const double k = 9 / events;
  const double a = 1 + k, b = -(2 * share + k), c = share * share;
  return events * (-b + std::sqrt(b * b - 4 * a * c)) / (2 * a);
}

Verdict missing_packet_verdict(Judge& judge, double missing, double events) {
  Reading reading = healthy_reading(events - missing);
  reading.data_events = events;
  judge.history = History(longest_window(judge.config));
  return judge(judge_missing_packets, reading)[0].verdict;
}

// Each limit on both sides: a share whose least value is at it keeps the
// verdict below, one just past it reaches it; and once reached, the limit
// holds until the least share is back by a tenth of it.
TEST(MissingPacket, TheShareLimitsOnBothSidesAndTheirHold) {
  const double events = 10000;
  for (const auto& [limit, verdict] : {std::pair(0.05, Verdict::Medium), std::pair(0.2, Verdict::Bad)}) {
    SCOPED_TRACE(limit);
    Judge judge;
    const Verdict below = verdict == Verdict::Bad ? Verdict::Medium : Verdict::Good;
    EXPECT_EQ(missing_packet_verdict(judge, missing_for(limit, events) * (1 - 1e-9), events), below);
    EXPECT_EQ(missing_packet_verdict(judge, missing_for(limit, events) * (1 + 1e-9), events), verdict);
    EXPECT_EQ(missing_packet_verdict(judge, missing_for(0.95 * limit, events), events), verdict) << "held";
    EXPECT_EQ(missing_packet_verdict(judge, missing_for(0.9 * limit, events) * (1 - 1e-9), events), below);
    EXPECT_EQ(missing_packet_verdict(judge, missing_for(0.95 * limit, events), events), below) << "not held any more";
  }
  // A share that sits at the Medium limit is not past it by chance.
  Judge judge;
  EXPECT_EQ(missing_packet_verdict(judge, 0.05 * events, events), Verdict::Good);
  EXPECT_EQ(missing_packet_verdict(judge, 0.3 * events, events), Verdict::Bad);
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

TEST(Reference, ShapesThatDifferLittleAreGoodHoweverLongTheRun) {
  Judge judge;
  EXPECT_TRUE(all_are(judge(judge_reference, healthy_reading(5000)), Verdict::Null));
  judge.reference = ReferenceRun{};
  judge.reference->path = "ref.json";
  Reading reading = healthy_reading(1e6);
  for (std::size_t s = 0; s < kStaves; ++s) {
    Bins& now = reading.staves[s].hits_per_event;
    Bins& then = judge.reference->hits_per_event[s];
    now.assign(203, 0.0);
    then.assign(203, 0.0);
    for (std::size_t b = 1; b < 30; ++b) {
      now[b] = 1e5 * std::exp(-0.5 * (b - 12.0) * (b - 12.0) / 9);
      then[b] = 1e5 * std::exp(-0.5 * (b - 12.3) * (b - 12.3) / 9);  // a different noise, a little
    }
  }
  // Stave 1 has twice the hits per event: a real change; stave 2 moves just
  // past the Medium distance and stave 3 to the Bad one.
  for (const auto& [stave, shift] : {std::pair{1, 12.0}, {2, 1.15}, {3, 2.4}}) {
    Bins& now = reading.staves[static_cast<std::size_t>(stave)].hits_per_event;
    std::fill(now.begin(), now.end(), 0.0);
    for (std::size_t b = 1; b < 60; ++b) {
      const double x = static_cast<double>(b) - 12 - shift;
      now[b] = 1e5 * std::exp(-0.5 * x * x / 9);
    }
  }
  const std::vector<Result> results = judge(judge_reference, reading);
  EXPECT_EQ(verdicts(results), (std::vector<Verdict>{Verdict::Good, Verdict::Bad, Verdict::Medium, Verdict::Bad}))
      << results[2].reason << "\n" << results[3].reason;
  EXPECT_EQ(find(results, 0).reason.rfind("stave 0: pixels per event differ by 4.0% (p = 0) against ref.json (it "
                                          "holds no hit profiles)",
                                          0),
            0u)
      << find(results, 0).reason;
}

// A distance limit, once reached, holds until the distance is back by a
// tenth of it: pinned with the limit set about the distance the shapes have.
TEST(Reference, AReachedDistanceLimitHoldsUntilBackByItsMargin) {
  Reading reading = healthy_reading(1e6);
  ReferenceRun reference;
  reference.path = "ref.json";
  for (std::size_t s = 0; s < kStaves; ++s) {
    Bins& now = reading.staves[s].hits_per_event;
    Bins& then = reference.hits_per_event[s];
    now.assign(203, 0.0);
    then.assign(203, 0.0);
    for (std::size_t b = 1; b < 40; ++b) {
      now[b] = 1e5 * std::exp(-0.5 * (b - 14.0) * (b - 14.0) / 9);
      then[b] = 1e5 * std::exp(-0.5 * (b - 12.0) * (b - 12.0) / 9);
    }
  }
  Judge probe;
  probe.reference = reference;
  const std::string reason = probe(judge_reference, reading)[0].reason;
  const double distance = std::stod(reason.substr(reason.find("differ by ") + 10)) / 100;
  ASSERT_GT(distance, 0.1) << reason;
  Judge judge;
  judge.reference = reference;
  judge.config.reference.bad_distance = 2;  // out of reach: Medium only
  const auto judged = [&](double limit) {
    judge.config.reference.medium_distance = limit;
    return judge(judge_reference, reading)[0].verdict;
  };
  EXPECT_EQ(judged(distance * 1.01), Verdict::Good) << "not past the limit";
  EXPECT_EQ(judged(distance * 0.99), Verdict::Medium);
  EXPECT_EQ(judged(distance * 1.09), Verdict::Medium) << "held: back by less than a tenth";
  EXPECT_EQ(judged(distance * 1.13), Verdict::Good) << "back by more";
  EXPECT_EQ(judged(distance * 1.01), Verdict::Good) << "not held any more";
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
