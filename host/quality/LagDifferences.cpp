#include "LagDifferences.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "monitor_plugin.h"

namespace kivo::quality {

static_assert(kMaxLag == kMaxCorrelationLag);
static_assert(kLagReferences[0] == kCorrelationReferences[0] && kLagReferences[1] == kCorrelationReferences[1]);

namespace {

constexpr int kCells = kCorrelationBins + 2;

LagCounts lag_counts(const MonitorInputs& inputs, int stave, int reference, int axis, int lag) {
  LagCounts counts(kCells);
  if (inputs.lag_differences(stave, reference, axis, lag, counts.data()) != 0) counts.clear();
  return counts;
}

const LagCounts& counts_of(const Reading& reading, int stave, std::size_t reference_index, int axis, int lag) {
  const LagBins& lags = reading.staves[static_cast<std::size_t>(stave)].lags[reference_index];
  return (axis == kColumnAxis ? lags.columns : lags.rows)[static_cast<std::size_t>(lag + kMaxLag)];
}

std::size_t reference_index(int reference) {
  return reference == kLagReferences[0] ? 0 : 1;
}

// The lags in order of preference among equal shares: the same event first.
constexpr int kLagOrder[kLags] = {0, -1, 1, -2, 2};

void find_best_and_median(LagAxis& axis) {
  int order[kLags];
  std::copy(std::begin(kLagOrder), std::end(kLagOrder), order);
  std::stable_sort(order, order + kLags, [&axis](int a, int b) { return axis.share(a) > axis.share(b); });
  axis.best = order[0];
  axis.median = order[kLags / 2];
}

// A `start` of another size than `now` (none was read) counts nothing.
const std::uint32_t* earlier_counts(const LagCounts& now, const LagCounts& start) {
  return start.size() == now.size() ? start.data() : nullptr;
}

}  // namespace

void read_lag_bins(const MonitorInputs& inputs, Reading& reading) {
  for (int s = 0; s < kStaves; ++s)
    for (std::size_t r = 0; r < kLagReferences.size(); ++r) {
      if (s == kLagReferences[r]) continue;
      LagBins& lags = reading.staves[static_cast<std::size_t>(s)].lags[r];
      for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
        const std::size_t at = static_cast<std::size_t>(lag + kMaxLag);
        lags.columns[at] = lag_counts(inputs, s, kLagReferences[r], kColumnAxis, lag);
        lags.rows[at] = lag_counts(inputs, s, kLagReferences[r], kRowAxis, lag);
      }
    }
}

double significance(double a, double a_entries, double b, double b_entries) {
  if (!(a_entries > 0) || !(b_entries > 0)) return 0;
  const double variance = a * (1 - a) / a_entries + b * (1 - b) / b_entries;
  if (!(variance > 0)) return a > b ? std::numeric_limits<double>::infinity() : 0;
  return (a - b) / std::sqrt(variance);
}

bool stands_out(const LagAxis& axis, int lag, double peak_ratio, double min_significance) {
  const double share = axis.share(lag), median = axis.share(axis.median);
  return share > 0 && share >= peak_ratio * median &&
         significance(share, axis.entries_at(lag), median, axis.entries_at(axis.median)) >= min_significance;
}

Bins window_bins(const LagCounts& now, const LagCounts& start) {
  const std::uint32_t* earlier = earlier_counts(now, start);
  Bins bins(now.size());
  for (std::size_t b = 0; b < now.size(); ++b)
    bins[b] = static_cast<std::uint32_t>(now[b] - (earlier ? earlier[b] : 0u));  // modulo 2^32: exact
  return bins;
}

WindowShare window_share(const LagCounts& now, const LagCounts& start, double near) {
  const std::size_t size = now.size();
  if (size < 3) {
    const Bins bins = window_bins(now, start);
    const std::optional<Peak> peak = find_peak(bins, near);
    return {total(bins), peak ? peak->share : 0};
  }
  // Running totals of the window's counts: the sum over any window of bins
  // is the difference of two.
  const std::uint32_t* earlier = earlier_counts(now, start);
  thread_local std::vector<std::int64_t> running;
  running.resize(size);
  std::int64_t sum = 0;
  for (std::size_t b = 0; b < size; ++b)
    running[b] = sum += static_cast<std::uint32_t>(now[b] - (earlier ? earlier[b] : 0u));
  const double entries = static_cast<double>(sum);
  if (!(entries > 0)) return {entries, 0};
  // The window of centre c holds bins max(1, c - half)..min(last, c + half);
  // the most is kept in four lanes, so that no step waits on the one before.
  const int last = static_cast<int>(size) - 2, half = std::min(static_cast<int>(near), last);
  const std::int64_t* total_to = running.data();
  const auto held = [&](int centre) {
    return total_to[std::min(last, centre + half)] - total_to[std::max(1, centre - half) - 1];
  };
  std::int64_t most[4] = {0, 0, 0, 0};
  int centre = 1;
  for (; centre <= half + 1 && centre <= last; ++centre) most[0] = std::max(most[0], held(centre));
  for (; centre + 3 <= last - half; centre += 4)
    for (int lane = 0; lane < 4; ++lane)
      most[lane] = std::max(most[lane], total_to[centre + lane + half] - total_to[centre + lane - half - 1]);
  for (; centre <= last; ++centre) most[0] = std::max(most[0], held(centre));
  return {entries, static_cast<double>(std::max(std::max(most[0], most[1]), std::max(most[2], most[3]))) / entries};
}

LagPair measure_lags(const Context& context, int stave, int reference, const LagSettings& settings) {
  const Reading& now = context.now;
  const double since = settings.masked_only ? masked_since(context.memory.masks, now, stave, reference) : 0;
  const double window = std::min(settings.window_events, now.events - since);
  const Reading& start = context.history.window_start(now, window, Count::Events);
  LagPair pair;
  pair.stave = stave;
  pair.reference = reference;
  pair.window_events = now.events - start.events;
  pair.since_mask = since > 0 && now.events - since < settings.window_events;
  pair.masked_since = since;
  const std::size_t index = reference_index(reference);
  const WindowShare same_event =
      window_share(counts_of(now, stave, index, kColumnAxis, 0), counts_of(start, stave, index, kColumnAxis, 0),
                   settings.near_columns);
  if (same_event.entries < settings.min_entries) {
    pair.axes[kColumnAxis].entries[kMaxLag] = pair.entries = same_event.entries;
    return pair;
  }
  for (int axis = 0; axis < 2; ++axis) {
    LagAxis& lags = pair.axes[static_cast<std::size_t>(axis)];
    const double near = axis == kColumnAxis ? settings.near_columns : settings.near_rows;
    for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
      const LagCounts& counts_now = counts_of(now, stave, index, axis, lag);
      const LagCounts& counts_start = counts_of(start, stave, index, axis, lag);
      const WindowShare share = window_share(counts_now, counts_start, near);
      const std::size_t at = static_cast<std::size_t>(lag + kMaxLag);
      lags.entries[at] = share.entries;
      lags.shares[at] = share.share;
      if (lag == 0 && settings.place_same_event) lags.same_event = find_peak(window_bins(counts_now, counts_start), near);
    }
    find_best_and_median(lags);
    lags.stands_out = stands_out(lags, lags.best, settings.peak_ratio, settings.min_significance);
  }
  pair.entries = pair.axes[0].entries_at(0);
  return pair;
}

const char* axis_name(int axis) { return axis == kColumnAxis ? "column" : "row"; }

}  // namespace kivo::quality
