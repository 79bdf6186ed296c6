#ifndef KIVO_HOST_WEB_VIEW_PUBLISHER_H
#define KIVO_HOST_WEB_VIEW_PUBLISHER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "LiveFrame.h"
#include "ViewStore.h"

namespace kivo::web {

// Serialises LiveFrames into the ViewStore on a thread of its own. Only the
// newest frame waits: one that has not been written when the next comes is
// dropped (superseded, never queued). A frame is written only once a reader
// has asked since the last one was, so nothing is serialised while no page
// watches. Frames are handed back and freed on the thread that publishes
// them, which never waits for the writer.
class ViewPublisher {
 public:
  explicit ViewPublisher(ViewStore& store);
  ~ViewPublisher();
  ViewPublisher(const ViewPublisher&) = delete;
  ViewPublisher& operator=(const ViewPublisher&) = delete;

  // Event thread: a new frame, or one of regions only (written at once,
  // unless a canvas frame, which brings every region asked for, overtakes it).
  void publish(std::shared_ptr<LiveFrame> frame);
  // Any thread: a reader wants the newest view. Returns once every frame
  // published before the call is written or dropped, or after `timeout`.
  void demand(std::chrono::milliseconds timeout);
  // Waits until `done` holds after a write, or `timeout`; `done` is checked
  // with no lock held.
  bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  // A frame and its number among those published.
  struct Pending {
    std::shared_ptr<LiveFrame> frame;
    long number = 0;
  };
  void run();
  bool work_ready() const;
  Pending take_work();

  ViewStore& store_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable written_;
  Pending pending_canvas_;
  Pending pending_regions_;
  std::vector<std::shared_ptr<LiveFrame>> done_;  // freed by the next publish()
  long published_ = 0;  // frames handed over
  long settled_ = 0;    // every frame up to this number is written or dropped
  bool demanded_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// Serialises a frame: layout, objects by id ("PAD/PAD/INDEX" for the canvas's
// primitives, the frame's own ids for its other objects) and regions.
ViewTexts serialise(const LiveFrame& frame);

}  // namespace kivo::web

#endif
