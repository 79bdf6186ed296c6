// The host's own commands, registered beside the monitor's under owner "host".
#include <cmath>
#include <cstdio>
#include <string>

#include "CommandNames.h"
#include "Interrupt.h"
#include "Session.h"
#include "WebDisplay.h"

namespace kivo::host {

namespace {

using namespace command_names;

Parameter required(Type type, const char* name) { return Parameter{type, name, std::nullopt}; }

void print_line(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace

void Session::register_commands() {
  auto open_source = [this](bool follow) {
    return [this, follow](const std::vector<Value>& arguments) {
      const std::string& path = arguments[0].as_string();
      if (path == "-" && standard_input_reserved_) {
        throw CommandError("standard input carries the commands; give - as a STREAM with -q");
      }
      std::string error;
      if (!sources_.open(path, follow, error)) throw CommandError(error);
      return Value();
    };
  };
  add({"open", Type::Void, {required(Type::String, "path")}, "", open_source(false)});
  add({"follow", Type::Void, {required(Type::String, "path")}, "", open_source(true)});
  add({"run", Type::Int, {Parameter{Type::Int, "n", Value::of_int(0)}}, "",
       [this](const std::vector<Value>& arguments) {
         int count = arguments[0].as_int();
         if (count < 0) throw CommandError("n must be 0 (until the sources end) or more");
         Value processed = Value::of_int(static_cast<int>(run(static_cast<std::uint64_t>(count))));
         if (interrupted_) throw interp::CommandInterrupted(processed);
         return processed;
       }});
  add({"start", Type::Void, {}, "", [this](const std::vector<Value>&) {
         background_ = true;
         return Value();
       }});
  add({"stop", Type::Void, {}, "", [this](const std::vector<Value>&) {
         background_ = false;
         sources_.stop_following();
         return Value();
       }});
  add({"next_event", Type::EventPointer, {}, "",
       [this](const std::vector<Value>&) { return next_event(); }});
  add({"save", Type::Void, {required(Type::String, "file")}, "",
       [this](const std::vector<Value>& arguments) {
         std::string error;
         if (!objects_.save(arguments[0].as_string(), error)) throw CommandError(error);
         return Value();
       }});
  add({"snapshot", Type::Void, {required(Type::String, "file")}, "",
       [this](const std::vector<Value>& arguments) {
         std::string error;
         if (!snapshot(arguments[0].as_string(), error)) throw CommandError(error);
         return Value();
       }});
  add({"set_refresh_seconds", Type::Void, {required(Type::Double, "seconds")}, "",
       [this](const std::vector<Value>& arguments) {
         if (const std::string problem = set_refresh_seconds(arguments[0].as_double()); !problem.empty())
           throw CommandError(problem);
         return Value();
       }});
  add({"sources", Type::Void, {}, "", [this](const std::vector<Value>&) {
         print_sources();
         return Value();
       }});
  add({"help", Type::Void, {}, "", [this](const std::vector<Value>&) {
         print_help();
         return Value();
       }});
}

// Goes on through data already there that holds no event (a damaged region)
// until Ctrl-C, which ends the line as it ends run().
Value Session::next_event() {
  take_interrupt();  // a Ctrl-C from before the command does not cancel it
  std::unique_ptr<Event> event = sources_.next();
  while (!event && sources_.more_available() && !interrupt_pending()) event = sources_.next();
  if (!event && take_interrupt()) {
    interrupted_ = true;
    report("interrupted before an event was read");
    throw interp::CommandInterrupted(Value::of_event(nullptr));
  }
  if (!event) {
    throw CommandError(sources_.exhausted() ? "no event left in the sources"
                                            : "no event available yet");
  }
  held_events_.push_back(std::move(event));
  return Value::of_event(held_events_.back().get());
}

void Session::print_sources() const {
  std::vector<std::string> lines = sources_.describe();
  if (lines.empty()) print_line("no sources open");
  for (const std::string& line : lines) print_line(line);
  print_line(std::to_string(figures_->events_processed.load()) + " events processed, " +
             std::to_string(figures_->canvas_updates.load()) + " canvas updates published, background " +
             (background_ ? "on" : "off"));
  const std::optional<double> rate = event_rate();
  print_line("event rate: " + (rate ? std::to_string(std::lround(*rate)) + " events/s" : std::string("not measured yet")));
  if (archive_) {
    for (const std::string& line : archive_->describe()) print_line(line);
  }
  if (run_registry_) {
    for (const std::string& line : run_registry_->describe()) print_line(line);
  }
}

void Session::print_help() const {
  std::string owner;
  for (const Command* command : registry_.commands()) {
    if (command->owner != owner) {
      owner = command->owner;
      print_line(owner == "host" ? "host commands:" : "monitor commands (" + owner + "):");
    }
    print_line("  " + interp::signature(*command));
  }
  print_line("prompt commands:\n  .q  .x FILE  .help");
  print_line("commands on one line are separated by ';'; a line ending in ';' does not show its result");
  print_line("Ctrl-C stops run() and the rest of its line, Ctrl-D quits");
  print_line(std::string("mask directory: ") + KIVO_MASK_DIR);
  print_line("display: " + (display_ ? display_->address() : std::string("off")));
}

}  // namespace kivo::host
