// Where verdict changes go: the quality log (one whole JSON line each,
// appended) and the alarm commands (run once per change to Bad, with the
// KIVO_* environment, in the background, with a time limit and a rate limit).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "Alarms.h"
#include "QualityLog.h"

namespace kivo::quality {
namespace {

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() / ("kivo_outputs_" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string path(const std::string& name) const { return (directory / name).string(); }
  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Waits (without a deadline that a test would assert) until `file` exists.
  static bool appears(const std::string& file) {
    for (int i = 0; i < 3000 && !std::filesystem::exists(file); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return std::filesystem::exists(file);
  }

  std::filesystem::path directory;
  std::mutex reported_mutex;
  std::vector<std::string> reported;
  Alarms::Report report = [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(reported_mutex);
    reported.push_back(line);
  };
  AlarmConfig limits{10, 5, 60};
};

const Result kDeadChip{"dead_chip", 2, 5, Verdict::Bad, "stave 2, chip 5: 0 hits \"quoted\"", 1};

TEST_F(Outputs, TheLogAppendsOneWholeJsonLinePerChange) {
  const std::string log = path("quality.log");
  std::ofstream(log) << "earlier line\n";
  std::string error;
  std::unique_ptr<QualityLog> file = QualityLog::open(log, error);
  ASSERT_TRUE(file) << error;
  const Since since{7, 5000, std::chrono::system_clock::time_point(std::chrono::milliseconds(1714564803250))};
  ASSERT_TRUE(file->append({kDeadChip, since, Verdict::Good}, error)) << error;
  const Result missing{"missing_packet", kNone, kNone, Verdict::Medium, "6%", 0};
  ASSERT_TRUE(file->append({missing, since, Verdict::Bad}, error)) << error;
  std::istringstream lines(read(log));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "earlier line");
  std::getline(lines, line);
  EXPECT_EQ(line, "{\"time\":\"2024-05-01T12:00:03.250Z\",\"run\":7,\"event\":5000,\"check\":\"dead_chip\","
                  "\"stave\":2,\"chip\":5,\"old\":\"Good\",\"new\":\"Bad\",\"reason\":\"stave 2, chip 5: 0 hits "
                  "\\\"quoted\\\"\"}");
  std::getline(lines, line);
  const nlohmann::json parsed = nlohmann::json::parse(line);
  EXPECT_TRUE(parsed["stave"].is_null());
  EXPECT_TRUE(parsed["chip"].is_null());
  EXPECT_EQ(parsed["old"], "Bad");
  EXPECT_EQ(parsed["new"], "Medium");
  EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(Outputs, ALogThatCannotBeOpenedIsNamed) {
  std::string error;
  EXPECT_FALSE(QualityLog::open(path("no/such/dir/q.log"), error));
  EXPECT_EQ(error, path("no/such/dir/q.log") + ": cannot be opened for appending: No such file or directory");
  EXPECT_FALSE(QualityLog::open(directory.string(), error));
}

TEST_F(Outputs, AnAlarmRunsOnceWithTheChangeInItsEnvironment) {
  const std::string record = path("alarm.txt");
  {
    Alarms alarms("printf '%s|%s|%s|%s|%s|%s|%s' \"$KIVO_CHECK\" \"$KIVO_STAVE\" \"$KIVO_CHIP\" \"$KIVO_VERDICT\" "
                  "\"$KIVO_RUN\" \"$KIVO_REASON\" \"$HOME\" >> " + record,
                  limits, report);
    alarms.raise(kDeadChip, 7);
  }  // waits for the command
  EXPECT_EQ(read(record), "dead_chip|2|5|Bad|7|stave 2, chip 5: 0 hits \"quoted\"|" + std::string(getenv("HOME")));
  EXPECT_TRUE(reported.empty());
}

TEST_F(Outputs, ASlowAlarmDoesNotHoldUpWhoRaisesIt) {
  const std::string started = path("started"), release = path("release"), finished = path("finished");
  Alarms alarms("touch " + started + "; while [ ! -e " + release + " ]; do sleep 0.01; done; touch " + finished,
                limits, report);
  alarms.raise(kDeadChip, 1);
  alarms.raise({"hot_pixels", 1, kNone, Verdict::Bad, "35 hot pixels", 0}, 1);
  // Both raise() calls are back while the first command still waits.
  ASSERT_TRUE(appears(started));
  EXPECT_FALSE(std::filesystem::exists(finished));
  std::ofstream(release).close();
  EXPECT_TRUE(appears(finished));
}

TEST_F(Outputs, FailuresAndTheTimeLimitAreReported) {
  {
    Alarms alarms("exit 3", limits, report);
    alarms.raise(kDeadChip, 1);
  }
  {
    Alarms alarms("sleep 30", {0.1, 5, 60}, report);
    alarms.raise({"missing_packet", kNone, kNone, Verdict::Bad, "30%", 0}, 1);
  }
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], "--on-bad command for dead_chip stave 2 chip 5 failed: exit status 3");
  EXPECT_EQ(reported[1], "--on-bad command for missing_packet stopped after the time limit of 0.1 s");
}

TEST_F(Outputs, AFloodIsHeldBackAndCounted) {
  const std::string record = path("count.txt");
  {
    Alarms alarms("echo x >> " + record, {10, 2, 3600}, report);
    EXPECT_EQ(alarms.counts().raised, 0);
    for (int chip = 0; chip < 9; ++chip) alarms.raise({"dead_chip", 0, chip, Verdict::Bad, "", 0}, 1);
    EXPECT_EQ(alarms.counts().raised, 9);
    // Counted held back on the alarms' own thread.
    for (int wait = 0; wait < 500 && alarms.counts().held_back < 7; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(alarms.counts().held_back, 7);
  }
  EXPECT_EQ(read(record), "x\nx\n");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "--on-bad: 7 alarms held back: more than 2 within 3600 s");
}

}  // namespace
}  // namespace kivo::quality
