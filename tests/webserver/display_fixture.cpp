// Test fixture: a WebDisplay without the monitor. Prints "address URL" once listening,
// then reads commands from standard input, one per line:
//   publish RUN EVENTS FILE   publish the canvas JSON read from FILE
// and answers each with "published VERSION" or "error MESSAGE". Ends at end of input.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "web_display.h"

namespace {

bool read_file(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  contents = buffer.str();
  return true;
}

void serve_commands(WebDisplay& display) {
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
      display.publish(std::make_shared<const std::string>(std::move(canvas)), run, events);
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
  std::cout << "address " << display.address() << std::endl;
  serve_commands(display);
  return 0;
}
