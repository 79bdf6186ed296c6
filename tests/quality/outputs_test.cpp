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

const Result kDeadChip{"occupancy", 2, 5, Verdict::Bad, "stave 2, chip 5: 0 hits \"quoted\"", 1};
const Alarm kDeadChipAlarm{"occupancy", 2, 5, Verdict::Bad, "stave 2, chip 5: 0 hits \"quoted\"", 7};

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
  EXPECT_EQ(line, "{\"time\":\"2024-05-01T12:00:03.250Z\",\"run\":7,\"event\":5000,\"check\":\"occupancy\","
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
                  "", limits, report);
    alarms.raise(kDeadChipAlarm);
    alarms.raise({"occupancy", 2, kNone, Verdict::Good, "recovered", 7});  // no --on-good: nothing runs
  }  // waits for the command
  EXPECT_EQ(read(record), "occupancy|2|5|Bad|7|stave 2, chip 5: 0 hits \"quoted\"|" + std::string(getenv("HOME")));
  EXPECT_TRUE(reported.empty());
}

TEST_F(Outputs, ASlowAlarmDoesNotHoldUpWhoRaisesIt) {
  const std::string started = path("started"), release = path("release"), finished = path("finished");
  Alarms alarms("touch " + started + "; while [ ! -e " + release + " ]; do sleep 0.01; done; touch " + finished,
                "", limits, report);
  alarms.raise(kDeadChipAlarm);
  alarms.raise({"hot_pixels", 1, kNone, Verdict::Bad, "35 hot pixels", 1});
  // Both raise() calls are back while the first command still waits.
  ASSERT_TRUE(appears(started));
  EXPECT_FALSE(std::filesystem::exists(finished));
  std::ofstream(release).close();
  EXPECT_TRUE(appears(finished));
}

TEST_F(Outputs, FailuresAndTheTimeLimitAreReported) {
  {
    Alarms alarms("exit 3", "", limits, report);
    alarms.raise(kDeadChipAlarm);
  }
  {
    Alarms alarms("sleep 30", "", {0.1, 5, 60}, report);
    alarms.raise({"missing_packet", kNone, kNone, Verdict::Bad, "30%", 1});
  }
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], "--on-bad command for occupancy stave 2 chip 5 failed: exit status 3");
  EXPECT_EQ(reported[1], "--on-bad command for missing_packet stopped after the time limit of 0.1 s");
}

TEST_F(Outputs, AFloodIsHeldBackAndDeliveredAsOneSummary) {
  const std::string record = path("count.txt");
  {
    Alarms alarms("echo \"$KIVO_CHECK $KIVO_HELD_BACK $KIVO_REASON\" >> " + record, "", {10, 2, 3600}, report);
    for (int chip = 0; chip < 9; ++chip)
      alarms.raise({"occupancy", 0, chip, Verdict::Bad, "chip " + std::to_string(chip), 1});
    for (int i = 0; i < 500 && alarms.counts().held_back < 7; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(alarms.counts().held_back, 7);
    EXPECT_EQ(alarms.counts().raised, 2);
  }
  const std::string text = read(record);
  EXPECT_NE(text.find("occupancy  chip 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("occupancy  chip 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nheld_back 7 7 alarms held back (more than 2 within 3600 s): occupancy stave 0 chip 2: chip 2; "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("occupancy stave 0 chip 8: chip 8\n"), std::string::npos) << "none is dropped: " << text;
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "--on-bad: 7 alarms held back: more than 2 within 3600 s; delivered as one summary");
}

TEST_F(Outputs, WhatTheCommandLeavesRunningEndsWithIt) {
  const std::string pid_file = path("child.pid");
  {
    Alarms alarms("sleep 299 & echo $! > " + pid_file, "", limits, report);
    alarms.raise(kDeadChipAlarm);
  }
  const pid_t child = static_cast<pid_t>(std::stol(read(pid_file)));
  // Gone, or a zombie that no one reaps here.
  const auto ended = [child] {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid, name, state;
    return !(stat >> pid >> name >> state) || state == "Z";
  };
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = ended();
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "the background child of the alarm command outlived it";
}

TEST_F(Outputs, RecoveriesRunTheGoodCommand) {
  const std::string record = path("good.txt");
  {
    Alarms alarms("", "echo \"$KIVO_VERDICT $KIVO_STAVE $KIVO_REASON\" >> " + record, limits, report);
    alarms.raise(kDeadChipAlarm);  // no --on-bad: nothing runs
    alarms.raise({"occupancy", 2, kNone, Verdict::Good, "stave 2: no verdict is Bad any more", 7});
  }
  EXPECT_EQ(read(record), "Good 2 stave 2: no verdict is Bad any more\n");
}

}  // namespace
}  // namespace kivo::quality
