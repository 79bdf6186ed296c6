#include "recent_maps.h"

#include <algorithm>
#include <vector>

#include "hit_maps.h"
#include "monitor_plugin.h"
#include "monitor_state.h"

namespace {

struct RecentWindows {
  int length = 0;    // events per window; 0: off
  long events = 0;   // with the packet, since the last reset
  long started = -1;  // events when `at_start` was taken; -1: not yet
  std::vector<double> at_start[NSTAVE];  // block sums of each stave then
  std::vector<float> blocks[NSTAVE];     // hits per block in the last window
  KivoRecentWindow last{};               // serial 0: no window yet
};

RecentWindows recent;
long windows_taken = 0;

void start_from_empty_maps() {
  for (auto& sums : recent.at_start) sums.assign(kOverviewBlocks, 0.0);
  recent.started = 0;
}

void take_start() {
  catch_up_summaries();
  for (int s = 0; s < NSTAVE; s++) recent.at_start[s] = raw_summary(s).block_sums;
  recent.started = recent.events;
}

// A content lowered other than by a fill (a bin set by hand) leaves no
// negative count behind.
void end_window() {
  catch_up_summaries();
  for (int s = 0; s < NSTAVE; s++) {
    const std::vector<double>& sums = raw_summary(s).block_sums;
    std::vector<double>& start = recent.at_start[s];
    std::vector<float>& blocks = recent.blocks[s];
    blocks.resize(sums.size());
    for (std::size_t b = 0; b < sums.size(); b++) blocks[b] = static_cast<float>(std::max(0.0, sums[b] - start[b]));
    start = sums;
  }
  recent.last = {++windows_taken, recent.started + 1, recent.events, recent.length};
  recent.started = recent.events;
}

bool window_taken() { return recent.length > 0 && recent.last.serial > 0; }

}  // namespace

void count_recent_event() {
  ++recent.events;
  if (recent.length <= 0 || recent.events % recent.length != 0) return;
  if (recent.started == recent.events - recent.length)
    end_window();
  else
    take_start();
}

void restart_recent_windows() {
  recent.events = 0;
  recent.last = {};
  if (recent.length > 0)
    start_from_empty_maps();
  else
    recent.started = -1;
}

int kivo_set_recent_window(int events) {
  if (events < 0) return -1;
  recent.length = events;
  recent.last = {};
  recent.started = -1;
  if (events > 0 && recent.events == 0) start_from_empty_maps();
  return 0;
}

int kivo_recent_window(KivoRecentWindow* window) {
  *window = recent.last;
  window->events = recent.length;
  return window_taken() ? 0 : -1;
}

int kivo_recent_blocks(int stave, float* out) {
  if (stave < 0 || stave >= NSTAVE || !window_taken()) return -1;
  std::copy(recent.blocks[stave].begin(), recent.blocks[stave].end(), out);
  return 0;
}
