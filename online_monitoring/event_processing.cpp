// Event processing: decodes the detector packet of each data event into stave
// hits, fills the raw histograms, keeps the event counter and asks the display
// for its periodic refresh.
#include <algorithm>
#include <iostream>

#include "TH1F.h"
#include "TH2F.h"
#include "Event.h"
#include "busy_events.h"
#include "correlation.h"
#include "hit_maps.h"
#include "hit_sink.h"
#include "kivo.h"
#include "monitor_state.h"
#include "recent_maps.h"

namespace {

constexpr int kBeginRunEvent = 9;
constexpr int kDataEvent = 1;
constexpr int kDetectorPacket = 2000;
constexpr int kReferenceStave = 3;
constexpr int kProgressInterval = 100000;

// Per-event sums of each stave: hit count, and sums of the raw chip row and
// of the stave-wide column of its hits; the same of the hits its correlation
// mask leaves out.
struct StaveSums {
  int npixels[NSTAVE] = {};
  double row_sum[NSTAVE] = {};
  double col_sum[NSTAVE] = {};
  MaskedHits masked;
};

// Per-event means of each stave that enters the event's summaries: raw chip
// row and stave-wide column.
struct StaveMeans {
  double row[NSTAVE] = {};
  double col[NSTAVE] = {};
};

// The channel map over the readout units and channels that packets are read
// for, as a table: (stave, chip) of each mapped channel, (-1, -1) elsewhere,
// and the mapped channels of each unit. Built from chipmap on first use, so
// every channel is looked up once.
struct ChannelTable {
  static constexpr int kUnits = 5;
  static constexpr int kChannels = 29;
  chiplocation location[kUnits][kChannels];
  int mapped[kUnits][kChannels];
  int mapped_count[kUnits] = {};
};

const ChannelTable& channel_table() {
  static const ChannelTable table = [] {
    ChannelTable t;
    for (int ruid = 0; ruid < ChannelTable::kUnits; ruid++)
      for (int ruchn = 0; ruchn < ChannelTable::kChannels; ruchn++) {
        auto entry = chipmap.find(chipkey(ruid, ruchn));
        t.location[ruid][ruchn] = entry == chipmap.end() ? chiplocation(-1, -1) : entry->second;
        if (entry != chipmap.end()) t.mapped[ruid][t.mapped_count[ruid]++] = ruchn;
      }
    return t;
  }();
  return table;
}

// A stave enters an event's summaries when it has hits, fewer than max_npixels.
bool enters_summaries(const StaveSums& sums, int s) {
  return sums.npixels[s] > 0 && sums.npixels[s] < max_npixels;
}

void report_invalid_hits(int ruid, int ruchn, int nhits) {
  for (int i = 0; i < nhits; i++)
    std::cout << "invalid: (ruid " << ruid << ", ruchn " << ruchn << ") " << std::endl;
}

// The channels of the channel table that hold hits in one packet, in the
// order of their units and channels, with their hit counts.
struct ChannelCounts {
  struct Channel {
    int ruid, ruchn, hits;
  };
  Channel channels[ChannelTable::kUnits * ChannelTable::kChannels];
  int count = 0;
};

// Lists the channels of the packet's units that hold hits into `counts` and
// adds those of mapped channels to their staves' counts. A unit is asked for
// its mapped channels first; only when it holds more channels than those
// with hits (an unmapped one, or one without hits) is it asked for all.
void count_channel_hits(Packet* p, const ChannelTable& channels, ChannelCounts& counts, StaveSums& sums) {
  for (int ruid = 0; ruid < ChannelTable::kUnits; ruid++) {
    const int present = p->iValue(ruid);
    if (present == -1) continue;
    const int first = counts.count;
    for (int m = 0; m < channels.mapped_count[ruid]; m++) {
      const int ruchn = channels.mapped[ruid][m];
      const int nhits = p->iValue(ruid, ruchn);
      if (nhits > 0) counts.channels[counts.count++] = {ruid, ruchn, nhits};
    }
    if (counts.count - first != present) {
      counts.count = first;
      for (int ruchn = 0; ruchn < ChannelTable::kChannels; ruchn++) {
        const int nhits = p->iValue(ruid, ruchn);
        if (nhits > 0) counts.channels[counts.count++] = {ruid, ruchn, nhits};
      }
    }
    for (int c = first; c < counts.count; c++) {
      const int stave = channels.location[ruid][counts.channels[c].ruchn].first;
      if (stave >= 0) sums.npixels[stave] += counts.channels[c].hits;
    }
  }
}

// The channel is looked up once and its `nhits` hits then decoded in runs of
// up to one queue's worth; every hit word is read, decoded and filled as a
// per-hit lookup would. The hits of a busy stave are counted beside the map.
void fill_channel(Packet* p, int ruid, int ruchn, int nhits, const chiplocation& location, bool busy,
                  StaveSums& sums, PendingFills& pending) {
  if (location.first < 0) {
    report_invalid_hits(ruid, ruchn, nhits);
    return;
  }
  const int istave = location.first;
  const int ichip = location.second;
  int irow[PendingFills::kCapacity], icol[PendingFills::kCapacity];
  double row_sum = 0, col_sum = 0;
  const bool masking = correlation_masks[istave].holds_chip(ichip);
  const bool sinking = hit_sink_buffer.gathering;
  for (int first = 0; first < nhits; first += PendingFills::kCapacity) {
    const int n = std::min(nhits - first, PendingFills::kCapacity);
    for (int i = 0; i < n; i++) {
      const int hit = p->iValue(ruid, ruchn, first + i);
      irow[i] = decode_row(hit) & 0xffff;
      icol[i] = decode_col(hit) & 0xffff;
      row_sum += irow[i];
      col_sum += ichip * 1024 + icol[i];
    }
    if (masking) count_masked_hits(istave, ichip, irow, icol, n, sums.masked);
    if (busy) count_busy_hits(istave, ichip, irow, icol, n);
    if (sinking) gather_sink_hits(istave, ichip, irow, icol, n);
    queue_hits(pending, istave, ichip, irow, icol, n);
  }
  sums.row_sum[istave] += row_sum;
  sums.col_sum[istave] += col_sum;
}

void fill_packet_hits(Packet* p, StaveSums& sums) {
  const ChannelTable& channels = channel_table();
  ChannelCounts counts;
  count_channel_hits(p, channels, counts, sums);
  bool busy[NSTAVE];
  classify_event(sums.npixels, busy);
  FillTarget targets[NSTAVE];
  hit_fill_targets(targets);
  PendingFills pending;
  start_fills(pending, targets);
  for (int c = 0; c < counts.count; c++) {
    const ChannelCounts::Channel& channel = counts.channels[c];
    const chiplocation& location = channels.location[channel.ruid][channel.ruchn];
    fill_channel(p, channel.ruid, channel.ruchn, channel.hits, location, location.first >= 0 && busy[location.first],
                 sums, pending);
  }
  apply_fills(pending);
}

StaveMeans fill_stave_summaries(const StaveSums& sums) {
  StaveMeans means;
  for (int s = 0; s < NSTAVE; s++) {
    if (!enters_summaries(sums, s)) continue;
    means.row[s] = sums.row_sum[s] / sums.npixels[s];
    means.col[s] = sums.col_sum[s] / sums.npixels[s];
    hchip->Fill(s, sums.npixels[s]);
    hhittime_chip[s]->Fill(kivo_evnts, sums.npixels[s]);
    hnhit_chip[s]->Fill(sums.npixels[s]);
    if (kivo_verbose > 2)
      std::cout << "    chip:" << s << " npixels:" << sums.npixels[s] << " mean:("
                << means.col[s] << ", " << means.row[s] << ")" << std::endl;
  }
  return means;
}

// Beam-position differences: each stave's mean row and column minus those of
// the reference stave, when the reference stave enters the summaries.
void fill_position_differences(const StaveSums& sums, const StaveMeans& means) {
  if (!enters_summaries(sums, kReferenceStave)) return;
  const double reference_row = means.row[kReferenceStave];
  const double reference_col = means.col[kReferenceStave];
  for (int s = 0; s < NSTAVE; s++) {
    if (!enters_summaries(sums, s)) continue;
    hdiffrow_chip[s]->Fill(means.row[s] - reference_row);
    hdiffcol_chip[s]->Fill(means.col[s] - reference_col);
  }
}

void process_packet(Packet* p) {
  start_sink_event();
  StaveSums sums;
  fill_packet_hits(p, sums);
  fill_position_differences(sums, fill_stave_summaries(sums));
  record_event_means(sums.npixels, sums.row_sum, sums.col_sum, sums.masked);
  hnevnt->Fill(0);
  count_recent_event();
  hand_sink_hits(sums.npixels);
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
