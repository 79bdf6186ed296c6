// What the live page shows of the data quality, copied at one evaluation so
// that another thread can serialise it: the panel (overall verdict, event
// rate, one row per check and stave), the trends and the distributions of
// the reference view.
#ifndef KIVO_HOST_QUALITY_QUALITY_VIEW_H
#define KIVO_HOST_QUALITY_QUALITY_VIEW_H

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Reading.h"
#include "ReferenceRun.h"
#include "Verdict.h"

namespace kivo::quality {

struct QualityView {
  struct Series {
    std::string name, title;
    int colour, marker;
    std::vector<double> x, y, x_low, x_high, y_low, y_high;
  };
  struct Distribution {
    std::string name, title;
    double x_min, x_max;
    int colour;
    Bins current, reference;
  };

  // What the tracks view shows of each stave: tracks and matches per cell
  // over the whole run and over the recent window, the residuals and the
  // cluster sizes (bins 0..n+1), and the alignment in use.
  struct StaveTracksView {
    std::vector<double> total, matched, recent_total, recent_matched;
    std::vector<double> residual_columns, residual_rows, cluster_sizes;
    std::string alignment;
    double offset_columns = 0, offset_rows = 0;
  };
  struct TracksView {
    bool present = false;  // false: tracking is off
    double recent_events = 0;
    std::array<StaveTracksView, kStaves> staves;
  };

  bool judged = false;  // false before the first evaluation
  int run = 0;
  double event = 0;
  std::chrono::system_clock::time_point time;
  Verdict overall = Verdict::Null;
  std::string overall_text;  // "Bad, 2 checks not judging", "Null: not judged (why)"
  int not_judging = 0;  // rows that cannot judge now
  std::array<Verdict, kStaves> staves{};
  std::optional<double> event_rate;
  std::vector<Row> rows;
  std::vector<Series> trends;
  std::string reference_path;  // empty: none loaded
  std::vector<Distribution> distributions;
  TracksView tracks;

  // {"judged":..,"run":..,"event":..,"time":"..Z","overall":..,"overall_text":..,"staves":[..],
  //  "not_judging":..,"rate":..|null,"rows":[{"check","stave","chip","verdict","reason","since","more"}],
  //  "trends":[{"name","title","colour","marker","x","y","exl","exh","eyl","eyh"}] (with_trends),
  //  "reference":{"path","distributions":[{"name","title","xmin","xmax","colour","current","reference"}]}|null
  //  (with_reference),
  //  "tracks":{"recent_events","cells_x","cells_y","staves":[{"total","matched","recent_total","recent_matched",
  //  "residual_columns","residual_rows","cluster_sizes","alignment","offset_columns","offset_rows"}]}|null
  //  (with_tracks)}
  std::string json(bool with_trends, bool with_reference, bool with_tracks = false) const;
};

}  // namespace kivo::quality

#endif
