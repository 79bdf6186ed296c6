// kivo's /metrics against the real Prometheus tools: promtool accepts what a
// run with faults serves and the shipped configuration and alert rules, and a
// Prometheus server scraping a running kivo sees its events and a dead chip's
// verdict through its own query API.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "http_client.h"
#include "kivo_process.h"

namespace {

namespace fs = std::filesystem;
using kivo::test::Finished;
using kivo::test::LiveProcess;
using kivo::test::run_program;

constexpr const char* kToken = "3f9c2a7b41d8e6f05a1c";

int display_port(const std::string& err) {
  std::smatch match;
  return std::regex_search(err, match, std::regex("display at http://127\\.0\\.0\\.1:([0-9]+)/"))
             ? std::stoi(match[1])
             : 0;
}

// A port nobody listens on now, for the Prometheus server.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// Whether `condition` holds within `seconds`, asked every 200 ms.
bool eventually(const std::function<bool()>& condition, int seconds) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return true;
}

// The value of the sample `series` (name and labels as written) in an exposition text.
std::string sample_value(const std::string& text, const std::string& series) {
  const auto at = text.find("\n" + series + " ");
  if (at == std::string::npos) return {};
  const auto start = at + series.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

class PrometheusTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { fs::remove_all(directory); }

  std::string path(const std::string& name) const { return directory + "/" + name; }

  // A test-beam run whose chip 5 of stave 2 dies at data event 2000.
  std::string dead_chip_run(int events) {
    const Finished sim = run_program({KIVO_SIM, "--events", std::to_string(events), "--seed", "7",
                                      "--beam-sigma-row", "80", "--particles", "2", "--noise", "0.1",
                                      "--hot-pixels", "3", "--hot-probability", "0.05", "--dead-chip", "2:5",
                                      "--faults-from", "2000", "-o", path("dead.kevt")});
    EXPECT_EQ(sim.status, 0) << sim.err;
    return path("dead.kevt");
  }
  // Checks that judge occupancy after 500 events of baseline, so that these
  // short runs see the chip judged Good before it dies and Bad after.
  std::string quick_checks() {
    std::ofstream(path("checks.toml")) << "[occupancy]\nwindow_events = 1000\nmin_events = 500\nbaseline_events = 500\n";
    return path("checks.toml");
  }
  std::string private_file(const std::string& name, const std::string& text) {
    std::ofstream(path(name)) << text;
    chmod(path(name).c_str(), 0600);
    return path(name);
  }

  std::string directory;
};

TEST_F(PrometheusTest, MetricsOfARunWithFaultsPassPromtool) {
  const std::string stream = dead_chip_run(4000);
  {
    // A damaged record in the middle: the reader rejects it and goes on.
    std::fstream file(stream, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(fs::file_size(stream) / 2));
    file.put('\x5a').put('\xa5').put('\x5a');
  }
  LiveProcess kivo({KIVO_BIN, "--port", "0", "--checks", quick_checks(), "--name", "hall \"B\" \\ 2", "--metrics-token",
                    private_file("token", std::string(kToken) + "\n"), "-e", "set_refresh(500)", stream});
  ASSERT_TRUE(kivo.wait_for_err("all sources read")) << kivo.err();
  const int port = display_port(kivo.err());
  ASSERT_GT(port, 0) << kivo.err();
  EXPECT_EQ(http_request(port, "GET", "/metrics").status, 401) << "the token is asked for";
  const HttpResponse metrics = http_request(port, "GET", "/metrics", "Authorization: Bearer " + std::string(kToken) + "\r\n");
  ASSERT_EQ(metrics.status, 200);
  EXPECT_EQ(metrics.header("content-type"), "text/plain; version=0.0.4; charset=utf-8");

  const Finished check = run_program({PROMTOOL, "check", "metrics"}, metrics.body);
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_EQ(check.out + check.err, "") << "promtool's linter finds nothing to say";

  EXPECT_EQ(sample_value(metrics.body, R"(kivo_stand_info{name="hall \"B\" \\ 2"})"), "1") << metrics.body;
  EXPECT_EQ(sample_value(metrics.body, std::string("kivo_build_info{version=\"") + kivo::eventio::kivo_version() + "\"}"), "1");
  EXPECT_EQ(metrics.body.find("stand="), std::string::npos) << "the stand label is Prometheus's, from its target";
  EXPECT_EQ(sample_value(metrics.body, R"(kivo_quality_verdict{check="occupancy",stave="2",chip="5"})"), "3");
  EXPECT_EQ(sample_value(metrics.body, R"(kivo_quality_verdict{check="occupancy",stave="2",chip="4"})"), "1");
  EXPECT_EQ(sample_value(metrics.body, R"(kivo_quality_verdict{check="missing_packet"})"), "1")
      << "a check of the whole detector has neither stave nor chip";
  EXPECT_EQ(sample_value(metrics.body, "kivo_quality_overall_verdict"), "3");
  EXPECT_EQ(sample_value(metrics.body, R"(kivo_chip_hits_per_event{stave="2",chip="5"})"), "0");
  EXPECT_NE(sample_value(metrics.body, R"(kivo_chip_hits_per_event{stave="2",chip="4"})"), "0");
  EXPECT_EQ(sample_value(metrics.body, "kivo_records_rejected_total"), "1") << kivo.err();
  EXPECT_EQ(sample_value(metrics.body, "kivo_events_processed_total"), "4000") << "one event lost";
  EXPECT_EQ(sample_value(metrics.body, "kivo_sources_open"), "0");
  EXPECT_FALSE(sample_value(metrics.body, R"(kivo_beam_centre_pixels{stave="0",axis="column"})").empty());
  kivo.write(".q\n");
  EXPECT_EQ(kivo.wait(), 0) << kivo.err();
}

TEST_F(PrometheusTest, ShippedConfigurationAndAlertRulesAreValid) {
  for (const char* name : {"prometheus.yml", "kivo-alerts.yml"})
    fs::copy_file(fs::path(KIVO_SOURCE_DIR) / "docs/prometheus" / name, path(name));
  private_file("kivo-metrics.token", kToken);
  const Finished config = run_program({PROMTOOL, "check", "config", path("prometheus.yml")});
  EXPECT_EQ(config.status, 0) << config.out << config.err;
  const Finished rules = run_program({PROMTOOL, "check", "rules", path("kivo-alerts.yml")});
  EXPECT_EQ(rules.status, 0) << rules.out << rules.err;
  EXPECT_NE(rules.out.find("SUCCESS: 6 rules found"), std::string::npos) << rules.out;
  // Unit tests of the alerts on synthetic series (tests/host/data/kivo_alerts_test.yml).
  const Finished alerts = run_program({PROMTOOL, "test", "rules", KIVO_ALERT_TESTS});
  EXPECT_EQ(alerts.status, 0) << alerts.out << alerts.err;
}

// A Prometheus server on loopback, scraping one kivo every second with the
// metrics token.
class PrometheusServer {
 public:
  PrometheusServer(const std::string& directory, int kivo_port, const std::string& token_file)
      : port_(free_port()) {
    const std::string config = directory + "/prometheus.yml";
    std::ofstream(config) << "global:\n  scrape_interval: 1s\n  scrape_timeout: 900ms\n"
                          << "scrape_configs:\n  - job_name: kivo\n"
                          << "    authorization:\n      credentials_file: " << token_file << "\n"
                          << "    static_configs:\n      - targets: ['127.0.0.1:" << kivo_port << "']\n"
                          << "        labels:\n          stand: stand-7\n";
    server_ = std::make_unique<LiveProcess>(std::vector<std::string>{
        PROMETHEUS, "--config.file=" + config, "--storage.tsdb.path=" + directory + "/tsdb",
        "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=error"});
  }

  bool ready() const { return http_request(port_, "GET", "/-/ready").status == 200; }
  // The samples of an instant query now, as [{"metric":{...},"value":[time,"v"]}, ...].
  nlohmann::json query(const std::string& expression) const {
    std::string encoded;
    for (const unsigned char c : expression) {
      if (std::isalnum(c) || c == '_') {
        encoded += static_cast<char>(c);
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        encoded += escaped;
      }
    }
    const HttpResponse response = http_request(port_, "GET", "/api/v1/query?query=" + encoded);
    const nlohmann::json answer = nlohmann::json::parse(response.body, nullptr, false);
    if (answer.is_discarded() || answer.value("status", "") != "success") return nlohmann::json::array();
    return answer["data"]["result"];
  }
  // The value of the one sample of `expression`, empty when there is not exactly one.
  std::string value(const std::string& expression) const {
    const nlohmann::json samples = query(expression);
    return samples.size() == 1 ? samples[0]["value"][1].get<std::string>() : "";
  }
  const LiveProcess& process() const { return *server_; }

 private:
  int port_;
  std::unique_ptr<LiveProcess> server_;
};

TEST_F(PrometheusTest, AServerScrapingKivoSeesEventsGrowAndADeadChipTurnBad) {
  const std::string stream = dead_chip_run(4000);
  const std::string token = private_file("token", kToken);
  LiveProcess kivo({KIVO_BIN, "--port", "0", "--checks", quick_checks(), "--name", "stand-7", "--metrics-token", token,
                    "-e", "stop()",
                    "-e", "set_refresh(500)", "-e", "open(\"" + stream + "\")"});
  ASSERT_TRUE(kivo.wait_for_err("/\n")) << kivo.err();
  const int kivo_port = display_port(kivo.err());
  ASSERT_GT(kivo_port, 0) << kivo.err();
  kivo.write("run(2001)\n");  // the begin-run event and the data events before the fault
  ASSERT_TRUE(kivo.wait_for_out("(int) 2001\n")) << kivo.err();

  const PrometheusServer prometheus(directory, kivo_port, token);
  ASSERT_TRUE(eventually([&] { return prometheus.ready(); }, 30)) << "Prometheus did not start";
  const std::string verdict = R"(kivo_quality_verdict{job="kivo",check="occupancy",stave="2",chip="5"})";
  ASSERT_TRUE(eventually([&] { return prometheus.value(verdict) == "1"; }, 30)) << prometheus.query(verdict).dump();
  EXPECT_EQ(prometheus.value(R"(up{job="kivo"})"), "1");
  EXPECT_EQ(prometheus.value("kivo_events_processed_total"), "2001");
  EXPECT_EQ(prometheus.query(verdict)[0]["metric"]["stand"], "stand-7") << "the target's label";
  EXPECT_EQ(prometheus.value(R"(kivo_stand_info{stand="stand-7",name="stand-7"})"), "1");
  EXPECT_EQ(prometheus.query(R"(kivo_build_info{version!=""})").size(), 1u);

  kivo.write("run()\n");
  ASSERT_TRUE(kivo.wait_for_out("(int) 2000\n")) << kivo.err();
  EXPECT_TRUE(eventually([&] { return prometheus.value(verdict) == "3"; }, 30)) << prometheus.query(verdict).dump();
  EXPECT_TRUE(eventually([&] { return prometheus.value("kivo_events_processed_total") == "4001"; }, 30));
  EXPECT_EQ(prometheus.value("kivo_quality_overall_verdict"), "3");
  kivo.write(".q\n");
  EXPECT_EQ(kivo.wait(), 0) << kivo.err();
}

}  // namespace
