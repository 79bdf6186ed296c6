// Test fixture: a WebDisplay without the monitor. Prints "address URL" once listening,
// then reads commands from standard input, one per line:
//   publish RUN EVENTS FILE   publish the canvas JSON read from FILE (counts as an event)
// and answers each with "published VERSION" or "error MESSAGE". Ends at end of input.
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

void serve_commands(WebDisplay& display, Activity& activity) {
  long version = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command, file, canvas;
    int run = 0;
    long events = 0;
    if (!(words >> command >> run >> events >> file) || command != "publish") {
      std::cout << "error bad command: " << line << std::endl;
    } else if (!read_file(file, canvas)) {
      std::cout << "error cannot read " << file << std::endl;
    } else {
      display.publish_text(std::move(canvas), run, events);
      activity.record_event();
      std::cout << "published " << ++version << std::endl;
    }
  }
}

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
  serve_commands(display, *activity);
  return 0;
}
