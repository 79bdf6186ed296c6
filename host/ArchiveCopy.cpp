#include "ArchiveCopy.h"

#include <cstring>
#include <memory>
#include <vector>

#include "RootStreamer.h"
#include "TDirectory.h"
#include "RunSummary.h"
#include "TList.h"

namespace kivo::host {

namespace {

// Histograms of a run file carry the no-statistics bit: the canvas draws
// them so, and ROOT then draws them as the page does.
constexpr bool kNoStats = true;

using Streamed = std::vector<rootcompat::StreamedObject>;
using Facts = std::vector<RunArchive::NamedFact>;

// A TNamed among a run's objects is one of its facts.
void note_fact(const TObject& object, Facts& facts) {
  if (std::strcmp(object.ClassName(), "TNamed") == 0) facts.emplace_back(object.GetName(), object.GetTitle());
}

bool stream_into(const TObject& object, Streamed& streamed, Facts& facts, std::string& error) {
  note_fact(object, facts);
  streamed.emplace_back();
  return rootcompat::StreamObject(object, nullptr, streamed.back(), error, kNoStats);
}

// The verdicts, trends and metadata: small, streamed now, while they hold
// what they hold at the end of the run.
bool stream_small_objects(const quality::Quality& quality, const RunFacts& facts, Streamed& streamed,
                          Facts& named, std::string& error) {
  TList saved;
  quality.add_saved_objects(saved);
  TIter next(&saved);
  while (TObject* object = next())
    if (!stream_into(*object, streamed, named, error)) return false;
  for (const std::unique_ptr<TObject>& object : run_metadata(facts, quality, KIVO_MASK_DIR))
    if (!stream_into(*object, streamed, named, error)) return false;
  return true;
}

// What a visit of the monitor's copy needs: where its objects go, the
// summary they make, and the first failure.
struct Visit {
  const AddObject* add;
  RunSummary* summary;
  std::string error;
};

int add_visited(const TObject* object, void* context) {
  Visit& visit = *static_cast<Visit*>(context);
  visit.summary->look_at(*object);
  rootcompat::StreamedObject streamed;
  if (!rootcompat::StreamObject(*object, nullptr, streamed, visit.error, kNoStats)) return 1;
  return (*visit.add)(std::move(streamed), visit.error) ? 0 : 1;
}

using Copies = std::vector<std::unique_ptr<TObject>>;

// Copies of the tracking objects as they stand, in no directory.
std::shared_ptr<Copies> copy_tracking(tracking::Tracker* tracker) {
  auto copies = std::make_shared<Copies>();
  if (!tracker) return copies;
  TList objects;
  tracker->add_saved_objects(objects);
  const TDirectory::TContext unregistered(nullptr);
  TIter next(&objects);
  while (TObject* object = next()) copies->emplace_back(object->Clone());
  return copies;
}

}  // namespace

bool copy_monitor_run(const MonitorPlugin& plugin, const quality::Quality& quality, tracking::Tracker* tracker,
                      const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error) {
  const MonitorSymbols& symbols = plugin.symbols();
  KivoRunCopy* taken = symbols.copy_run();
  if (!taken) {
    error = "the monitor's histograms are not booked";
    return false;
  }
  std::shared_ptr<KivoRunCopy> monitor(taken, symbols.free_run);
  auto small = std::make_shared<Streamed>();
  if (!stream_small_objects(quality, facts, *small, *copy.facts, error)) return false;
  std::shared_ptr<Copies> tracks = copy_tracking(tracker);
  auto summary = std::make_shared<RunSummary>();
  summary->take_hot_pixels(quality, facts.run);
  copy.title = run_file_title(facts);
  copy.objects = [monitor, small, tracks, summary, named = copy.facts, data_events = facts.data_events,
                  derive = symbols.derive_run](const AddObject& add, std::string& failure) {
    Visit visit{&add, summary.get(), {}};
    if (derive(monitor.get(), add_visited, &visit) != 0) {
      failure = visit.error;
      return false;
    }
    for (rootcompat::StreamedObject& object : *small)
      if (!add(std::move(object), failure)) return false;
    for (const std::unique_ptr<TObject>& object : *tracks) {
      summary->look_at(*object);
      rootcompat::StreamedObject streamed;
      if (!rootcompat::StreamObject(*object, nullptr, streamed, failure, kNoStats) ||
          !add(std::move(streamed), failure))
        return false;
    }
    // The figures of the run as it is written: made from what was derived for it.
    Streamed figures;
    for (const std::unique_ptr<TObject>& object : summary->objects(data_events))
      if (!stream_into(*object, figures, *named, failure)) return false;
    for (rootcompat::StreamedObject& object : figures)
      if (!add(std::move(object), failure)) return false;
    return true;
  };
  return true;
}

}  // namespace kivo::host
