// Test fixture: a WebDisplay without the monitor. Prints "address URL" once listening,
// then reads commands from standard input, one per line:
//   publish RUN EVENTS FILE   publish the canvas JSON read from FILE (counts as an event;
//                             the monitor then holds EVENTS data events)
//   quality FILE              publish the text of FILE as the data-quality view
//   monitor EVENTS            the monitor holds EVENTS data events, ahead of the canvas
//   ended RUN                 the last event ended run RUN
//   sources open|finished     the state of the sources
// and answers each with "published VERSION", "done" or "error MESSAGE". Ends at end of input.
// Its sources count as open: the page shows it live after a publish, waiting later.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "WebDisplay.h"

namespace {

using kivo::web::Activity;
using kivo::web::WebDisplay;

bool read_file(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  contents = buffer.str();
  return true;
}

// A data-quality view given as its JSON text.
class TextView : public kivo::web::PageView {
 public:
  explicit TextView(std::string text) : text_(std::move(text)) {}
  std::string json(const std::vector<std::string>&) const override { return text_; }

 private:
  std::string text_;
};

class Fixture {
 public:
  Fixture(WebDisplay& display, Activity& activity) : display_(display), activity_(activity) {}

  // The answer to one command line.
  std::string run(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "publish") return publish(words);
    if (command == "quality") return quality(words);
    long number = 0;
    if (command == "monitor" && words >> number) {
      activity_.set_monitor_events(number);
      return "done";
    }
    if (command == "ended" && words >> number) {
      activity_.record_run_end(static_cast<int>(number));
      return "done";
    }
    std::string state;
    if (command == "sources" && words >> state && (state == "open" || state == "finished")) {
      activity_.set_sources(state == "open" ? Activity::Sources::open : Activity::Sources::finished);
      return "done";
    }
    return "error bad command: " + line;
  }

 private:
  std::string publish(std::istringstream& words) {
    std::string file, canvas;
    int run = 0;
    long events = 0;
    if (!(words >> run >> events >> file)) return "error usage: publish RUN EVENTS FILE";
    if (!read_file(file, canvas)) return "error cannot read " + file;
    display_.publish_text(std::move(canvas), run, events);
    activity_.record_event();
    activity_.set_monitor_events(events);
    return "published " + std::to_string(++version_);
  }

  std::string quality(std::istringstream& words) {
    std::string file, text;
    if (!(words >> file)) return "error usage: quality FILE";
    if (!read_file(file, text)) return "error cannot read " + file;
    display_.views().publish(WebDisplay::kQualityView, std::make_shared<TextView>(std::move(text)));
    return "done";
  }

  WebDisplay& display_;
  Activity& activity_;
  long version_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kivo-display-fixture PORT\n";
    return 2;
  }
  WebDisplay display("127.0.0.1", std::stoi(argv[1]), KIVO_WEB_DIR);
  std::string error;
  if (!display.start(error)) {
    std::cerr << error << '\n';
    return 1;
  }
  auto activity = std::make_shared<Activity>();
  activity->set_sources(Activity::Sources::open);
  display.attach(activity);
  std::cout << "address " << display.address() << std::endl;
  Fixture fixture(display, *activity);
  std::string line;
  while (std::getline(std::cin, line)) std::cout << fixture.run(line) << std::endl;
  return 0;
}
