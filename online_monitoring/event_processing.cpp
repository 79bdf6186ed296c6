// Event processing: decodes the detector packet of each data event into stave
// hits, fills the raw histograms, keeps the event counter and asks the display
// for its periodic refresh.
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

bool stave_counts(const StaveSums& sums, int s) {
  return sums.npixels[s] > 0 && sums.npixels[s] < max_npixels;
}

void report_invalid_hits(int ruid, int ruchn, int nhits) {
  for (int i = 0; i < nhits; i++)
    std::cout << "invalid: (ruid " << ruid << ", ruchn " << ruchn << ") " << std::endl;
}

// The channel is looked up once and its hits then filled in one run; every hit
// word is read, decoded and filled exactly as a per-hit lookup would.
void fill_channel(Packet* p, int ruid, int ruchn, StaveSums& sums) {
  const int nhits = p->iValue(ruid, ruchn);
  auto location = chipmap.find(chipkey(ruid, ruchn));
  if (location == chipmap.end()) {
    report_invalid_hits(ruid, ruchn, nhits);
    return;
  }
  const int istave = location->second.first;
  const int ichip = location->second.second;
  TH2F* map = h2d_chip[istave];
  int npixels = 0;
  double rowsum = 0, colsum = 0;
  for (int i = 0; i < nhits; i++) {
    const int hit = p->iValue(ruid, ruchn, i);
    const int irow = decode_row(hit) & 0xffff;
    const int icol = decode_col(hit) & 0xffff;
    const int col = ichip * 1024 + icol;
    npixels++;
    rowsum += irow;
    colsum += col;
    map->Fill(col, 511 - irow);
  }
  sums.npixels[istave] += npixels;
  sums.mrow[istave] += rowsum;
  sums.mcol[istave] += colsum;
}

void fill_packet_hits(Packet* p, StaveSums& sums) {
  for (int ruid = 0; ruid <= 4; ruid++) {
    if (p->iValue(ruid) == -1) continue;
    for (int ruchn = 0; ruchn <= 28; ruchn++) {
      if (p->iValue(ruid, ruchn) > 0) fill_channel(p, ruid, ruchn, sums);
    }
  }
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
