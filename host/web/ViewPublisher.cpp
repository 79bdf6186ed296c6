#include "ViewPublisher.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <utility>

#include "RootJSON.h"
#include "TCanvas.h"
#include "TList.h"
#include "ThreadPriority.h"

namespace kivo::web {

namespace {

// Pad names from the canvas down to `pad`, then the primitive's index.
std::string primitive_id(const TPad& pad, int index) {
  std::string path = std::to_string(index);
  for (const TVirtualPad* at = &pad;;) {
    path = json_string_contents(at->GetName()) + "/" + path;
    const TVirtualPad* mother = at->GetMother();
    if (mother == nullptr || mother == at) break;
    at = mother;
  }
  return path;
}

// Every primitive's text by id, and the entries of the hit maps among them.
void serialise_primitives(const TPad& pad, const LiveFrame& frame, ViewTexts& texts,
                          std::vector<std::string>& hit_maps) {
  TIter next(pad.GetListOfPrimitives());
  int index = 0;
  while (TObject* primitive = next()) {
    if (auto* subpad = dynamic_cast<const TPad*>(primitive)) {
      serialise_primitives(*subpad, frame, texts, hit_maps);
    } else {
      const std::string id = primitive_id(pad, index);
      texts.objects.emplace_back(id, rootcompat::ToJSON(*primitive));
      for (const LiveFrame::HitMap& map : frame.hit_maps) {
        if (map.overview == primitive)
          hit_maps.push_back(R"({"id":")" + id + R"(","stave":)" + std::to_string(map.stave) + R"(,"bins":[)" +
                             std::to_string(map.bins_x) + "," + std::to_string(map.bins_y) + "]}");
      }
    }
    ++index;
  }
}

std::string json_array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const std::string& item : items) out += (out.size() > 1 ? "," : "") + item;
  return out + "]";
}

}  // namespace

ViewTexts serialise(const LiveFrame& frame) {
  ViewTexts texts;
  texts.run = frame.run;
  texts.events = frame.events;
  texts.published_ms = frame.published_ms;
  if (frame.canvas) {
    texts.has_canvas = true;
    const TCanvas& canvas = frame.canvas->GetCanvas();
    rootcompat::AppendJSON(texts.layout, canvas, [](const TPad& pad, int index, const TObject&) {
      return R"({"_typename":"KivoRef","id":")" + primitive_id(pad, index) + "\"}";
    });
    std::vector<std::string> hit_maps;
    serialise_primitives(canvas, frame, texts, hit_maps);
    texts.hit_maps = json_array(hit_maps);
  }
  for (const auto& [id, object] : frame.objects)
    texts.objects.emplace_back(json_string_contents(id), rootcompat::ToJSON(*object));
  for (const LiveRegion& region : frame.regions)
    texts.regions.emplace_back(region.region, rootcompat::ToJSON(*region.map));
  texts.kept_regions = frame.kept_regions;
  texts.recent = frame.recent;
  return texts;
}

ViewPublisher::ViewPublisher(ViewStore& store) : store_(store), thread_([this] { run(); }) {}

ViewPublisher::~ViewPublisher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  thread_.join();
}

void ViewPublisher::publish(std::shared_ptr<LiveFrame> frame) {
  std::vector<std::shared_ptr<LiveFrame>> finished;
  std::unique_lock lock(mutex_);
  finished.swap(done_);
  const bool canvas = frame->canvas != nullptr;
  Pending next{std::move(frame), ++published_};
  if (canvas) {
    finished.push_back(std::exchange(pending_canvas_, std::move(next)).frame);
    finished.push_back(std::exchange(pending_regions_, {}).frame);
  } else {
    finished.push_back(std::exchange(pending_regions_, std::move(next)).frame);
  }
  const bool ready = work_ready();
  lock.unlock();
  if (ready) work_.notify_one();
}  // the finished frames are freed here, on the publishing thread

void ViewPublisher::demand(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  demanded_ = true;
  const long wanted = published_;
  if (work_ready()) work_.notify_one();
  written_.wait_for(lock, timeout, [&] { return settled_ >= wanted || stopping_; });
}

bool ViewPublisher::wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    lock.unlock();
    if (done()) return true;
    lock.lock();
    if (written_.wait_until(lock, deadline) == std::cv_status::timeout) {
      lock.unlock();
      return done();
    }
  }
}

bool ViewPublisher::work_ready() const {
  return pending_regions_.frame || (pending_canvas_.frame && demanded_);
}

// A canvas frame asked for goes first; it brings every region asked for, so
// a regions frame waiting beside it is dropped.
ViewPublisher::Pending ViewPublisher::take_work() {
  if (pending_canvas_.frame && demanded_) {
    demanded_ = false;
    done_.push_back(std::exchange(pending_regions_, {}).frame);
    return std::exchange(pending_canvas_, {});
  }
  return std::exchange(pending_regions_, {});
}

void ViewPublisher::run() {
  become_serving_thread();
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stopping_ || work_ready(); });
    if (stopping_) break;
    Pending work = take_work();
    lock.unlock();
    store_.publish(serialise(*work.frame));
    lock.lock();
    done_.push_back(std::move(work.frame));
    const bool idle = !pending_canvas_.frame && !pending_regions_.frame;
    settled_ = std::max(settled_, idle ? published_ : work.number);
    written_.notify_all();
  }
}

}  // namespace kivo::web
