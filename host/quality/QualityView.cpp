#include "QualityView.h"

#include <nlohmann/json.hpp>

#include "QualityLog.h"

namespace kivo::quality {

namespace {

using Json = nlohmann::ordered_json;

Json index_or_null(int value) { return value == kNone ? Json(nullptr) : Json(value); }

Json row_json(const Row& row) {
  const Result& result = row.shown.result;
  return {{"check", result.check},
          {"stave", index_or_null(result.stave)},
          {"chip", index_or_null(result.chip)},
          {"verdict", verdict_name(result.verdict)},
          {"reason", result.reason},
          {"since", describe(row.shown.since)},
          {"more", row.more}};
}

Json series_json(const QualityView::Series& series) {
  return {{"name", series.name}, {"title", series.title}, {"colour", series.colour}, {"marker", series.marker},
          {"x", series.x},       {"y", series.y},         {"exl", series.x_low},     {"exh", series.x_high},
          {"eyl", series.y_low}, {"eyh", series.y_high}};
}

Json distribution_json(const QualityView::Distribution& distribution) {
  return {{"name", distribution.name},       {"title", distribution.title},
          {"xmin", distribution.x_min},      {"xmax", distribution.x_max},
          {"colour", distribution.colour},   {"current", distribution.current},
          {"reference", distribution.reference}};
}

Json tracks_json(const QualityView::TracksView& tracks) {
  if (!tracks.present) return nullptr;
  Json staves = Json::array();
  for (const QualityView::StaveTracksView& stave : tracks.staves)
    staves.push_back({{"total", stave.total},
                      {"matched", stave.matched},
                      {"recent_total", stave.recent_total},
                      {"recent_matched", stave.recent_matched},
                      {"residual_columns", stave.residual_columns},
                      {"residual_rows", stave.residual_rows},
                      {"cluster_sizes", stave.cluster_sizes},
                      {"alignment", stave.alignment},
                      {"offset_columns", stave.offset_columns},
                      {"offset_rows", stave.offset_rows}});
  return {{"recent_events", tracks.recent_events}, {"cells_x", kTrackCellsX}, {"cells_y", kTrackCellsY},
          {"staves", staves}};
}

}  // namespace

std::string QualityView::json(bool with_trends, bool with_reference, bool with_tracks) const {
  Json view;
  view["judged"] = judged;
  view["run"] = run;
  view["event"] = event;
  view["time"] = utc_timestamp(time);
  view["overall"] = verdict_name(overall);
  view["overall_text"] = overall_text;
  view["not_judging"] = not_judging;
  view["staves"] = Json::array();
  for (Verdict verdict : staves) view["staves"].push_back(verdict_name(verdict));
  view["rate"] = event_rate ? Json(*event_rate) : Json(nullptr);
  view["rows"] = Json::array();
  for (const Row& row : rows) view["rows"].push_back(row_json(row));
  if (with_trends) {
    view["trends"] = Json::array();
    for (const Series& series : trends) view["trends"].push_back(series_json(series));
  }
  if (with_reference) {
    if (reference_path.empty()) {
      view["reference"] = nullptr;
    } else {
      Json list = Json::array();
      for (const Distribution& distribution : distributions) list.push_back(distribution_json(distribution));
      view["reference"] = {{"path", reference_path}, {"distributions", list}};
    }
  }
  if (with_tracks) view["tracks"] = tracks_json(tracks);
  return view.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kivo::quality
