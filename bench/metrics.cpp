// /metrics while kivo ingests a long noisy run with its display on: what
// being scraped costs ingestion, against the same run without scraping, and
// how long an answer takes. The scraper asks every 20 ms, fifty times as
// often as a Prometheus scraping every second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "child_process.h"
#include "http_client.h"
#include "sample_run.h"

namespace {

constexpr std::uint32_t kNoisyEvents = 30000;
constexpr double kNoisyNoise = 150;  // noise hits per stave and event: about 62% of pixels hit
constexpr int kIngestionRuns = 7;
constexpr int kAnswerRuns = 3;
constexpr std::chrono::milliseconds kScrapeInterval{20};
constexpr double kAnswerPercentile = 0.95;
constexpr double kAllowedAnswerMs = 10;

// Scrapes /metrics on `port` until kivo goes away, keeping each answer's time.
void scrape(int port, std::vector<double>& answer_seconds) {
  for (;; std::this_thread::sleep_for(kScrapeInterval)) {
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse metrics = http_request(port, "GET", "/metrics");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (metrics.status != 200) return;
    answer_seconds.push_back(took.count());
  }
}

// Runs kivo on `stream` at set_refresh(1000) with the display on, scraped
// when `answer_seconds` is given; false when it fails.
bool ingest(const std::string& stream, std::vector<double>* answer_seconds) {
  kivo::bench::Child kivo(
      {kivo::bench::program_beside_bench("kivo"), "-q", "--port", "0", "-e", "set_refresh(1000)", stream});
  const std::string line = kivo.error_line_with("display at http://127.0.0.1:");
  const auto colon = line.rfind(':');
  if (colon == std::string::npos) {
    std::fprintf(stderr, "kivo-bench: kivo did not start its display\n");
    return false;
  }
  std::thread scraper;
  if (answer_seconds) scraper = std::thread(scrape, std::stoi(line.substr(colon + 1)), std::ref(*answer_seconds));
  const bool ok = kivo.wait() == 0;
  if (scraper.joinable()) scraper.join();
  return ok;
}

std::string noisy_stream() {
  return kivo::bench::write_temporary_stream(kivo::bench::simulate_run(kNoisyEvents, kNoisyNoise));
}

kivo::bench::Result ingestion_while_scraped() {
  const std::string stream = noisy_stream();
  if (stream.empty()) return {};
  bool ok = true;
  double scraped = 0, plain = 0;
  std::vector<double> answers;
  kivo::bench::alternate_best_seconds(
      kIngestionRuns, [&] { ok = ingest(stream, &answers) && ok; }, [&] { ok = ingest(stream, nullptr) && ok; },
      scraped, plain);
  std::filesystem::remove(stream);
  if (!ok) return {};
  const double events = kNoisyEvents + 1.0;
  return kivo::bench::rate_result(events / scraped, "the same run without scraping", events / plain, "events/s",
                                  0.9);
}

kivo::bench::Result metrics_answer() {
  const std::string stream = noisy_stream();
  if (stream.empty()) return {};
  bool ok = true;
  std::vector<double> answers;
  for (int run = 0; run < kAnswerRuns; ++run) ok = ingest(stream, &answers) && ok;
  std::filesystem::remove(stream);
  if (!ok || answers.empty()) return {};
  std::sort(answers.begin(), answers.end());
  const double percentile = answers[static_cast<std::size_t>(kAnswerPercentile * (answers.size() - 1))];
  return kivo::bench::amount_result(percentile * 1e3, "allowed per answer", kAllowedAnswerMs, "ms", 1.0);
}

}  // namespace

KIVO_BENCH("ingestion while scraped", "kivo at set_refresh(1000), display on, /metrics scraped every 20 ms",
           ingestion_while_scraped);
KIVO_BENCH("metrics answer", "95th percentile of /metrics answer times while kivo ingests a long noisy run",
           metrics_answer);
