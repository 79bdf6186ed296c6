// The synchronisation and alignment checks on constructed stave
// correlations, and the masks the host hands to the monitor for them.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "Checks.h"
#include "LagDifferences.h"
#include "Quality.h"

namespace kivo::quality {
namespace {

constexpr std::size_t kCells = 1025;

// `entries` entries, `share` of them (rounded) in the bin centred on
// `position` and the rest in the underflow: the share of entries near the
// peak is `share`.
LagCounts peaked(double entries, double share, int position) {
  LagCounts counts(kCells, 0);
  const auto peak = static_cast<std::uint32_t>(std::lround(entries * share));
  counts[static_cast<std::size_t>(position + 512)] = peak;
  counts[0] = static_cast<std::uint32_t>(std::lround(entries)) - peak;
  return counts;
}

// The staves' correlations: each stave `delays` events late (early when
// negative); a pair's rows (columns) peak sharply at the lag its delays
// give, broadly at the others; dead staves have no entries.
struct Model {
  std::array<int, kStaves> delays{};
  std::array<bool, kStaves> dead{};
  double sharp = 0.20, broad = 0.10;
  double same_event = -1;  // lag 0's share where another lag matches (broad when negative)
  double column_sharp = 0.02, column_broad = 0.02;
};

Reading reading_of(double events, const Model& model) {
  Reading reading;
  reading.run = 1;
  reading.events = reading.data_events = events;
  for (int s = 0; s < kStaves; ++s)
    for (std::size_t r = 0; r < kLagReferences.size(); ++r) {
      const int reference = kLagReferences[r];
      if (s == reference) continue;
      const auto at = [&model](int stave) { return static_cast<std::size_t>(stave); };
      const double entries = model.dead[at(s)] || model.dead[at(reference)] ? 0 : events;
      const int matched = model.delays[at(reference)] - model.delays[at(s)];
      LagBins& lags = reading.staves[at(s)].lags[r];
      for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
        const bool sharp = lag == matched;
        const double broad = lag == 0 && model.same_event >= 0 ? model.same_event : model.broad;
        lags.rows[static_cast<std::size_t>(lag + kMaxLag)] =
            peaked(entries, sharp ? model.sharp : broad, -8 * (reference - s));
        lags.columns[static_cast<std::size_t>(lag + kMaxLag)] =
            peaked(entries, sharp ? model.column_sharp : model.column_broad, -40 * (reference - s));
      }
    }
  return reading;
}

struct Judge {
  Config config = default_config();
  History history{longest_window(config)};
  RunMemory memory;

  std::vector<Result> operator()(std::vector<Result> (*check)(const Context&), const Reading& reading) {
    history.add(reading);
    const Context context{config, reading, history, nullptr, memory};
    return check(context);
  }
};

std::vector<Verdict> verdicts(const std::vector<Result>& results) {
  std::vector<Verdict> all;
  for (const Result& result : results) all.push_back(result.verdict);
  return all;
}

const std::string& reason(const std::vector<Result>& results, int stave) {
  return results.at(static_cast<std::size_t>(stave)).reason;
}

using V = Verdict;

TEST(Synchronisation, StavesInStepAreGoodAndSaySo) {
  Judge judge;
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, {}));
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Good, V::Good, V::Good}));
  EXPECT_EQ(reason(results, 1),
            "stave 1: in step with staves 2 and 3 (row differences of stave 1 against stave 3: 20% of entries within "
            "5 rows of the peak in the same event, at most 10% at another lag)");
  EXPECT_EQ(reason(results, 3).rfind("stave 3: in step with staves 0, 1 and 2 (", 0), 0u) << reason(results, 3);
}

TEST(Synchronisation, AStaveEarlyOrLateIsNamedWithItsLag) {
  const struct {
    int delay;
    const char* said;
  } cases[] = {
      {1, "stave 1 is one event late: its hits match those of staves 2 and 3 of the event before (row differences "
          "of stave 1 against stave 3: 20% of entries within 5 rows of the peak at lag -1, 10% in the same event)"},
      {-1, "stave 1 is one event early: its hits match those of staves 2 and 3 of the event after (row differences "
           "of stave 1 against stave 3: 20% of entries within 5 rows of the peak at lag +1, 10% in the same event)"},
      {2, "stave 1 is two events late: its hits match those of staves 2 and 3 of two events before (row differences "
          "of stave 1 against stave 3: 20% of entries within 5 rows of the peak at lag -2, 10% in the same event)"},
      {-2, "stave 1 is two events early: its hits match those of staves 2 and 3 of two events after (row "
           "differences of stave 1 against stave 3: 20% of entries within 5 rows of the peak at lag +2, 10% in the "
           "same event)"},
  };
  for (const auto& c : cases) {
    Judge judge;
    Model model;
    model.delays[1] = c.delay;
    const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
    EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Bad, V::Good, V::Good})) << c.delay;
    EXPECT_EQ(reason(results, 1), c.said);
  }
}

TEST(Synchronisation, WhenTheOthersAllDisagreeWithStaveThreeItIsStaveThree) {
  Judge judge;
  Model model;
  model.delays[3] = 1;
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Good, V::Good, V::Bad}));
  EXPECT_EQ(reason(results, 3),
            "stave 3 is one event late: its hits match those of staves 0, 1 and 2 of the event before (row "
            "differences of stave 0 against stave 3: 20% of entries within 5 rows of the peak at lag +1, 10% in the "
            "same event)");
  EXPECT_EQ(reason(results, 0).rfind("stave 0: in step with stave 2 (", 0), 0u) << reason(results, 0);
  EXPECT_EQ(reason(results, 2).rfind("stave 2: in step with staves 0 and 1 (", 0), 0u) << reason(results, 2);
}

TEST(Synchronisation, WithStaveThreeDeadStaveTwoIsTheReference) {
  Judge judge;
  Model model;
  model.dead[3] = true;
  model.delays[2] = -1;
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Good, V::Bad, V::Null}));
  EXPECT_EQ(reason(results, 2),
            "stave 2 is one event early: its hits match those of staves 0 and 1 of the event after (row differences "
            "of stave 0 against stave 2: 20% of entries within 5 rows of the peak at lag -1, 10% in the same event)");
  EXPECT_EQ(reason(results, 3), "stave 3: 0 events with hits on both stave 3 and stave 0 in the window, 1000 needed");
  EXPECT_EQ(reason(results, 0).rfind("stave 0: in step; its differences against stave 2 show stave 2 out of step", 0),
            0u)
      << reason(results, 0);
}

TEST(Synchronisation, WithoutAPeakAtAnyLagItDoesNotJudgeAndSaysWhy) {
  Judge judge;
  Model model;
  model.sharp = model.broad;  // heavy noise, a dead chip in the beam: no lag stands out
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Null, V::Null, V::Null, V::Null}));
  EXPECT_EQ(reason(results, 0),
            "stave 0: no lag holds a clear peak against staves 2 and 3 (stave 0 against stave 3, rows: 10% of "
            "entries near the peak in the same event, 10% at the median lag; columns: 2% of entries near the peak in "
            "the same event, 2% at the median lag): too few hits, a dead stave or chip, heavy noise, or a change of "
            "step within the window");

  Judge one_stave;
  model = Model{};
  model.dead[1] = true;
  EXPECT_EQ(verdicts(one_stave(judge_synchronisation, reading_of(3000, model))),
            (std::vector<V>{V::Good, V::Null, V::Good, V::Good}));
}

TEST(Synchronisation, EitherAxisCanTell) {
  Judge judge;
  Model model;
  model.delays[0] = 1;
  model.sharp = model.broad;  // rows flat: columns alone show the lag
  model.column_sharp = 0.08;
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Bad, V::Good, V::Good, V::Good}));
  EXPECT_NE(reason(results, 0).find("(column differences of stave 0 against stave 3: 8% of entries within 10 columns "
                                    "of the peak at lag -1, 2% in the same event)"),
            std::string::npos)
      << reason(results, 0);
}

TEST(Synchronisation, AnyOneStaveOutOfStepIsTheOneBlamedAndAnyStateHasAReason) {
  for (int stave = 0; stave < kStaves; ++stave)
    for (int delay = -kMaxLag; delay <= kMaxLag; ++delay) {
      Judge judge;
      Model model;
      model.delays[static_cast<std::size_t>(stave)] = delay;
      const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
      for (int s = 0; s < kStaves; ++s)
        EXPECT_EQ(results[static_cast<std::size_t>(s)].verdict, s == stave && delay != 0 ? V::Bad : V::Good)
            << "stave " << stave << " " << delay << " events late: " << reason(results, s);
    }
  std::mt19937 random(3);
  std::uniform_int_distribution<int> delay(-kMaxLag, kMaxLag), coin(0, 3);
  for (int trial = 0; trial < 300; ++trial) {
    Judge judge;
    Model model;
    for (std::size_t s = 0; s < kStaves; ++s) {
      model.delays[s] = delay(random);
      model.dead[s] = coin(random) == 0;
    }
    const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
    ASSERT_EQ(results.size(), 4u);
    for (const Result& result : results) EXPECT_FALSE(result.reason.empty()) << "trial " << trial;
  }
}

TEST(Synchronisation, TwoStavesAloneCannotTellWhichIsOut) {
  Judge judge;
  Model model;
  model.dead[0] = model.dead[3] = true;
  model.delays[1] = 1;
  const std::vector<Result> results = judge(judge_synchronisation, reading_of(3000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Null, V::Bad, V::Bad, V::Null}));
  EXPECT_EQ(reason(results, 2),
            "stave 2 and stave 1 are one event apart (row differences of stave 1 against stave 2: 20% of entries "
            "within 5 rows of the peak at lag -1, 10% in the same event); which of them is out of step cannot be "
            "told: as many staves agree with either");
}

// Stave 1's verdict with lag -1 holding `late` and lag 0 `same_event` of
// 8192 entries, the other lags 1024.
Verdict late_stave_verdict(Judge& judge, double late, double same_event) {
  Model model;
  model.delays[1] = 1;
  model.sharp = late / 8192;
  model.same_event = same_event / 8192;
  model.broad = 1024.0 / 8192;
  return judge(judge_synchronisation, reading_of(8192, model))[1].verdict;
}

TEST(Synchronisation, TheRatioLimitsAreExclusive) {
  const auto judged = [](double late) {
    Judge judge;
    judge.config.synchronisation.medium_ratio = 1.25;
    judge.config.synchronisation.bad_ratio = 1.5;
    return late_stave_verdict(judge, late, 2048);
  };
  EXPECT_EQ(judged(2560), V::Good) << "exactly 1.25 times lag 0: lag 0 still stands out";
  EXPECT_EQ(judged(2568), V::Medium);
  EXPECT_EQ(judged(3072), V::Medium) << "exactly 1.5 times";
  EXPECT_EQ(judged(3080), V::Bad);
}

TEST(Synchronisation, APeakStandsOutFromItsRatioAndSignificanceOn) {
  const auto in_step = [](double share, double ratio, double significance_needed) {
    Judge judge;
    judge.config.synchronisation.peak_ratio = ratio;
    judge.config.synchronisation.min_significance = significance_needed;
    Model model;
    model.sharp = share / 8192;
    model.broad = 1024.0 / 8192;
    return judge(judge_synchronisation, reading_of(8192, model))[1].verdict;
  };
  EXPECT_EQ(in_step(1536, 1.5, 5), V::Good) << "exactly 1.5 times the median share";
  EXPECT_EQ(in_step(1535, 1.5, 5), V::Null);
  const double z = significance(1536.0 / 8192, 8192, 1024.0 / 8192, 8192);
  EXPECT_EQ(in_step(1536, 1.5, z), V::Good) << "exactly the significance needed";
  EXPECT_EQ(in_step(1536, 1.5, std::nextafter(z, 100.0)), V::Null);

  // Out of step needs the same significance over lag 0.
  const double over_same_event = significance(4096.0 / 8192, 8192, 2048.0 / 8192, 8192);
  Judge exactly;
  exactly.config.synchronisation.min_significance = over_same_event;
  EXPECT_EQ(late_stave_verdict(exactly, 4096, 2048), V::Bad);
  Judge short_of_it;
  short_of_it.config.synchronisation.min_significance = std::nextafter(over_same_event, 100.0);
  EXPECT_NE(late_stave_verdict(short_of_it, 4096, 2048), V::Bad);
}

TEST(Synchronisation, TooFewEntriesAreNotJudged) {
  Judge enough;
  EXPECT_EQ(enough(judge_synchronisation, reading_of(1000, {}))[0].verdict, V::Good);
  Judge few;
  const std::vector<Result> results = few(judge_synchronisation, reading_of(999, {}));
  EXPECT_EQ(results[0].verdict, V::Null);
  EXPECT_EQ(results[0].reason, "stave 0: 999 events with hits on both stave 0 and stave 3 in the window, 1000 needed");
}

TEST(Synchronisation, TheWindowIsTheRecentEvents) {
  Judge judge;
  const Reading early = reading_of(6000, {});
  judge(judge_synchronisation, early);
  Model model;
  model.delays[1] = 1;
  Reading late = reading_of(3000, model);  // the last 3000 events: stave 1 one event late
  late.events = late.data_events = 9000;
  for (int s = 0; s < kStaves; ++s)
    for (std::size_t r = 0; r < kLagReferences.size(); ++r)
      for (int lag = 0; lag < kLags; ++lag) {
        LagBins& now = late.staves[static_cast<std::size_t>(s)].lags[r];
        const LagBins& before = early.staves[static_cast<std::size_t>(s)].lags[r];
        for (std::size_t b = 0; b < now.rows[static_cast<std::size_t>(lag)].size(); ++b) {
          now.rows[static_cast<std::size_t>(lag)][b] += before.rows[static_cast<std::size_t>(lag)][b];
          now.columns[static_cast<std::size_t>(lag)][b] += before.columns[static_cast<std::size_t>(lag)][b];
        }
      }
  EXPECT_EQ(judge(judge_synchronisation, late)[1].verdict, V::Bad) << "6000 events in step before do not dilute it";
}

TEST(LagDifferences, AWindowsShareIsFindPeaksShareEvenWhereCountsWrapped) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 200; ++trial) {
    Bins gained(kCells, 0.0);
    LagCounts start(kCells, 0), now(kCells, 0);
    std::uniform_int_distribution<int> filled(1, 1000), bin(0, static_cast<int>(kCells) - 1), count(0, 50);
    // Every tenth trial starts just below 2^32, so that most counts wrap.
    const std::uint32_t offset = trial % 10 == 0 ? 0xffffffe0u : 0;
    for (std::size_t b = 0; b < kCells; ++b) start[b] = now[b] = offset;
    for (int n = filled(random); n > 0; --n) {
      const std::size_t b = static_cast<std::size_t>(bin(random));
      start[b] += static_cast<std::uint32_t>(count(random));
      const int more = count(random);
      now[b] = start[b] + static_cast<std::uint32_t>(more);
      gained[b] = more;
    }
    const double near = trial % 3 == 0 ? 0 : trial % 3 == 1 ? 5 : 10;
    const std::optional<Peak> peak = find_peak(gained, near);
    const WindowShare share = window_share(now, start, near);
    EXPECT_EQ(share.share, peak ? peak->share : 0) << "trial " << trial;
    EXPECT_EQ(share.entries, total(gained)) << "trial " << trial;
    EXPECT_EQ(window_bins(now, start), gained) << "trial " << trial;
  }
  EXPECT_EQ(window_share(LagCounts(kCells, 0), LagCounts(kCells, 0), 5).share, 0);
  EXPECT_EQ(window_share(LagCounts(kCells, 3), LagCounts{}, 5).entries, 3.0 * kCells) << "counted from nothing";
}

Model aligned() {
  Model model;
  model.column_sharp = 0.2;
  return model;
}

TEST(Alignment, PeaksAtTheirFirstPlaceAreGood) {
  Judge judge;
  const std::vector<Result> results = judge(judge_alignment, reading_of(5000, aligned()));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Good, V::Good}));
  EXPECT_EQ(results[0].reason,
            "stave 0: column difference peak -120, first judged -120: 0 apart; row difference peak -24, first judged "
            "-24: 0 apart");
}

TEST(Alignment, APeakAwayFromItsConfiguredOffsetIsMediumThenBad) {
  const auto judged = [](double column) {
    Judge judge;
    judge.config.alignment.expected_columns = {-120, -80, -40 - column};
    return judge(judge_alignment, reading_of(5000, aligned()))[2];
  };
  EXPECT_EQ(judged(10).verdict, V::Good) << "exactly 10 columns";
  EXPECT_EQ(judged(11).verdict, V::Medium);
  EXPECT_EQ(judged(30).verdict, V::Medium) << "exactly 30 columns";
  EXPECT_EQ(judged(31).verdict, V::Bad);
  EXPECT_EQ(judged(31).reason.rfind("stave 2: column difference peak -40, configured -71: 31 apart; row", 0), 0u)
      << judged(31).reason;
}

// Once reached, a limit holds until the peak is back within a tenth of it.
TEST(Alignment, AReachedLimitHoldsUntilThePeakIsBackByItsMargin) {
  Judge judge;
  const auto judged = [&judge](double column) {
    judge.config.alignment.expected_columns = {-120, -80, -40 - column};
    return judge(judge_alignment, reading_of(5000, aligned()))[2].verdict;
  };
  EXPECT_EQ(judged(31), V::Bad);
  EXPECT_EQ(judged(28), V::Bad) << "held: 28 columns are not back by 3";
  EXPECT_EQ(judged(27), V::Medium) << "27 columns are";
  EXPECT_EQ(judged(10), V::Medium) << "held";
  EXPECT_EQ(judged(9), V::Good);
  EXPECT_EQ(judged(10), V::Good) << "not held any more: exactly 10 columns";
}

TEST(Alignment, OnlyAPeakThatStandsOutInTheSameEventIsPlaced) {
  Judge judge;
  std::vector<Result> results = judge(judge_alignment, reading_of(5000, {}));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Good, V::Good}));
  EXPECT_EQ(results[1].reason,
            "stave 1: row difference peak -16, first judged -16: 0 apart; column differences not judged: no peak "
            "stands out (2% of entries near the densest place in the same event, 2% at the median lag)");

  Judge out_of_step;
  Model model;
  model.delays[1] = 1;
  results = out_of_step(judge_alignment, reading_of(5000, model));
  EXPECT_EQ(verdicts(results), (std::vector<V>{V::Good, V::Null, V::Good}));
  EXPECT_NE(results[1].reason.find("row differences not judged: their peak is at lag -1, not in the same event"),
            std::string::npos)
      << results[1].reason;

  Judge few;
  EXPECT_EQ(few(judge_alignment, reading_of(999, {}))[0].reason,
            "stave 0: 999 events with hits on stave 0 and stave 3 in the window, 1000 needed");
}

TEST(Alignment, AMaskThatChangedTakesTheFirstPeakAnew) {
  // Stave 0's rows peak at -24 in the first 3000 events, at -40 in the next 4000.
  Reading later = reading_of(7000, {});
  LagCounts& rows = later.staves[0].lags[0].rows[kMaxLag];
  rows = peaked(3000, 0.2, -24);
  const LagCounts more = peaked(4000, 0.5, -40);
  for (std::size_t b = 0; b < rows.size(); ++b) rows[b] += more[b];

  Judge unchanged;
  unchanged(judge_alignment, reading_of(3000, {}));
  EXPECT_EQ(unchanged(judge_alignment, later)[0].verdict, V::Bad) << "16 rows from the first peak";

  Judge masked;
  masked(judge_alignment, reading_of(3000, {}));
  masked.memory.masks.masked_since[3] = 3000;
  const Result result = masked(judge_alignment, later)[0];
  EXPECT_EQ(result.verdict, V::Good);
  EXPECT_NE(result.reason.find("row difference peak -40, first judged -40: 0 apart"), std::string::npos)
      << result.reason;
  EXPECT_NE(result.reason.find("(counted since the hot-pixel mask changed at event 3000)"), std::string::npos);
}

// What the monitor was handed, by stave: (column bin, row bin) pairs.
std::map<int, std::vector<std::pair<int, int>>> handed;

int record_mask(int stave, const int* xbins, const int* ybins, int count) {
  std::vector<std::pair<int, int>>& pixels = handed[stave];
  pixels.clear();
  for (int i = 0; i < count; ++i) pixels.push_back({xbins[i], ybins[i]});
  return 0;
}

Reading with_hot(double events, int stave, std::vector<HotPixel> pixels) {
  Reading reading;
  reading.events = events;
  reading.staves[static_cast<std::size_t>(stave)].hot.pixels = std::move(pixels);
  return reading;
}

TEST(CorrelationMasks, HotPixelsFoundInTheRunAreMaskedUntilItEnds) {
  MonitorInputs inputs{};
  inputs.set_correlation_mask = record_mask;
  CorrelationMasks masks;
  handed.clear();
  update_correlation_masks(inputs, with_hot(0, 0, {}), masks);
  EXPECT_EQ(handed.size(), 4u) << "every stave's mask at the first judgement of a run";

  handed.clear();
  update_correlation_masks(inputs, with_hot(1000, 2, {{100, 7, 900}, {5, 500, 20}}), masks);
  EXPECT_EQ(handed, (std::map<int, std::vector<std::pair<int, int>>>{{2, {{6, 501}, {101, 8}}}}));
  EXPECT_EQ(masks.masked_since[2], 1000) << "a pixel firing in 90% of the events pulls the means";

  handed.clear();
  update_correlation_masks(inputs, with_hot(2000, 2, {{100, 7, 1800}}), masks);
  EXPECT_TRUE(handed.empty()) << "nothing new; a pixel no longer found stays masked";

  update_correlation_masks(inputs, with_hot(3000, 2, {{100, 7, 2700}, {9, 9, 30}}), masks);
  EXPECT_EQ(handed[2].size(), 3u);
  EXPECT_EQ(masks.masked_since[2], 1000) << "a pixel firing in 1% of the events does not restart the windows";

  update_correlation_masks(inputs, with_hot(500, 2, {}), masks);
  EXPECT_EQ(masks.masked_since[2], 0) << "after a reset every entry is masked";
}

}  // namespace
}  // namespace kivo::quality
