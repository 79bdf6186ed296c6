#include "Tracker.h"

#include "TList.h"
#include "TrackingObjects.h"

namespace kivo::tracking {

struct Tracker::State {
  Settings settings;
  Report report;
  TrackingObjects objects;
  Alignment alignment;
  double events = 0;
};

Tracker::Tracker(const Settings& settings, Report report) : state_(std::make_unique<State>()) {
  state_->settings = settings;
  state_->report = std::move(report);
}

Tracker::~Tracker() = default;

void Tracker::process(const KivoEventHits&) { state_->events += 1; }

void Tracker::reset() {
  state_->objects.reset();
  state_->alignment = {};
  state_->events = 0;
}

const Objects& Tracker::objects() {
  state_->objects.sync();
  return state_->objects.handles();
}

const Alignment& Tracker::alignment() const { return state_->alignment; }
double Tracker::events() const { return state_->events; }
const Settings& Tracker::settings() const { return state_->settings; }

void Tracker::add_saved_objects(TList& list) {
  objects();
  for (TObject* object : state_->objects.all()) list.Add(object);
}

}  // namespace kivo::tracking
