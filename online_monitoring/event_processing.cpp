// Event processing: decodes the detector packet of each data event into stave
// hits, fills the raw histograms, keeps the event counter and asks the display
// for its periodic refresh.
#include <algorithm>
#include <iostream>

#include "TH1F.h"
#include "TH2F.h"
#include "eventio/Event.h"
#include "eventio/monitor_plugin.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

constexpr int kBeginRunEvent = 9;
constexpr int kDataEvent = 1;
constexpr int kDetectorPacket = 2000;
constexpr int kReferenceStave = 3;
constexpr int kProgressInterval = 100000;

// Per-event sums of one stave: hit count, then sums (later means) of the raw
// chip row and of the stave-wide column.
struct StaveSums {
  int npixels[NSTAVE] = {};
  double mrow[NSTAVE] = {};
  double mcol[NSTAVE] = {};
};

// Hit-map increments gathered before they are applied, so that the cells of
// many hits are fetched from memory at once: the cell of each queued hit, and
// per stave the entries the queued hits add and the map's statistics sums
// carried forward hit by hit (taken from the map at the stave's first
// in-range hit), so that every sum is rounded exactly as one Fill per hit
// would round it.
struct PendingFills {
  static constexpr int kCapacity = 1024;
  float* cells[kCapacity];
  int count = 0;
  double entries[NSTAVE] = {};
  bool summing[NSTAVE] = {};
  double stats[NSTAVE][TH1::kNstat] = {};  // sum w, w^2, wx, wx^2, wy, wy^2, wxy
};

// The channel map over the readout units and channels that packets are read
// for, as a table: (stave, chip) of each mapped channel, (-1, -1) elsewhere.
// Built from chipmap on first use, so every channel is looked up once.
struct ChannelTable {
  static constexpr int kUnits = 5;
  static constexpr int kChannels = 29;
  chiplocation location[kUnits][kChannels];
};

const ChannelTable& channel_table() {
  static const ChannelTable table = [] {
    ChannelTable t;
    for (int ruid = 0; ruid < ChannelTable::kUnits; ruid++)
      for (int ruchn = 0; ruchn < ChannelTable::kChannels; ruchn++) {
        auto entry = chipmap.find(chipkey(ruid, ruchn));
        t.location[ruid][ruchn] = entry == chipmap.end() ? chiplocation(-1, -1) : entry->second;
      }
    return t;
  }();
  return table;
}

bool stave_counts(const StaveSums& sums, int s) {
  return sums.npixels[s] > 0 && sums.npixels[s] < max_npixels;
}

// The sums of stave s's map that the queued hits add to; the map's own sums
// are fetched at the first in-range hit of a batch, before any of its cells
// is applied.
double* stave_sums(PendingFills& pending, int s) {
  if (!pending.summing[s]) {
    h2d_chip[s]->GetStats(pending.stats[s]);
    pending.summing[s] = true;
  }
  return pending.stats[s];
}

void apply_fill_statistics(PendingFills& pending) {
  for (int s = 0; s < NSTAVE; s++) {
    if (pending.entries[s] == 0) continue;
    TH2F* map = h2d_chip[s];
    if (pending.summing[s]) map->PutStats(pending.stats[s]);
    map->SetEntries(map->GetEntries() + pending.entries[s]);
    pending.entries[s] = 0;
    pending.summing[s] = false;
  }
}

void apply_fills(PendingFills& pending) {
  apply_fill_statistics(pending);
  for (int i = 0; i < pending.count; i++) *pending.cells[i] += 1;
  pending.count = 0;
}

// Queues `n` hits of one channel (chip `ichip` of stave `istave`), with their
// decoded chip rows and columns. The hit maps have one bin per pixel: column c
// falls in x bin c + 1, displayed row r in y bin r + 1. A column beyond its
// chip goes to the overflow, never onto a pixel of the next chip, and a row
// beyond the chip (a negative displayed row) to the underflow; chip columns
// and rows are never negative.
void queue_hits(PendingFills& pending, int istave, int ichip, const int* irow, const int* icol,
                int n) {
  constexpr int kChipColumns = 1024;
  if (pending.count + n > PendingFills::kCapacity) apply_fills(pending);
  TH2F* map = h2d_chip[istave];
  const int nx = map->GetNbinsX();
  float* cells = map->GetArray();
  for (int i = 0; i < n; i++) {
    const int x = ichip * kChipColumns + icol[i];
    const int y = 511 - irow[i];
    const bool x_in_range = icol[i] < kChipColumns;
    const bool y_in_range = y >= 0;
    const int binx = x_in_range ? x + 1 : nx + 1;
    const int biny = y_in_range ? y + 1 : 0;
    float* cell = cells + biny * (nx + 2) + binx;
    __builtin_prefetch(cell, 1);
    pending.cells[pending.count++] = cell;
    if (x_in_range && y_in_range) {
      double* stats = stave_sums(pending, istave);
      stats[0] += 1;
      stats[1] += 1;
      stats[2] += x;
      stats[3] += double(x) * x;
      stats[4] += y;
      stats[5] += double(y) * y;
      stats[6] += double(x) * y;
    }
  }
  pending.entries[istave] += n;
}

void report_invalid_hits(int ruid, int ruchn, int nhits) {
  for (int i = 0; i < nhits; i++)
    std::cout << "invalid: (ruid " << ruid << ", ruchn " << ruchn << ") " << std::endl;
}

// The channel is looked up once and its `nhits` hits then decoded in runs of
// up to one queue's worth; every hit word is read, decoded and filled as a
// per-hit lookup would.
void fill_channel(Packet* p, int ruid, int ruchn, int nhits, const chiplocation& location,
                  StaveSums& sums, PendingFills& pending) {
  if (location.first < 0) {
    report_invalid_hits(ruid, ruchn, nhits);
    return;
  }
  const int istave = location.first;
  const int ichip = location.second;
  int irow[PendingFills::kCapacity], icol[PendingFills::kCapacity];
  double rowsum = 0, colsum = 0;
  for (int first = 0; first < nhits; first += PendingFills::kCapacity) {
    const int n = std::min(nhits - first, PendingFills::kCapacity);
    for (int i = 0; i < n; i++) {
      const int hit = p->iValue(ruid, ruchn, first + i);
      irow[i] = decode_row(hit) & 0xffff;
      icol[i] = decode_col(hit) & 0xffff;
      rowsum += irow[i];
      colsum += ichip * 1024 + icol[i];
    }
    queue_hits(pending, istave, ichip, irow, icol, n);
  }
  sums.npixels[istave] += nhits;
  sums.mrow[istave] += rowsum;
  sums.mcol[istave] += colsum;
}

void fill_packet_hits(Packet* p, StaveSums& sums) {
  const ChannelTable& channels = channel_table();
  PendingFills pending;
  for (int ruid = 0; ruid < ChannelTable::kUnits; ruid++) {
    if (p->iValue(ruid) == -1) continue;
    for (int ruchn = 0; ruchn < ChannelTable::kChannels; ruchn++) {
      const int nhits = p->iValue(ruid, ruchn);
      if (nhits > 0)
        fill_channel(p, ruid, ruchn, nhits, channels.location[ruid][ruchn], sums, pending);
    }
  }
  apply_fills(pending);
}

void fill_stave_summaries(StaveSums& sums) {
  for (int s = 0; s < NSTAVE; s++) {
    if (!stave_counts(sums, s)) continue;
    sums.mrow[s] /= sums.npixels[s];
    sums.mcol[s] /= sums.npixels[s];
    hchip->Fill(s, sums.npixels[s]);
    hhittime_chip[s]->Fill(kivo_evnts, sums.npixels[s]);
    hnhit_chip[s]->Fill(sums.npixels[s]);
    if (kivo_verbose > 2)
      std::cout << "    chip:" << s << " npixels:" << sums.npixels[s] << " mean:("
                << sums.mcol[s] << ", " << sums.mrow[s] << ")" << std::endl;
  }
}

void fill_differences(const StaveSums& sums) {
  if (!stave_counts(sums, kReferenceStave)) return;
  const double mrow_refstave = sums.mrow[kReferenceStave];
  const double mcol_refstave = sums.mcol[kReferenceStave];
  for (int s = 0; s < NSTAVE; s++) {
    if (!stave_counts(sums, s)) continue;
    hdiffrow_chip[s]->Fill(sums.mrow[s] - mrow_refstave);
    hdiffcol_chip[s]->Fill(sums.mcol[s] - mcol_refstave);
  }
}

void process_packet(Packet* p) {
  StaveSums sums;
  fill_packet_hits(p, sums);
  fill_stave_summaries(sums);
  fill_differences(sums);
  hnevnt->Fill(0);
}

void begin_run(Event* e) {
  kivo_run = e->getRunNumber();
  kivo_evnts = 0;
  reset_histos();
  OM();
}

void end_data_event() {
  if (kivo_refresh > 0 && kivo_evnts % kivo_refresh == 0) OM();
  if (kivo_evnts % kProgressInterval == 0)
    std::cout << " processing event " << kivo_evnts << std::endl;
  kivo_evnts++;
}

}  // namespace

int process_event(Event* e) {
  if (!histos_booked("process_event")) return -1;
  if (!e) {
    std::cout << "process_event: no event given" << std::endl;
    return -1;
  }
  const int type = e->getEvtType();
  if (type == kBeginRunEvent) {
    begin_run(e);
    return 0;
  }
  if (type != kDataEvent) return 0;
  if (Packet* p = e->getPacket(kDetectorPacket)) {
    process_packet(p);
    delete p;
  }
  end_data_event();
  return 0;
}
