// When the host asks the monitor to redraw its canvas, beside the monitor's
// own refresh every N data events: every S seconds while data events arrive
// (set_refresh_seconds), and, with the live display on, once the data stop
// (an end-run event, the end of the sources, or no event for a few seconds),
// so that the page never stays short of the last event. Bookkeeping only:
// the session tells it what happened and asks whether to redraw.
#ifndef KIVO_HOST_CANVAS_REFRESH_H
#define KIVO_HOST_CANVAS_REFRESH_H

#include <chrono>
#include <optional>
#include <string>

namespace kivo::host {

// The monotonic clock at its coarse resolution (a few ms), cheap enough to
// read at every event.
struct CoarseClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<CoarseClock>;
  static constexpr bool is_steady = true;
  static time_point now() noexcept;
};

class CanvasRefresh {
 public:
  using Clock = CoarseClock;
  // No event for this long counts as data stopping (the page says "waiting" then).
  static constexpr std::chrono::seconds kStoppedAfter{3};

  // `when_data_stop`: redraw when the data stop (the live display is on).
  CanvasRefresh(bool when_data_stop, Clock::time_point now);

  // Seconds between refreshes by time, 0 for none; empty, or what is wrong
  // with `seconds` (the setting is then unchanged).
  std::string set_interval(double seconds);
  double interval() const;

  // The canvas was redrawn, whoever asked.
  void redrawn(Clock::time_point now);
  // A data event was processed and the canvas not redrawn for it.
  void data_event(Clock::time_point now);
  // Whether to redraw right after an event; `end_of_run` for an end-run event.
  bool due_after_event(bool end_of_run, Clock::time_point now) const;
  // Whether to redraw while no event is processed; `exhausted` when no
  // source will give another event.
  bool due_while_idle(bool exhausted, Clock::time_point now) const;
  // How long a wait for input may last before due_while_idle() can turn
  // true, in ms; -1 when nothing is due however long it waits.
  int idle_wait_ms(Clock::time_point now) const;

 private:
  bool interval_passed(Clock::time_point now) const;

  const bool when_data_stop_;
  std::optional<Clock::duration> interval_;
  bool behind_ = false;  // data events the canvas does not show yet
  Clock::time_point last_redraw_;
  Clock::time_point last_event_;
};

}  // namespace kivo::host

#endif
