// Hot pixels: pixels that fire in more than a configured share of the recent
// events and far more often than their neighbours. The beam spot lights up
// its neighbourhood evenly, so however long the run, it never counts; a noisy
// pixel stands alone, and a block of noisy pixels stands out from the ring of
// pixels around it.
//
// Each reading lists the pixels that stand out with more than half the hits
// a hot pixel would have in the window, so that a pixel that starts to fire
// late is known before it is judged; whether it fires now is judged from the
// hits it gained since the oldest reading in the window that listed it.
#include <algorithm>
#include <unordered_map>

#include "Checks.h"
#include "TH2F.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "hot_pixels";
// Hot pixels stored at the first ask; more are fetched with a second.
constexpr int kExpectedHotPixels = 256;
// A block larger than this is a region of the map, not a block of pixels:
// the occupancy check judges those.
constexpr std::size_t kMaxBlockPixels = 4096;

struct Cell {
  int x, y;  // ROOT bins
};

// The contents of a map read from its array, as GetBinContent returns them:
// the flood fills below read eight neighbours of every cell they reach.
class MapCells {
 public:
  explicit MapCells(const TH2F& map) : contents_(map.GetArray()), nx_(map.GetNbinsX()), ny_(map.GetNbinsY()) {}
  bool in_range(Cell c) const { return c.x >= 1 && c.x <= nx_ && c.y >= 1 && c.y <= ny_; }
  double content(Cell c) const { return content(index(c)); }
  double content(long index) const { return contents_[index]; }
  long index(Cell c) const { return static_cast<long>(c.y) * (nx_ + 2) + c.x; }
  long size() const { return static_cast<long>(nx_ + 2) * (ny_ + 2); }
  // Asks for the rows of `c` and of its neighbours ahead of their reads.
  void prefetch_around(Cell c) const {
    const long at = index(c), stride = nx_ + 2;
    for (const long row : {at - stride, at, at + stride}) {
      __builtin_prefetch(contents_ + row - 1);
      __builtin_prefetch(contents_ + row + 1);
    }
  }

 private:
  const float* contents_;
  int nx_, ny_;
};

template <class Visit>
void for_each_neighbour(const MapCells& cells, Cell c, Visit&& visit) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const Cell n{c.x + dx, c.y + dy};
      if ((dx != 0 || dy != 0) && cells.in_range(n)) visit(n);
    }
}

// Marks on the cells of a map. The few cells of a small component are
// looked up in the list of those marked; past kListed, every mark is a bit
// too, in storage kept between uses and cleared of what each use marked (a
// few thousand cells at most), so the flood fill of a block marks cells
// without allocating. Most components are one noisy pixel: a bit each would
// cost a read of a cold line of the 600 kB of bits per neighbour. One at a
// time per thread.
class CellMarks {
 public:
  explicit CellMarks(const MapCells& cells) : bits_(marks_for(cells.size())) {}
  ~CellMarks() {
    if (!in_bits()) return;
    for (const long i : marked_) bits_[static_cast<std::size_t>(i)] = false;
  }
  CellMarks(const CellMarks&) = delete;
  CellMarks& operator=(const CellMarks&) = delete;

  bool marked(long i) const {
    if (in_bits()) return bits_[static_cast<std::size_t>(i)];
    return std::find(marked_.begin(), marked_.end(), i) != marked_.end();
  }
  const std::vector<long>& marked_cells() const { return marked_; }
  // False when `i` was marked already.
  bool mark(long i) {
    if (marked(i)) return false;
    marked_.push_back(i);
    if (marked_.size() == kListed + 1)
      for (const long m : marked_) bits_[static_cast<std::size_t>(m)] = true;
    else if (in_bits())
      bits_[static_cast<std::size_t>(i)] = true;
    return true;
  }

 private:
  static constexpr std::size_t kListed = 32;
  bool in_bits() const { return marked_.size() > kListed; }

  static std::vector<bool>& marks_for(long size) {
    thread_local std::vector<bool> bits;
    if (bits.size() < static_cast<std::size_t>(size)) bits.assign(static_cast<std::size_t>(size), false);
    return bits;
  }
  std::vector<bool>& bits_;
  std::vector<long> marked_;
};

// The cells connected to `seed` (side or corner) with more than `threshold`
// hits, marked in `members`; empty when there are more than kMaxBlockPixels.
std::vector<Cell> component(const MapCells& cells, Cell seed, double threshold, CellMarks& members) {
  std::vector<Cell> found{seed};
  members.mark(cells.index(seed));
  for (std::size_t next = 0; next < found.size() && found.size() <= kMaxBlockPixels; ++next)
    for_each_neighbour(cells, found[next], [&](Cell n) {
      if (cells.content(n) > threshold && members.mark(cells.index(n))) found.push_back(n);
    });
  if (found.size() > kMaxBlockPixels) found.clear();
  return found;
}

// Whether every cell of `block` has more than `ratio` times the lower median
// of the cells around the block, whose cells `members` marks.
bool stands_out(const MapCells& cells, const std::vector<Cell>& block, const CellMarks& members, double ratio) {
  std::vector<long> around;
  for (const Cell& c : block)
    for_each_neighbour(cells, c, [&](Cell n) {
      if (!members.marked(cells.index(n))) around.push_back(cells.index(n));
    });
  std::sort(around.begin(), around.end());
  around.erase(std::unique(around.begin(), around.end()), around.end());
  if (around.empty()) return false;
  std::vector<double> ring;
  for (const long i : around) ring.push_back(cells.content(i));
  const auto middle = ring.begin() + static_cast<long>((ring.size() - 1) / 2);
  std::nth_element(ring.begin(), middle, ring.end());
  const double least = cells.content(*std::min_element(block.begin(), block.end(), [&](Cell a, Cell b) {
    return cells.content(a) < cells.content(b);
  }));
  return least > ratio * *middle;
}

// The hot cells found one by one miss the inside of a block of hot pixels,
// whose neighbours are hot too; each block grows from the cells on its edge.
std::vector<Cell> with_blocks(const MapCells& cells, const std::vector<Cell>& hot, double threshold, double ratio,
                              std::vector<bool>& in_block) {
  std::vector<Cell> all = hot;
  in_block.assign(all.size(), false);
  std::unordered_map<long, std::size_t> listed;
  for (std::size_t i = 0; i < hot.size(); ++i) listed.emplace(cells.index(hot[i]), i);
  std::vector<bool> reached(hot.size(), false);  // by the component of an earlier seed
  // The hot cells lie far apart in a map of 18 MB, long out of the cache:
  // the neighbourhoods of the next few are asked for while one is filled.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < std::min(kAhead, hot.size()); ++i) cells.prefetch_around(hot[i]);
  for (std::size_t i = 0; i < hot.size(); ++i) {
    if (i + kAhead < hot.size()) cells.prefetch_around(hot[i + kAhead]);
    if (reached[i]) continue;
    CellMarks members(cells);
    const std::vector<Cell> block = component(cells, hot[i], threshold, members);
    for (const long cell : members.marked_cells())
      if (const auto at = listed.find(cell); at != listed.end() && at->second < hot.size()) reached[at->second] = true;
    if (block.size() < 2 || !stands_out(cells, block, members, ratio)) continue;
    for (const Cell& c : block) {
      const auto [at, added] = listed.emplace(cells.index(c), all.size());
      if (added) {
        all.push_back(c);
        in_block.push_back(true);
      } else {
        in_block[at->second] = true;
      }
    }
  }
  return all;
}

std::vector<Cell> kernel_hot_cells(const MonitorInputs& inputs, int stave, double threshold, double ratio,
                                   long& above) {
  std::vector<int> xbins(kExpectedHotPixels), ybins(kExpectedHotPixels);
  int candidates = 0;
  int found = inputs.hot_cells(stave, threshold, ratio, xbins.data(), ybins.data(), kExpectedHotPixels, &candidates);
  if (found > kExpectedHotPixels) {
    xbins.resize(static_cast<std::size_t>(found));
    ybins.resize(static_cast<std::size_t>(found));
    found = inputs.hot_cells(stave, threshold, ratio, xbins.data(), ybins.data(), found, &candidates);
  }
  above = candidates;
  std::vector<Cell> cells;
  for (int i = 0; i < std::min(found, static_cast<int>(xbins.size())); ++i) cells.push_back({xbins[i], ybins[i]});
  return cells;
}

// Where the hits of `pixel` are counted from: the oldest reading of the
// window that listed it (the reset point lists every pixel, with no hits),
// else the reading before `now`, where it had at most that reading's
// threshold.
struct Base {
  double hits, events, busy;  // busy: the stave's busy events
};

std::optional<Base> base_of(const History& history, const Reading& start, const Reading& now, int stave,
                            const HotPixel& pixel) {
  const Reading* previous = nullptr;
  const std::size_t index = static_cast<std::size_t>(stave);
  for (const Reading* reading : history.readings_from(start)) {
    if (reading == &now) break;
    const double busy = reading->staves[index].busy.events;
    if (reading == history.reset_point()) return Base{0, reading->events, busy};
    if (const HotPixel* then = reading->staves[index].hot.find(pixel.column, pixel.row))
      return Base{then->hits, reading->events, busy};
    previous = reading;
  }
  if (!previous) return std::nullopt;
  return Base{previous->staves[index].hot.threshold, previous->events, previous->staves[index].busy.events};
}

std::string hottest(const HotPixels& hot, double events_share_base) {
  const HotPixel* hottest = nullptr;
  for (const HotPixel& pixel : hot.pixels)
    if (pixel.firing && (!hottest || pixel.hits > hottest->hits)) hottest = &pixel;
  if (!hottest) return "";
  return format("; the hottest, column %d row %d, has %.0f hits (%.0f%% of the events since the last reset)",
                hottest->column, hottest->row, hottest->hits, 100 * hottest->hits / events_share_base);
}

// "; 30 of them in blocks (columns 2150 to 2154, rows 100 to 105)"
std::string blocks(const HotPixels& hot) {
  long count = 0;
  int low_column = kStaveColumns, high_column = -1, low_row = kStaveRows, high_row = -1;
  for (const HotPixel& p : hot.pixels) {
    if (!p.firing || !p.in_block) continue;
    ++count;
    low_column = std::min(low_column, p.column);
    high_column = std::max(high_column, p.column);
    low_row = std::min(low_row, p.row);
    high_row = std::max(high_row, p.row);
  }
  if (count == 0) return "";
  return format("; %ld of them in blocks of pixels that stand out together (columns %d to %d, rows %d to %d)", count,
                low_column, high_column, low_row, high_row);
}

}  // namespace

double listing_threshold(const HotPixelConfig& config, double events) {
  return std::max(config.min_hits - 1, config.event_share * std::min(events, config.window_events) / 2);
}

HotPixels find_hot_pixels(const MonitorInputs& inputs, int stave, double events, const HotPixelConfig& config) {
  HotPixels hot;
  if (!(events > 0)) return hot;
  hot.threshold = listing_threshold(config, events);
  const std::vector<Cell> found = kernel_hot_cells(inputs, stave, hot.threshold, config.neighbour_ratio, hot.candidates);
  const MapCells cells(*inputs.maps[stave]);
  std::vector<bool> in_block;
  const std::vector<Cell> listed = with_blocks(cells, found, hot.threshold, config.neighbour_ratio, in_block);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const double hits = cells.content(listed[i]);
    hot.pixels.push_back({listed[i].x - 1, listed[i].y - 1, hits, in_block[i], false});
    hot.hits += hits;
  }
  std::sort(hot.pixels.begin(), hot.pixels.end(), [](const HotPixel& a, const HotPixel& b) {
    return std::pair{a.row, a.column} < std::pair{b.row, b.column};
  });
  return hot;
}

// A pixel fires when it gained more than the share of the events since its
// base, and still fires: it gained hits since the reading `min_events` back
// (a pixel that stopped is no longer counted once that much has passed).
// Busy events are left out: each may have given the pixel one hit.
void mark_firing(Reading& now, const History& history, const HotPixelConfig& config) {
  const Reading& start = history.window_start(now, config.window_events, Count::Events);
  const Reading& lately = history.window_start(now, config.min_events, Count::Events);
  for (int s = 0; s < kStaves; ++s)
    for (HotPixel& pixel : now.staves[static_cast<std::size_t>(s)].hot.pixels) {
      const std::optional<Base> base = base_of(history, start, now, s, pixel);
      if (!base || !(now.events > base->events)) continue;
      const double busy = now.staves[static_cast<std::size_t>(s)].busy.events - base->busy;
      const double hits = pixel.hits - base->hits - busy;
      const HotPixel* before = lately.staves[static_cast<std::size_t>(s)].hot.find(pixel.column, pixel.row);
      const bool still = !before || pixel.hits > before->hits;
      pixel.firing =
          still && hits >= config.min_hits && hits > config.event_share * (now.events - base->events - busy);
    }
}

std::vector<Result> judge_hot_pixels(const Context& context) {
  const HotPixelConfig& config = context.config.hot_pixels;
  const double events = context.now.events;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    const HotPixels& hot = context.now.staves[static_cast<std::size_t>(s)].hot;
    Result result{kCheck, s, kNone, Verdict::Null, "", 0};
    if (events < config.min_events) {
      result.reason = format("stave %d: %.0f events so far, %.0f needed", s, events, config.min_events);
    } else {
      const double count = static_cast<double>(hot.firing());
      result.verdict = judge_limit_held(count, config.medium_count - 1, config.bad_count - 1, false,
                                        context.memory.holds.last(kCheck, s));
      context.memory.holds.keep(kCheck, s, kNone, 0, result.verdict);
      result.severity = count;
      result.reason = format("stave %d: %.0f hot pixels (firing in more than %g%% of the recent events and over %g "
                             "times as often as the pixels around them)",
                             s, count, 100 * config.event_share, config.neighbour_ratio) +
                      blocks(hot) + hottest(hot, events);
    }
    results.push_back(result);
  }
  return results;
}

}  // namespace kivo::quality
