#include "monitor_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

#include "EventRecord.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TextFormat.h"
#include "kivo.h"
#include "monitor_plugin.h"
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
  for (int s = 0; s < NSTAVE; s++) kivo_set_correlation_mask(s, nullptr, nullptr, 0);
  kivo_set_busy_rule(0.99, 5, 100);
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

std::vector<float> block_maxima_by_bins(const TH2F& map) {
  std::vector<float> maxima(kOverviewBinsX * kOverviewBinsY, -std::numeric_limits<float>::infinity());
  for (int y = 1; y <= map.GetNbinsY(); y++)
    for (int x = 1; x <= map.GetNbinsX(); x++) {
      float& block = maxima[(y - 1) / kOverviewBlockY * kOverviewBinsX + (x - 1) / kOverviewBlockX];
      block = std::max(block, static_cast<float>(map.GetBinContent(x, y)));
    }
  return maxima;
}

std::vector<double> block_sums_by_bins(const TH2F& map) {
  std::vector<double> sums(kOverviewBinsX * kOverviewBinsY, 0.0);
  for (int y = 1; y <= map.GetNbinsY(); y++)
    for (int x = 1; x <= map.GetNbinsX(); x++)
      sums[(y - 1) / kOverviewBlockY * kOverviewBinsX + (x - 1) / kOverviewBlockX] += map.GetBinContent(x, y);
  return sums;
}

void expect_summary_of(const TH2F& map, const MapSummary& summary) {
  SCOPED_TRACE(map.GetName());
  const int nx = map.GetNbinsX(), ny = map.GetNbinsY();
  std::unique_ptr<TH1D> columns(map.ProjectionX("summary_px", 1, ny));
  std::unique_ptr<TH1D> rows(map.ProjectionY("summary_py", 1, nx));
  for (int x = 1; x <= nx; x++)
    ASSERT_EQ(summary.column_sums[x], columns->GetBinContent(x)) << "column " << x;
  for (int y = 1; y <= ny; y++) ASSERT_EQ(summary.row_sums[y], rows->GetBinContent(y)) << "row " << y;
  for (int chip = 0; chip < 9; chip++) {
    const double integral = map.Integral(chip * 1024 + 1, chip * 1024 + 1024, 1, ny);
    EXPECT_DOUBLE_EQ(chip_total(summary, chip), integral) << "chip " << chip;
  }
  EXPECT_EQ(summary.block_maxima, block_maxima_by_bins(map));
  EXPECT_EQ(summary.block_sums, block_sums_by_bins(map));
}

void expect_same_map(const TH2F& map, const TH2F& expected) {
  SCOPED_TRACE(map.GetName());
  for (int cell = 0; cell < map.GetSize(); cell++)
    ASSERT_EQ(map.GetBinContent(cell), expected.GetBinContent(cell)) << "cell " << cell;
  EXPECT_EQ(map.GetEntries(), expected.GetEntries());
  double stats[TH1::kNstat] = {}, expected_stats[TH1::kNstat] = {};
  map.GetStats(stats);
  expected.GetStats(expected_stats);
  for (int k = 0; k < TH1::kNstat; k++) EXPECT_EQ(stats[k], expected_stats[k]) << "sum " << k;
}

}  // namespace monitor_test
