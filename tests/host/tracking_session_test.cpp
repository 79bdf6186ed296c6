// The track reconstruction inside kivo: fed by the monitor, its objects in
// save() and the run archive, emptied with the monitor's raw histograms,
// off when the configuration says so, and changing nothing the monitor
// shows or prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "kivo_process.h"

namespace {

using kivo::test::Finished;
using kivo::test::run_program;

class TrackingSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string path(const std::string& name) const { return directory + "/" + name; }

  std::string simulate(const std::string& name, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {KIVO_SIM, "--events", "3000", "--seed", "3", "--stave-shift-col", "-600",
                                     "-o", path(name)};
    argv.insert(argv.end() - 2, extra.begin(), extra.end());
    const Finished sim = run_program(argv);
    EXPECT_EQ(sim.status, 0) << sim.err;
    return path(name);
  }
  Finished kivo(std::vector<std::string> options, const std::vector<std::string>& commands, const std::string& stream) {
    std::vector<std::string> argv = {KIVO_BIN, "-b", "-q"};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& command : commands) argv.insert(argv.end(), {"-e", command});
    argv.push_back(stream);
    return run_program(argv);
  }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(path(name)) << text;
    return path(name);
  }

  std::string directory;
};

TEST_F(TrackingSessionTest, SaveHoldsTheTrackingObjectsAndTheAlignmentIsLogged) {
  const std::string stream = simulate("run.kevt");
  const std::string json = path("x.json"), root = path("x.root");
  const Finished run = kivo({}, {"run()", "save(\"" + json + "\")", "save(\"" + root + "\")"}, stream);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::regex_search(run.err, std::regex("kivo: tracking: stave 0 aligned to stave 3: \\+(1799\\.[5-9]|1800\\.[0-4]) columns")))
      << run.err;
  const std::string saved = kivo::test::read_file(json), file = kivo::test::read_file(root);
  for (const char* name : {"htrack_total_0", "htrack_matched_3", "hresidual_col_2", "hresidual_row_1", "hcluster_size_0",
                           "htracks_per_event", "htrack_lag_1", "hmoved_cells_2", "htrack_offset_col", "galign_col_1",
                           "htrack_events", "tracking_alignment"}) {
    EXPECT_NE(saved.find("\"fName\":\"" + std::string(name) + "\""), std::string::npos) << name;
    EXPECT_NE(file.find(name), std::string::npos) << name;
  }
  EXPECT_TRUE(std::regex_search(saved, std::regex("stave 1: \\+(1199\\.[5-9]|1200\\.[0-4]) columns")));
}

TEST_F(TrackingSessionTest, OffItKeepsNothingAndTheMonitorPrintsTheSame) {
  const std::string stream = simulate("run.kevt");
  const std::string off = write("off.toml", "[tracking]\nenabled = false\n");
  const std::string json = path("off.json");
  const std::vector<std::string> commands = {"set_refresh(1000)", "run()", "print_status()", "OM()"};
  std::vector<std::string> saving = commands;
  saving.push_back("save(\"" + json + "\")");
  const Finished without = kivo({"--checks", off}, saving, stream);
  const Finished with = kivo({}, commands, stream);
  ASSERT_EQ(without.status, 0) << without.err;
  ASSERT_EQ(with.status, 0) << with.err;
  EXPECT_EQ(with.out, without.out);
  EXPECT_EQ(without.err.find("tracking:"), std::string::npos) << without.err;
  EXPECT_EQ(kivo::test::read_file(json).find("htrack_total_0"), std::string::npos);
}

TEST_F(TrackingSessionTest, TheRunArchiveKeepsThemAndResetEmptiesThem) {
  const std::string stream = simulate("run.kevt", {"--end-run", "--run", "42"});
  const std::string archive = path("archive"), json = path("reset.json");
  std::filesystem::create_directory(archive);
  const Finished run = kivo({"--archive", archive}, {"run()", "reset_histos()", "save(\"" + json + "\")"}, stream);
  ASSERT_EQ(run.status, 0) << run.err;
  std::string file;
  for (const auto& entry : std::filesystem::directory_iterator(archive))
    if (entry.path().extension() == ".root") file = kivo::test::read_file(entry.path());
  ASSERT_FALSE(file.empty());
  for (const char* name : {"htrack_total_3", "hmoved_col_0", "galign_row_2", "tracking_alignment"})
    EXPECT_NE(file.find(name), std::string::npos) << name;
  // Emptied with the monitor's histograms: no events, no tracks.
  const std::string saved = kivo::test::read_file(json);
  const std::size_t events = saved.find("\"fName\":\"htrack_events\"");
  ASSERT_NE(events, std::string::npos);
  EXPECT_LT(saved.find("\"fArray\":[0,0,0,0]", events), saved.find("\"fName\":\"tracking_alignment\"", events));
}

}  // namespace
