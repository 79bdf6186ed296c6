#include "monitor_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "TH1F.h"
#include "eventio/EventRecord.h"
#include "eventio/TextFormat.h"
#include "eventio/monitor_plugin.h"
#include "kivo.h"
#include "monitor_state.h"

namespace monitor_test {

void process_text(const std::string& text) {
  std::istringstream in(text);
  std::vector<kivo::eventio::EventRecord> records;
  std::string error;
  ASSERT_TRUE(kivo::eventio::parse_text(in, records, error)) << error;
  for (const auto& record : records) {
    auto event = kivo::eventio::make_event(record);
    process_event(event.get());
  }
}

std::string capture_stdout(const std::function<void()>& action) {
  std::cout.flush();
  std::fflush(stdout);
  FILE* sink = std::tmpfile();
  const int saved = dup(fileno(stdout));
  dup2(fileno(sink), fileno(stdout));
  action();
  std::cout.flush();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::rewind(sink);
  std::string captured;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) captured.append(buffer, n);
  std::fclose(sink);
  return captured;
}

void reset_monitor() {
  pinit();
  reset_histos();
  for (int i = 0; i < NSTAVE; i++) hhittime_chip[i]->Reset("");
  kivo_evnts = 0;
  kivo_run = 0;
  kivo_verbose = 0;
  kivo_refresh = -1;
  max_npixels = 524288;
}

std::string hit_line(int stave, int col, int row) {
  const int chip = col / 1024;
  for (const auto& [key, location] : chipmap) {
    if (location == chiplocation(stave, chip)) {
      std::ostringstream line;
      line << "hit " << key.first << " " << key.second << " " << row << " " << col % 1024 << "\n";
      return line.str();
    }
  }
  ADD_FAILURE() << "no channel serves stave " << stave << " chip " << chip;
  return "";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace monitor_test
