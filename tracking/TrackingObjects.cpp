#include "TrackingObjects.h"

#include <string>

#include "TDirectory.h"
#include "TGraph.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"

namespace kivo::tracking {

namespace {

std::string stave_name(const char* stem, int stave) { return std::string(stem) + "_" + std::to_string(stave); }

}  // namespace

TrackingObjects::TrackingObjects() {
  const TDirectory::TContext unregistered(nullptr);
  auto keep = [this](auto* object) {
    owned_.emplace_back(object);
    all_.push_back(object);
    return object;
  };
  auto map2 = [&](const char* stem, int s, const char* title, int nx, double xl, double xh, int ny, double yl,
                  double yh) { return keep(new TH2F(stave_name(stem, s).c_str(), title, nx, xl, xh, ny, yl, yh)); };
  auto line = [&](const char* stem, int s, const char* title, int n, double l, double h) {
    return keep(new TH1F(stave_name(stem, s).c_str(), title, n, l, h));
  };
  Objects& o = handles_;
  for (int s = 0; s < kStaves; ++s)
    o.track_total[s] = map2("htrack_total", s, ";col;row;tracks", kCellsX, -0.5, kStaveColumns - 0.5, kCellsY, -0.5,
                            kRows - 0.5);
  for (int s = 0; s < kStaves; ++s)
    o.track_matched[s] = map2("htrack_matched", s, ";col;row;matched tracks", kCellsX, -0.5, kStaveColumns - 0.5,
                              kCellsY, -0.5, kRows - 0.5);
  for (int s = 0; s < kStaves; ++s)
    o.residual_col[s] = line("hresidual_col", s, ";cluster - track, columns;matches", 250, -12.5, 12.5);
  for (int s = 0; s < kStaves; ++s)
    o.residual_row[s] = line("hresidual_row", s, ";cluster - track, rows;matches", 250, -12.5, 12.5);
  for (int s = 0; s < kStaves; ++s)
    o.cluster_size[s] = line("hcluster_size", s, ";pixels per cluster;clusters", 32, 0.5, 32.5);
  for (int s = 0; s < kStaves; ++s)
    o.clusters_per_event[s] = line("hclusters_per_event", s, ";clusters per event;events", 101, -0.5, 100.5);
  for (int s = 0; s < kStaves; ++s)
    o.track_lag[s] = line("htrack_lag", s, ";lag (events);matched tracks", 3, -1.5, 1.5);
  o.tracks_per_event =
      keep(new TH2F("htracks_per_event", ";tracks per event;stave judged;events", 21, -0.5, 20.5, kStaves, -0.5, kStaves - 0.5));
  for (int s = 0; s < kStaves; ++s)
    o.moved_cells[s] = map2("hmoved_cells", s, ";predicted col;cluster col;pairs", kCellsX, -0.5, kStaveColumns - 0.5,
                            kCellsX, -0.5, kStaveColumns - 0.5);
  for (int s = 0; s < kStaves; ++s)
    o.moved_col[s] = map2("hmoved_col", s, ";predicted chip;cluster - track, columns;pairs", kChips, -0.5, kChips - 0.5,
                          2047, -1023.5, 1023.5);
  for (int s = 0; s < kStaves; ++s)
    o.moved_row[s] = map2("hmoved_row", s, ";predicted chip;cluster - track, rows;pairs", kChips, -0.5, kChips - 0.5,
                          1023, -511.5, 511.5);
  o.offset_col = keep(new TH1D("htrack_offset_col", ";stave;offset to stave 3, columns", kStaves, -0.5, kStaves - 0.5));
  o.offset_row = keep(new TH1D("htrack_offset_row", ";stave;offset to stave 3, rows", kStaves, -0.5, kStaves - 0.5));
  o.alignment_state = keep(new TH1D("htrack_alignment", ";stave;alignment state", kStaves, -0.5, kStaves - 0.5));
  for (int s = 0; s < kStaves; ++s) {
    o.offset_history_col[s] = keep(new TGraph());
    o.offset_history_col[s]->SetName(stave_name("galign_col", s).c_str());
    o.offset_history_col[s]->SetTitle(";events;offset to stave 3, columns");
  }
  for (int s = 0; s < kStaves; ++s) {
    o.offset_history_row[s] = keep(new TGraph());
    o.offset_history_row[s]->SetName(stave_name("galign_row", s).c_str());
    o.offset_history_row[s]->SetTitle(";events;offset to stave 3, rows");
  }
  o.skipped = keep(new TH2F("htrack_skipped", ";stave;reason (0 hits, 1 candidates);events", kStaves, -0.5,
                            kStaves - 0.5, 2, -0.5, 1.5));
  o.events = keep(new TH1D("htrack_events", ";0 events, 1 taken;events", 2, -0.5, 1.5));
  o.alignment_text = keep(new TNamed("tracking_alignment", "not aligned yet"));

  for (int s = 0; s < kStaves; ++s) {
    fills_.track_total[s] = FastFill2D(o.track_total[s]);
    fills_.track_matched[s] = FastFill2D(o.track_matched[s]);
    fills_.residual_col[s] = FastFill1D(o.residual_col[s]);
    fills_.residual_row[s] = FastFill1D(o.residual_row[s]);
    fills_.cluster_size[s] = FastFill1D(o.cluster_size[s]);
    fills_.clusters_per_event[s] = FastFill1D(o.clusters_per_event[s]);
    fills_.track_lag[s] = FastFill1D(o.track_lag[s]);
    fills_.moved_cells[s] = FastFill2D(o.moved_cells[s]);
    fills_.moved_col[s] = FastFill2D(o.moved_col[s]);
    fills_.moved_row[s] = FastFill2D(o.moved_row[s]);
  }
  fills_.tracks_per_event = FastFill2D(o.tracks_per_event);
  fills_.skipped = FastFill2D(o.skipped);
}

TrackingObjects::~TrackingObjects() = default;

namespace {

template <class Visit>
void for_each_fill(Fills& f, Visit&& visit) {
  for (int s = 0; s < kStaves; ++s) {
    visit(f.track_total[s]);
    visit(f.track_matched[s]);
    visit(f.residual_col[s]);
    visit(f.residual_row[s]);
    visit(f.cluster_size[s]);
    visit(f.clusters_per_event[s]);
    visit(f.track_lag[s]);
    visit(f.moved_cells[s]);
    visit(f.moved_col[s]);
    visit(f.moved_row[s]);
  }
  visit(f.tracks_per_event);
  visit(f.skipped);
}

}  // namespace

void TrackingObjects::sync() {
  for_each_fill(fills_, [](auto& fill) { fill.sync(); });
}

void TrackingObjects::reset() {
  for_each_fill(fills_, [](auto& fill) { fill.reset(); });
  handles_.offset_col->Reset("");
  handles_.offset_row->Reset("");
  handles_.alignment_state->Reset("");
  handles_.events->Reset("");
  for (int s = 0; s < kStaves; ++s) {
    handles_.offset_history_col[s]->Set(0);
    handles_.offset_history_row[s]->Set(0);
  }
  handles_.alignment_text->SetTitle("not aligned yet");
}

}  // namespace kivo::tracking
