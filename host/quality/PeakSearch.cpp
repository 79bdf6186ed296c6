// The peak of a difference distribution: the first window of `near` bins
// either side of a centre that holds the most entries, placed at its mean,
// and the span of the means (give or take twice their standard errors) of
// every window holding nearly as many.
//
// Whole-number distributions, the usual ones, are added up in 64-bit
// integers, exactly, which gives the same sums as adding bin by bin in
// order. A sparse one (a refresh's window of recent events often fills a
// few dozen bins) is swept: a window's sums change only where a filled bin
// enters or leaves it, so the centres are taken as stretches that hold the
// same bins, one sum each. A dense one is read from running totals, two
// reads a window. Any other distribution is added up in order, window by
// window.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Checks.h"
#include "WholeSum.h"

namespace kivo::quality {

namespace {

struct Moments {
  double entries = 0, mean = 0, rms = 0;
};

Moments moments_of_sums(double sum, double sum_x, double sum_x2) {
  if (sum <= 0) return {};
  const double mean = sum_x / sum;
  return {sum, mean, std::sqrt(std::max(sum_x2 / sum - mean * mean, 0.0))};
}

// The peak of the windows' moments: `top`'s, widened by every candidate's.
class PeakSpan {
 public:
  PeakSpan(const Moments& top, double entries)
      : peak_{top.mean, top.mean, top.mean, top.entries / entries},
        fewest_(top.entries - 2 * std::sqrt(top.entries)) {}

  // Whether a window with `entries` could be the peak's as well: within two
  // standard deviations of the count.
  bool candidate(double entries) const { return !(entries < fewest_); }

  void widen(const Moments& candidate) {
    const double error = 2 * candidate.rms / std::sqrt(candidate.entries);
    peak_.low = std::min(peak_.low, candidate.mean - error);
    peak_.high = std::max(peak_.high, candidate.mean + error);
  }

  const Peak& peak() const { return peak_; }

 private:
  Peak peak_;
  double fewest_;
};

// --- Any distribution, added up in order.

// The windows of `half` bins either side of the centres 1..last (cut at 1
// and last) of `bins`, whose bin b is centred on b + centre_of_first.
struct Windows {
  const Bins& bins;
  int last, half;
  double centre_of_first;

  int first_bin(int centre) const { return std::max(1, centre - half); }
  int last_bin(int centre) const { return std::min(last, centre + half); }

  double entries(int centre) const {
    double sum = 0;
    for (int b = first_bin(centre); b <= last_bin(centre); ++b) sum += bins[static_cast<std::size_t>(b)];
    return sum <= 0 ? 0 : sum;
  }

  Moments moments(int centre) const {
    double sum = 0, sum_x = 0, sum_x2 = 0;
    for (int b = first_bin(centre); b <= last_bin(centre); ++b) {
      const double w = bins[static_cast<std::size_t>(b)], x = b + centre_of_first;
      sum += w;
      sum_x += w * x;
      sum_x2 += w * x * x;
    }
    return moments_of_sums(sum, sum_x, sum_x2);
  }
};

// The first of centres 1..n-1 with the most entries: the most is found with
// four maxima side by side, so that no step waits on the one before, then
// the first centre that holds it.
int first_with_most(const std::vector<double>& sums) {
  double most[4] = {sums[1], sums[1], sums[1], sums[1]};
  std::size_t b = 1;
  for (; b + 4 <= sums.size(); b += 4)
    for (std::size_t i = 0; i < 4; ++i) most[i] = std::max(most[i], sums[b + i]);
  for (; b < sums.size(); ++b) most[0] = std::max(most[0], sums[b]);
  const double largest = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
  const auto first = std::find(sums.begin() + 1, sums.end(), largest);
  return first == sums.end() ? 1 : static_cast<int>(first - sums.begin());  // none when NaN was the largest
}

// The peak from the entries of every centre's window (`sums`, by centre) and
// `moments_of(centre)`.
template <class MomentsOf>
Peak peak_by_centre(const std::vector<double>& sums, const MomentsOf& moments_of, double entries) {
  PeakSpan span(moments_of(first_with_most(sums)), entries);
  for (std::size_t centre = 1; centre < sums.size(); ++centre)
    if (span.candidate(sums[centre])) span.widen(moments_of(static_cast<int>(centre)));
  return span.peak();
}

Peak peak_in_order(const Windows& windows, double entries) {
  std::vector<double> sums(static_cast<std::size_t>(windows.last + 1), 0.0);
  for (int centre = 1; centre <= windows.last; ++centre) sums[static_cast<std::size_t>(centre)] = windows.entries(centre);
  return peak_by_centre(sums, [&windows](int centre) { return windows.moments(centre); }, entries);
}

// --- Whole-number distributions, swept.

struct Totals {
  std::int64_t w = 0, wx = 0, wx2 = 0;

  std::int64_t whole_entries() const { return w > 0 ? w : 0; }
  double entries() const { return static_cast<double>(whole_entries()); }
  Moments moments() const {
    return moments_of_sums(static_cast<double>(w), static_cast<double>(wx), static_cast<double>(wx2));
  }
};

// A bin that is not empty: where it is, its content w and its centre x.
struct FilledBin {
  int at;
  std::int64_t w, x;
};

// How many of bins 1..last are filled, and whether all sums of w * x * x
// over them are exact in 64-bit integers and doubles: whole contents
// (`whole`), whole centres and magnitudes of all terms adding up to less
// than 2^53. Whole contents of magnitudes below 2^51 in all add up exactly
// in any order, four at a time here.
struct Filling {
  std::size_t filled = 0;
  bool exact = false;
};

Filling filling_of(const Windows& windows, bool whole) {
  const double offset = windows.centre_of_first;
  if (!whole || offset != std::floor(offset)) return {};
  std::size_t filled[4] = {};
  double magnitude[4] = {};
  const double* bins = windows.bins.data() + 1;
  const std::size_t n = static_cast<std::size_t>(windows.last);
  std::size_t b = 0;
  for (; b + 4 <= n; b += 4)
    for (std::size_t i = 0; i < 4; ++i) {
      filled[i] += bins[b + i] != 0;
      magnitude[i] += std::abs(bins[b + i]);
    }
  for (; b < n; ++b) {
    filled[0] += bins[b] != 0;
    magnitude[0] += std::abs(bins[b]);
  }
  const double farthest = std::max({1.0, std::abs(1 + offset), std::abs(windows.last + offset)});
  const double all = (magnitude[0] + magnitude[1]) + (magnitude[2] + magnitude[3]);
  return {filled[0] + filled[1] + filled[2] + filled[3], all * farthest * farthest < 0x1p53};
}

std::vector<FilledBin> filled_bins(const Windows& windows, std::size_t filled) {
  std::vector<FilledBin> found;
  found.reserve(filled);
  const std::int64_t offset = static_cast<std::int64_t>(windows.centre_of_first);
  for (int b = 1; b <= windows.last; ++b)
    if (const double content = windows.bins[static_cast<std::size_t>(b)]; content != 0)
      found.push_back({b, static_cast<std::int64_t>(content), b + offset});
  return found;
}

// The windows' totals by stretches of centres, in order: each from its first
// centre up to the next stretch's.
struct Stretch {
  int first_centre;
  Totals totals;
};

std::vector<Stretch> stretches(const Windows& windows, const std::vector<FilledBin>& filled) {
  std::vector<Stretch> found;
  found.reserve(2 * filled.size() + 1);
  Totals window;
  const auto add = [&window](const FilledBin& bin, std::int64_t sign) {
    window.w += sign * bin.w;
    window.wx += sign * bin.w * bin.x;
    window.wx2 += sign * bin.w * bin.x * bin.x;
  };
  const int half = windows.half;
  std::size_t entering = 0, leaving = 0;  // the next bins to enter and to leave
  for (int centre = 1; centre <= windows.last;) {
    for (; entering < filled.size() && filled[entering].at - half <= centre; ++entering) add(filled[entering], 1);
    for (; leaving < entering && filled[leaving].at + half < centre; ++leaving) add(filled[leaving], -1);
    found.push_back({centre, window});
    int next = windows.last + 1;
    if (entering < filled.size()) next = std::min(next, filled[entering].at - half);
    if (leaving < entering) next = std::min(next, filled[leaving].at + half + 1);
    centre = next;
  }
  return found;
}

Peak peak_swept(const std::vector<Stretch>& stretches, double entries) {
  // The most is carried in a local, so that no step waits on reading it back.
  const Stretch* best = &stretches.front();
  std::int64_t most = best->totals.whole_entries();
  for (const Stretch& stretch : stretches) {
    const std::int64_t held = stretch.totals.whole_entries();
    if (held > most) most = held, best = &stretch;
  }
  PeakSpan span(best->totals.moments(), entries);
  for (const Stretch& stretch : stretches)
    if (span.candidate(stretch.totals.entries())) span.widen(stretch.totals.moments());
  return span.peak();
}

// --- Whole-number distributions with most bins filled, by running totals.

// Running totals of w, w * x and w * x * x over bins 1..b at index b, from
// which every window's sums are two reads: quicker than the sweep when most
// bins are filled.
class RunningTotals {
 public:
  explicit RunningTotals(const Windows& windows) : windows_(windows) {
    const std::size_t size = static_cast<std::size_t>(windows.last + 1);
    const std::int64_t offset = static_cast<std::int64_t>(windows.centre_of_first);
    w_.assign(size, 0), wx_.assign(size, 0), wx2_.assign(size, 0);
    // Carried in locals, so that no step waits on reading back the last.
    std::int64_t w_total = 0, wx_total = 0, wx2_total = 0;
    for (std::size_t b = 1; b < size; ++b) {
      const std::int64_t w = static_cast<std::int64_t>(windows.bins[b]), x = static_cast<std::int64_t>(b) + offset;
      w_[b] = w_total += w;
      wx_[b] = wx_total += w * x;
      wx2_[b] = wx2_total += w * x * x;
    }
  }

  // The entries of every centre's window, by centre: those cut at the
  // start, those whole, read without cutting, and those cut at the end.
  std::vector<double> entries_by_centre() const {
    const int last = windows_.last, half = windows_.half;
    std::vector<double> sums(static_cast<std::size_t>(last + 1), 0.0);
    const auto put = [&sums](int centre, std::int64_t sum) {
      sums[static_cast<std::size_t>(centre)] = sum <= 0 ? 0 : static_cast<double>(sum);
    };
    const auto cut = [&](int centre) { put(centre, difference(w_, centre)); };
    const std::int64_t* w = w_.data();
    for (int centre = 1; centre <= std::min(last, half); ++centre) cut(centre);
    for (int centre = half + 1; centre <= last - half; ++centre) put(centre, w[centre + half] - w[centre - half - 1]);
    for (int centre = std::max(half + 1, last - half + 1); centre <= last; ++centre) cut(centre);
    return sums;
  }

  Moments moments(int centre) const {
    return moments_of_sums(static_cast<double>(difference(w_, centre)), static_cast<double>(difference(wx_, centre)),
                           static_cast<double>(difference(wx2_, centre)));
  }

 private:
  std::int64_t difference(const std::vector<std::int64_t>& running, int centre) const {
    return running[static_cast<std::size_t>(windows_.last_bin(centre))] -
           running[static_cast<std::size_t>(windows_.first_bin(centre) - 1)];
  }

  const Windows& windows_;
  std::vector<std::int64_t> w_, wx_, wx2_;
};

}  // namespace

std::optional<Peak> find_peak(const Bins& bins, double near) {
  if (bins.size() < 3) return std::nullopt;
  const std::optional<double> whole = rootcompat::WholeSum(bins.data(), bins.size());
  const double entries = whole ? *whole : total(bins);
  if (!(entries > 0)) return std::nullopt;
  const int last = static_cast<int>(bins.size()) - 2;
  // Bin b is centred on b - (last + 1) / 2: bin 1 on -511, bin 1023 on +511.
  const Windows windows{bins, last, static_cast<int>(near), -(last - 1) / 2.0 - 1};
  const Filling filling = filling_of(windows, whole.has_value());
  if (!filling.exact) return peak_in_order(windows, entries);
  if (filling.filled * 4 <= static_cast<std::size_t>(last))
    return peak_swept(stretches(windows, filled_bins(windows, filling.filled)), entries);
  const RunningTotals totals(windows);
  return peak_by_centre(totals.entries_by_centre(), [&totals](int centre) { return totals.moments(centre); }, entries);
}

}  // namespace kivo::quality
