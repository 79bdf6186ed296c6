// The text /metrics serves: Prometheus's exposition format as promtool reads
// it, kivo's version and the stand's name as info series (the stand label is
// Prometheus's, from its target), the verdicts labelled by check,
// stave and chip as far as they apply, and nothing for what is not known.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "CommandLine.h"
#include "Metrics.h"

namespace {

using kivo::web::HostFigures;
using kivo::web::LiveCounts;
using kivo::web::Metrics;
using kivo::web::QualityFigures;

// promtool's verdict on `text`: its output, empty when it finds nothing wrong.
std::string promtool_check(const std::string& text) {
  char name[] = "/tmp/kivo-metrics-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return "cannot write a temporary file";
  std::FILE* file = fdopen(fd, "w");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  std::string output;
  const std::string command = std::string(PROMTOOL) + " check metrics < " + name + " 2>&1";
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    if (pclose(pipe) != 0 && output.empty()) output = "promtool failed";
  }
  std::remove(name);
  return output;
}

bool has_line(const std::string& text, const std::string& line) {
  return text.starts_with(line + "\n") || text.find("\n" + line + "\n") != std::string::npos;
}

std::shared_ptr<QualityFigures> judged_quality() {
  auto quality = std::make_shared<QualityFigures>();
  quality->verdicts = {{"dead_chip", 2, 5, 3}, {"dead_chip", 2, 6, 1}, {"hot_pixels", 1, QualityFigures::kNone, 2},
                       {"missing_packet", QualityFigures::kNone, QualityFigures::kNone, 0}};
  quality->overall = 3;
  QualityFigures::ChipValues rates{};
  rates[2][4] = 12.5;
  quality->hits_per_event = rates;
  quality->beams[0] = QualityFigures::Beam{4608.25, 255.5, 301, 59.75};
  quality->stave_efficiency[1] = 0.9875;
  quality->tracks_total = 123456;
  return quality;
}

TEST(MetricsText, TheStandAndTheVersionAreInfoSeriesAndPromtoolFindsNothingToSay) {
  Metrics metrics;
  metrics.set_stand("hall \"B\"\\2\nnorth");
  auto host = std::make_shared<HostFigures>();
  HostFigures::add_one(host->events_processed);
  metrics.attach(std::make_shared<kivo::web::Activity>(), host);
  metrics.publish(judged_quality());
  metrics.set_live_counts([] { return LiveCounts{4, 1, 2, 1, 123456789012}; });
  const std::string text = metrics.text();

  EXPECT_EQ(promtool_check(text), "") << text;
  EXPECT_TRUE(has_line(text, R"(kivo_stand_info{name="hall \"B\"\\2\nnorth"} 1)")) << text;
  EXPECT_TRUE(has_line(text, std::string("kivo_build_info{version=\"") + kivo::eventio::kivo_version() + "\"} 1"));
  EXPECT_EQ(text.find("stand="), std::string::npos) << "the stand label is the target's";
  EXPECT_TRUE(has_line(text, R"(kivo_quality_verdict{check="dead_chip",stave="2",chip="5"} 3)")) << text;
  EXPECT_TRUE(has_line(text, R"(kivo_quality_verdict{check="hot_pixels",stave="1"} 2)"));
  EXPECT_TRUE(has_line(text, R"(kivo_quality_verdict{check="missing_packet"} 0)"));
  EXPECT_TRUE(has_line(text, "kivo_quality_overall_verdict 3"));
  EXPECT_TRUE(has_line(text, R"(kivo_quality_overall_info{verdict="Bad"} 1)"));
  EXPECT_TRUE(has_line(text, R"(kivo_chip_hits_per_event{stave="2",chip="4"} 12.5)"));
  EXPECT_TRUE(has_line(text, R"(kivo_beam_centre_pixels{stave="0",axis="column"} 4608.25)"));
  EXPECT_TRUE(has_line(text, R"(kivo_beam_width_pixels{stave="0",axis="row"} 59.75)"));
  EXPECT_EQ(text.find(R"(stave="1",axis=)"), std::string::npos) << "no beam fitted on stave 1 yet";
  EXPECT_TRUE(has_line(text, R"(kivo_stave_efficiency{stave="1"} 0.9875)"));
  EXPECT_EQ(text.find(R"(kivo_stave_efficiency{stave="0")"), std::string::npos) << "no tracks there";
  EXPECT_TRUE(has_line(text, "kivo_tracks_total 123456"));
  EXPECT_TRUE(has_line(text, "kivo_events_processed_total 1"));
  EXPECT_TRUE(has_line(text, "kivo_events_per_second 0"));
  EXPECT_TRUE(has_line(text, "kivo_archive_written_bytes_total 123456789012"));
  EXPECT_NE(text.find("\nprocess_start_time_seconds 1"), std::string::npos);
}

TEST(MetricsText, WhatIsNotKnownLeavesNoLines) {
  Metrics metrics;
  metrics.set_stand("s");
  const std::string bare = metrics.text();
  EXPECT_EQ(promtool_check(bare), "") << bare;
  for (const char* absent : {"kivo_quality", "kivo_events_processed_total", "kivo_alarms", "kivo_chip_hits_per_event",
                             "kivo_stave_efficiency", "kivo_tracks_total"})
    EXPECT_EQ(bare.find(absent), std::string::npos) << absent;
  EXPECT_TRUE(has_line(bare, "kivo_page_clients 0"));

  auto quality = judged_quality();
  quality->hits_per_event.reset();
  metrics.publish(quality);
  metrics.set_live_counts([] { return LiveCounts{}; });
  EXPECT_NE(metrics.text().find("kivo_alarms_raised_total"), std::string::npos);
  metrics.set_live_counts(nullptr);
  const std::string detached = metrics.text();
  EXPECT_EQ(detached.find("kivo_alarms_raised_total"), std::string::npos) << "not read once detached";
  EXPECT_EQ(detached.find("kivo_chip_hits_per_event"), std::string::npos) << "no window judged yet";
  EXPECT_NE(detached.find("kivo_quality_overall_verdict"), std::string::npos);
  quality = judged_quality();
  quality->overall = 0;
  metrics.publish(quality);
  EXPECT_TRUE(has_line(metrics.text(), R"(kivo_quality_overall_info{verdict="Null: not judged"} 1)"))
      << "a verdict made only of Null results is not Good";
}

TEST(MetricsText, PageClientsCountEachAddressOnce) {
  Metrics metrics;
  metrics.set_stand("s");
  for (const char* address : {"127.0.0.1", "192.0.2.7", "127.0.0.1", "::1"}) metrics.page_clients().polled(address);
  EXPECT_EQ(metrics.page_clients().open(), 3);
  EXPECT_TRUE(has_line(metrics.text(), "kivo_page_clients 3"));
}

}  // namespace
