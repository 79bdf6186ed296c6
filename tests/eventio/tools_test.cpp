// kivo-pack, kivo-dump and kivo-sim as programs, and the simulator's hit placement.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "Simulator.h"
#include "StreamFormat.h"
#include "StreamReader.h"
#include "TextFormat.h"
#include "eventio_test_support.h"

namespace kivo::eventio {
namespace {

using testing::ScratchDir;

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

TEST(Tools, PackDumpPackGivesIdenticalBytes) {
  ScratchDir dir;
  testing::write_file(dir.file("in.txt"),
                      "# sample\nrun 4\nevent\nhit 1 1 3 4\nunit 2\nword 1 28 0x12345678\nevent nopacket\nend 4\n");
  ASSERT_EQ(run(std::string(KIVO_PACK) + " " + quoted(dir.file("in.txt")) + " " + quoted(dir.file("a.kevt"))), 0);
  ASSERT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(dir.file("a.kevt")) + " " + quoted(dir.file("a.txt"))), 0);
  ASSERT_EQ(run("cat " + quoted(dir.file("a.txt")) + " | " + KIVO_PACK + " - - > " + quoted(dir.file("b.kevt"))), 0);
  EXPECT_EQ(testing::read_file(dir.file("a.kevt")), testing::read_file(dir.file("b.kevt")));
  EXPECT_EQ(testing::read_file(dir.file("a.txt")),
            "run 4\nevent\nhit 1 1 3 4\nword 1 28 0x12345678\nunit 2\nevent nopacket\nend 4\n")
      << "canonical: each unit's lines together, units in order of first appearance";
}

// A begin-run event that carries a packet keeps its run number through
// kivo-dump and kivo-pack.
TEST(Tools, BeginRunEventWithAPacketRoundTrips) {
  ScratchDir dir;
  EventRecord begin = testing::data_event(6, 0, 3, 10, 20);
  begin.type = kBeginRunEventType;
  const std::string stream = testing::stream_of({begin, testing::data_event(6, 1, 1, 1, 1)});
  testing::write_file(dir.file("in.kevt"), stream);
  ASSERT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(dir.file("in.kevt")) + " " + quoted(dir.file("a.txt"))), 0);
  EXPECT_EQ(testing::read_file(dir.file("a.txt")), "run 6 packet\nhit 1 3 10 20\nevent\nhit 1 1 1 1\n");
  ASSERT_EQ(run(std::string(KIVO_PACK) + " " + quoted(dir.file("a.txt")) + " " + quoted(dir.file("b.kevt"))), 0);
  EXPECT_EQ(testing::read_file(dir.file("b.kevt")), stream);
}

TEST(Tools, PackRefusesABadLineAndWritesNothing) {
  ScratchDir dir;
  testing::write_file(dir.file("bad.txt"), "run 1\nevent\nhit 1 1 3\n");
  const std::string out = dir.file("out.kevt");
  EXPECT_EQ(run(std::string(KIVO_PACK) + " " + quoted(dir.file("bad.txt")) + " " + quoted(out) + " 2> " +
                quoted(dir.file("err"))),
            1);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_NE(testing::read_file(dir.file("err")).find("bad.txt: line 3: too few fields"), std::string::npos);
}

TEST(Tools, DumpReportsDamageAndExitsNonZero) {
  ScratchDir dir;
  std::string bytes = testing::stream_of({testing::data_event(0, 0, 1, 1, 1), testing::data_event(0, 1, 2, 2, 2)});
  bytes.resize(bytes.size() - 3);
  testing::write_file(dir.file("cut.kevt"), bytes);
  EXPECT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(dir.file("cut.kevt")) + " > " + quoted(dir.file("out.txt")) +
                " 2> " + quoted(dir.file("err"))),
            1);
  EXPECT_EQ(testing::read_file(dir.file("out.txt")), "event\nhit 1 1 1 1\n");
  EXPECT_NE(testing::read_file(dir.file("err")).find("truncated record"), std::string::npos);
}

TEST(Tools, DumpOutputAppearsWholeAndLinksStayLinks) {
  ScratchDir dir;
  testing::write_file(dir.file("in.kevt"), testing::stream_of({testing::data_event(0, 0, 1, 1, 1)}));
  const std::string dump = std::string(KIVO_DUMP) + " " + quoted(dir.file("in.kevt")) + " ";
  ASSERT_EQ(run(dump + quoted(dir.file("out.txt"))), 0);
  std::filesystem::create_symlink(dir.file("target.txt"), dir.file("link.txt"));
  ASSERT_EQ(run(dump + quoted(dir.file("link.txt"))), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(testing::read_file(dir.file("target.txt")), "event\nhit 1 1 1 1\n");
  EXPECT_EQ(testing::read_file(dir.file("out.txt")), "event\nhit 1 1 1 1\n");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.file(""))) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"in.kevt", "out.txt", "link.txt", "target.txt"}))
      << "no temporary file is left";
}

// Other packets and sequence numbers that kivo-pack would not give back are
// named; a gap or a restart once, where it occurs. Every event is still written.
TEST(Tools, DumpReportsEventsTheTextCannotHold) {
  ScratchDir dir;
  const std::string path = dir.file("in.kevt");
  const auto event = [](std::uint32_t sequence) { return testing::data_event(0, sequence, 1, 1, 1); };
  testing::write_file(path, testing::stream_of({}) + testing::record_with_packets(event(0), {7}) +
                                testing::stream_of({event(1), event(3), event(4)}) +
                                testing::stream_of({event(0), event(1)}));
  EXPECT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(path) + " " + quoted(dir.file("out.txt")) + " 2> " +
                quoted(dir.file("err"))),
            1);
  const std::string prefix = "kivo-dump: " + path + ": event ";
  EXPECT_EQ(testing::read_file(dir.file("err")),
            prefix + "0: 1 packet with an id other than 2000 not written\n" + prefix +
                "3: sequence number not kept: the text form numbers this event 2 and counts on from there\n" +
                prefix + "0: sequence number not kept: the text form numbers this event 4 and counts on from there\n");
  std::string text;
  for (int i = 0; i < 6; ++i) text += "event\nhit 1 1 1 1\n";
  EXPECT_EQ(testing::read_file(dir.file("out.txt")), text);
}

// The output names the input itself, or reaches it through a symbolic or hard link.
TEST(Tools, OutputThatIsTheInputIsRefused) {
  ScratchDir dir;
  const std::string in = dir.file("in.kevt"), text = dir.file("in.txt"), err = " 2> " + quoted(dir.file("err"));
  const std::string stream = testing::stream_of({testing::data_event(0, 0, 1, 1, 1)});
  testing::write_file(in, stream);
  testing::write_file(text, "event\n");
  std::filesystem::create_symlink(in, dir.file("sym"));
  std::filesystem::create_hard_link(in, dir.file("hard"));
  for (const std::string& out : {in, dir.file("sym"), dir.file("hard")}) {
    EXPECT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(in) + " " + quoted(out) + err), 2);
    EXPECT_EQ(testing::read_file(dir.file("err")), "kivo-dump: output '" + out + "' is the same file as input '" + in +
                                                       "'; refusing to overwrite the input (see kivo-dump --help)\n");
  }
  EXPECT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(in) + " >> " + quoted(in) + err), 2) << "standard output";
  EXPECT_EQ(run(std::string(KIVO_PACK) + " " + quoted(text) + " " + quoted(text) + err), 2);
  EXPECT_EQ(testing::read_file(dir.file("err")), "kivo-pack: output '" + text + "' is the same file as input '" +
                                                     text + "'; refusing to overwrite the input (see kivo-pack --help)\n");
  EXPECT_EQ(testing::read_file(in), stream);
  EXPECT_EQ(testing::read_file(text), "event\n");
}

TEST(Tools, UnusableFilesAreNamedWithTheReason) {
  ScratchDir dir;
  const std::string err = " 2> " + quoted(dir.file("err"));
  EXPECT_EQ(run(std::string(KIVO_PACK) + " " + quoted(dir.file("none.txt")) + err), 1);
  EXPECT_EQ(testing::read_file(dir.file("err")),
            "kivo-pack: " + dir.file("none.txt") + ": No such file or directory\n");
  EXPECT_EQ(run(std::string(KIVO_PACK) + " " + quoted(dir.file("")) + err), 1);
  EXPECT_EQ(testing::read_file(dir.file("err")), "kivo-pack: " + dir.file("") + ": Is a directory\n");
  EXPECT_EQ(run(std::string(KIVO_PACK) + " - " + quoted(dir.file("out.kevt")) + " < " + quoted(dir.file("")) + err), 1);
  EXPECT_EQ(testing::read_file(dir.file("err")), "kivo-pack: standard input: read error: Is a directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.kevt")));
  testing::write_file(dir.file("in.kevt"), testing::stream_of({}));
  const std::string missing = dir.file("no/such/dir/out.txt");
  EXPECT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(dir.file("in.kevt")) + " " + quoted(missing) + err), 1);
  EXPECT_EQ(testing::read_file(dir.file("err")), "kivo-dump: " + missing + ": No such file or directory\n");
}

// kivo-dump writing `output` from `input`, with SIGINT, SIGTERM and SIGHUP
// unblocked and at their default action, or SIGHUP ignored as under nohup.
pid_t start_dump(int input, const std::string& output, bool ignore_hangup) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, ignore_hangup ? SIG_IGN : SIG_DFL);
  dup2(input, STDIN_FILENO);
  execl(KIVO_DUMP, KIVO_DUMP, "-", output.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

bool has_partial(const ScratchDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
    if (entry.path().filename().string().find(".partial-") != std::string::npos) return true;
  return false;
}

// kivo-dump waits on its open pipe, its output half written. A signal removes
// the temporary and ends the tool as that signal does; an ignored hangup
// leaves it to finish once the pipe closes.
TEST(Tools, SignalRemovesTheTemporaryOutput) {
  const std::string stream = testing::stream_of({testing::data_event(0, 0, 1, 1, 1)});
  for (const auto& [signal, ignored] : {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}}) {
    ScratchDir dir;
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    ASSERT_EQ(write(pipe_fds[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    const pid_t pid = start_dump(pipe_fds[0], dir.file("out.txt"), ignored);
    close(pipe_fds[0]);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!has_partial(dir) && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(kill(pid, has_partial(dir) ? signal : SIGKILL), 0);
    close(pipe_fds[1]);  // the signal is already pending
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (ignored)
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    else
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal << ", status " << status;
    EXPECT_FALSE(has_partial(dir));
    EXPECT_EQ(std::filesystem::exists(dir.file("out.txt")), ignored);
  }
}

TEST(Tools, SimulatorIsDeterministicForASeed) {
  ScratchDir dir;
  const std::string sim = std::string(KIVO_SIM) + " --events 300 --missing-packet 0.1 --unmapped 0.5 --end-run";
  ASSERT_EQ(run(sim + " --seed 5 -o " + quoted(dir.file("a.kevt"))), 0);
  ASSERT_EQ(run(sim + " --seed 5 > " + quoted(dir.file("b.kevt"))), 0);
  ASSERT_EQ(run(sim + " --seed 6 -o " + quoted(dir.file("c.kevt"))), 0);
  EXPECT_EQ(testing::read_file(dir.file("a.kevt")), testing::read_file(dir.file("b.kevt")));
  EXPECT_NE(testing::read_file(dir.file("a.kevt")), testing::read_file(dir.file("c.kevt")));
  EXPECT_NE(run(std::string(KIVO_SIM) + " --events x 2>/dev/null"), 0);
}

// The three tools share one command line: the same message for an unknown
// option, a missing value and a bad value, exit status 2, and -o beside the
// OUTPUT operand.
TEST(Tools, UsageErrorsReadAlikeAndOutputComesWithO) {
  ScratchDir dir;
  const std::string err = " 2> " + quoted(dir.file("err"));
  const auto error_of = [&](const std::string& program, const std::string& arguments) {
    EXPECT_EQ(run(program + " " + arguments + err), 2) << program << " " << arguments;
    return testing::read_file(dir.file("err"));
  };
  for (const auto& [program, name] : {std::pair{KIVO_SIM, "kivo-sim"}, std::pair{KIVO_PACK, "kivo-pack"},
                                      std::pair{KIVO_DUMP, "kivo-dump"}}) {
    const std::string see = " (see " + std::string(name) + " --help)\n";
    EXPECT_EQ(error_of(program, "--bogus"), name + std::string(": --bogus: unknown option") + see);
    EXPECT_EQ(error_of(program, "-o"), name + std::string(": -o: needs a value") + see);
  }
  EXPECT_EQ(error_of(KIVO_SIM, "--events x"), "kivo-sim: --events: 'x' is not a count (0 or more) (see kivo-sim --help)\n");
  EXPECT_EQ(error_of(KIVO_DUMP, "-n -2"), "kivo-dump: -n: '-2' must not be negative (see kivo-dump --help)\n");
  EXPECT_EQ(error_of(KIVO_SIM, "--seed -1"), "kivo-sim: --seed: '-1' must not be negative (see kivo-sim --help)\n");
  EXPECT_EQ(error_of(KIVO_SIM, "--noise 1e9"), "kivo-sim: --noise: must be 0..10000 (see kivo-sim --help)\n");
  EXPECT_EQ(error_of(KIVO_PACK, "a b c"), "kivo-pack: c: too many operands: INPUT and OUTPUT at most (see kivo-pack --help)\n");

  ASSERT_EQ(run(std::string(KIVO_SIM) + " -n 3 --end-run -o " + quoted(dir.file("sim.kevt"))), 0);
  ASSERT_EQ(run(std::string(KIVO_DUMP) + " --events 2 -o " + quoted(dir.file("two.txt")) + " " + quoted(dir.file("sim.kevt"))), 0);
  ASSERT_EQ(run(std::string(KIVO_PACK) + " --output=" + quoted(dir.file("two.kevt")) + " " + quoted(dir.file("two.txt"))), 0);
  ASSERT_EQ(run(std::string(KIVO_DUMP) + " " + quoted(dir.file("two.kevt")) + " " + quoted(dir.file("again.txt"))), 0);
  const std::string text = testing::read_file(dir.file("again.txt"));
  EXPECT_EQ(text, testing::read_file(dir.file("two.txt")));
  EXPECT_EQ(text.rfind("run 1\nevent\n", 0), 0u) << text.substr(0, 40);
}

// The detector's channel map: (ruid, ruchn) -> (stave, chip).
const std::map<std::pair<int, int>, std::pair<int, int>> kChannelMap = {
    {{1, 1}, {0, 0}},  {{1, 2}, {0, 1}},  {{1, 3}, {0, 2}},  {{1, 4}, {0, 3}},  {{1, 5}, {0, 4}},
    {{1, 6}, {0, 5}},  {{1, 7}, {0, 6}},  {{1, 8}, {0, 7}},  {{1, 9}, {3, 8}},  {{1, 10}, {3, 7}},
    {{1, 11}, {3, 6}}, {{1, 12}, {3, 5}}, {{1, 13}, {3, 4}}, {{1, 14}, {3, 3}}, {{1, 15}, {3, 2}},
    {{1, 16}, {3, 1}}, {{1, 17}, {3, 0}}, {{1, 18}, {2, 8}}, {{1, 19}, {2, 7}}, {{1, 20}, {2, 6}},
    {{1, 21}, {2, 5}}, {{1, 22}, {2, 4}}, {{1, 23}, {2, 3}}, {{1, 24}, {2, 2}}, {{1, 25}, {2, 1}},
    {{1, 26}, {2, 0}}, {{1, 27}, {0, 8}}, {{2, 1}, {1, 2}},  {{2, 2}, {1, 1}},  {{2, 3}, {1, 0}},
    {{2, 4}, {1, 3}},  {{2, 5}, {1, 4}},  {{2, 6}, {1, 5}},  {{2, 7}, {1, 6}},  {{2, 8}, {1, 7}},
    {{2, 9}, {1, 8}},
};

// A narrow beam on chip `chip` of every stave, no noise or hot pixels: every hit must
// come back through the channel map onto that chip, and every stave must see it.
TEST(Simulator, HitsLandOnTheIntendedStaveAndChip) {
  for (int chip = 0; chip < 9; ++chip) {
    sim::SimConfig config;
    config.beam_col = chip * 1024 + 500;
    config.beam_sigma_col = 1;
    config.beam_row = 300;
    config.beam_sigma_row = 1;
    config.stave_shift_col = 10;
    config.stave_shift_row = 5;
    config.noise = 0;
    config.hot_pixels = 0;
    config.particles = 3;
    sim::Simulator simulator(config);
    std::set<int> staves_seen;
    for (std::uint32_t n = 0; n < 50; ++n) {
      const EventRecord record = simulator.data_event(n);
      for (const UnitWords& unit : record.units)
        for (const ChannelWords& channel : unit.channels) {
          const auto found = kChannelMap.find({unit.ruid, channel.ruchn});
          ASSERT_NE(found, kChannelMap.end()) << unit.ruid << "," << channel.ruchn;
          const auto [stave, mapped_chip] = found->second;
          EXPECT_EQ(mapped_chip, chip) << "unit " << unit.ruid << " channel " << channel.ruchn;
          staves_seen.insert(stave);
          for (std::uint32_t word : channel.words) {
            const int row = static_cast<int>(word >> 16), col = static_cast<int>(word & 0xFFFF);
            EXPECT_NEAR(col, 500 + stave * 10, 8);
            EXPECT_NEAR(row, 300 + stave * 5, 8);
          }
        }
    }
    EXPECT_EQ(staves_seen, (std::set<int>{0, 1, 2, 3})) << "chip " << chip;
  }
}

// Beyond int the pixel arithmetic wraps; a beam centred off the stave is
// allowed, for edge beams.
TEST(Simulator, BeamSettingsBeyondTheirRangeAreRefusedByName) {
  using sim::SimConfig;
  const std::pair<const char*, double SimConfig::*> settings[] = {
      {"--beam-col", &SimConfig::beam_col},             {"--beam-row", &SimConfig::beam_row},
      {"--beam-sigma-col", &SimConfig::beam_sigma_col}, {"--beam-sigma-row", &SimConfig::beam_sigma_row},
      {"--stave-shift-col", &SimConfig::stave_shift_col}, {"--stave-shift-row", &SimConfig::stave_shift_row}};
  for (const auto& [option, field] : settings)
    for (double value : {4294971904.0, -1e300, std::nan(""), 0.0, 1e6}) {
      SimConfig config;
      config.*field = value;
      const bool refused = std::isnan(value) || std::abs(value) > 1e6;
      EXPECT_EQ(sim::check_config(config).option == option, refused) << option << " " << value;
    }
  SimConfig config;
  config.beam_col = -50;
  config.beam_sigma_col = -1;
  const sim::ConfigProblem problem = sim::check_config(config);
  EXPECT_EQ(problem.option, "--beam-sigma-col") << "only the width is refused";
  EXPECT_EQ(problem.reason, "must be 0..1e6");
}

TEST(Simulator, UnmappedHitsAndMissingPacketsWhenAsked) {
  sim::SimConfig config;
  config.unmapped = 2;
  config.missing_packet = 0.5;
  sim::Simulator simulator(config);
  int without_packet = 0, unmapped_words = 0;
  for (std::uint32_t n = 0; n < 200; ++n) {
    const EventRecord record = simulator.data_event(n);
    without_packet += !record.has_packet;
    for (const UnitWords& unit : record.units)
      for (const ChannelWords& channel : unit.channels)
        if (unit.ruid == 1 && channel.ruchn == 28) unmapped_words += static_cast<int>(channel.words.size());
  }
  EXPECT_GT(without_packet, 50);
  EXPECT_LT(without_packet, 150);
  EXPECT_GT(unmapped_words, 50);
}

TEST(Simulator, HotPixelsFireInMostEvents) {
  sim::SimConfig config;
  config.particles = 0;
  config.noise = 0;
  config.hot_pixels = 2;
  config.hot_probability = 0.9;
  sim::Simulator simulator(config);
  std::map<std::tuple<int, int, std::uint32_t>, int> fired;
  for (std::uint32_t n = 0; n < 100; ++n)
    for (const UnitWords& unit : simulator.data_event(n).units)
      for (const ChannelWords& channel : unit.channels)
        for (std::uint32_t word : channel.words) ++fired[{unit.ruid, channel.ruchn, word}];
  EXPECT_EQ(fired.size(), 8u) << "two per stave";
  for (const auto& [pixel, count] : fired) EXPECT_GT(count, 75);
}

// Pixels (stave-wide column, row) of stave `stave` in one event.
std::set<std::pair<int, int>> stave_pixels(const EventRecord& record, int stave) {
  std::set<std::pair<int, int>> pixels;
  for (const UnitWords& unit : record.units)
    for (const ChannelWords& channel : unit.channels) {
      const auto found = kChannelMap.find({unit.ruid, channel.ruchn});
      if (found == kChannelMap.end() || found->second.first != stave) continue;
      for (std::uint32_t word : channel.words)
        pixels.insert({found->second.second * 1024 + static_cast<int>(word & 0xFFFF), static_cast<int>(word >> 16)});
    }
  return pixels;
}

// A beam of single-pixel clusters at the same place on every stave.
sim::SimConfig aligned_beam() {
  sim::SimConfig config;
  config.beam_col = 4608;
  config.beam_sigma_col = 200;
  config.stave_shift_col = 0;
  config.stave_shift_row = 0;
  config.max_cluster = 1;
  config.noise = 0;
  config.hot_pixels = 0;
  config.particles = 4;
  return config;
}

TEST(Simulator, DeadChipRecordsNothingFromTheFaultOn) {
  sim::SimConfig config = aligned_beam();
  config.beam_sigma_col = 2000;
  config.dead_chip = {2, 4};
  config.faults_from = 100;
  sim::Simulator simulator(config);
  int before = 0, after = 0, other_stave_after = 0;
  for (std::uint32_t n = 0; n < 200; ++n) {
    const EventRecord record = simulator.data_event(n);
    for (const auto& [column, row] : stave_pixels(record, 2))
      if (column / 1024 == 4) (n < 100 ? before : after)++;
    for (const auto& [column, row] : stave_pixels(record, 1)) other_stave_after += n >= 100 && column / 1024 == 4;
  }
  EXPECT_GT(before, 20);
  EXPECT_EQ(after, 0);
  EXPECT_GT(other_stave_after, 20) << "the same chip of another stave goes on";
}

TEST(Simulator, NoisyChipHasManyPixelsFiringOften) {
  sim::SimConfig config = aligned_beam();
  config.particles = 0;
  config.noisy_chip = {1, 7};
  sim::Simulator simulator(config);
  std::map<std::pair<int, int>, int> fired;
  for (std::uint32_t n = 0; n < 2000; ++n)
    for (const auto& pixel : stave_pixels(simulator.data_event(n), 1)) ++fired[pixel];
  EXPECT_GE(fired.size(), 30u);
  EXPECT_LE(fired.size(), static_cast<std::size_t>(sim::kNoisyPixels));
  for (const auto& [pixel, count] : fired) {
    EXPECT_EQ(pixel.first / 1024, 7);
    EXPECT_GT(count, 15) << "about 2% of 2000 events";
    EXPECT_LT(count, 80);
  }
}

TEST(Simulator, StaveOutOfSyncRecordsTheParticlesOfTheEventBefore) {
  sim::SimConfig config = aligned_beam();
  config.desync_stave = 1;
  config.faults_from = 3;
  sim::Simulator simulator(config);
  std::vector<EventRecord> events;
  for (std::uint32_t n = 0; n < 10; ++n) events.push_back(simulator.data_event(n));
  for (std::size_t n = 0; n < 3; ++n) EXPECT_EQ(stave_pixels(events[n], 1), stave_pixels(events[n], 0)) << n;
  EXPECT_TRUE(stave_pixels(events[3], 1).empty()) << "no event before the fault to take from";
  for (std::size_t n = 4; n < 10; ++n) EXPECT_EQ(stave_pixels(events[n], 1), stave_pixels(events[n - 1], 0)) << n;
}

TEST(Simulator, BeamDriftsFromTheFaultToTheLastEvent) {
  sim::SimConfig config = aligned_beam();
  config.beam_sigma_col = 5;
  config.events = 101;
  config.beam_drift_col = 3000;
  config.faults_from = 1;
  sim::Simulator simulator(config);
  const auto mean_column = [](const EventRecord& record) {
    double sum = 0;
    const auto pixels = stave_pixels(record, 0);
    for (const auto& [column, row] : pixels) sum += column;
    return pixels.empty() ? 0 : sum / static_cast<double>(pixels.size());
  };
  double first = 0, last = 0;
  for (std::uint32_t n = 0; n < 101; ++n) {
    const EventRecord record = simulator.data_event(n);
    if (n == 0) first = mean_column(record);
    if (n == 100) last = mean_column(record);
  }
  EXPECT_NEAR(first, 4608, 30);
  EXPECT_NEAR(last, 4608 + 3000, 30);
}

// Each stave's pixels of events with one particle: stave-wide column and row.
std::vector<std::array<std::pair<int, int>, 4>> single_particle_tracks(sim::Simulator& simulator, int events) {
  std::vector<std::array<std::pair<int, int>, 4>> tracks;
  for (std::uint32_t n = 0; n < static_cast<std::uint32_t>(events); ++n) {
    const EventRecord record = simulator.data_event(n);
    std::array<std::pair<int, int>, 4> track;
    bool single = true;
    for (int stave = 0; stave < 4 && single; ++stave) {
      const auto pixels = stave_pixels(record, stave);
      single = pixels.size() == 1;
      if (single) track[stave] = *pixels.begin();
    }
    if (single) tracks.push_back(track);
  }
  return tracks;
}

// With divergence each particle crosses the staves on a straight line of its own
// slope: the shift between neighbouring staves spreads by the divergence, and is
// the same from stave to stave along one track (up to rounding to pixels).
TEST(Simulator, DivergentTracksAreStraightWithSpreadSlopes) {
  sim::SimConfig config = aligned_beam();
  config.particles = 1;
  config.divergence = 6;
  sim::Simulator simulator(config);
  const auto tracks = single_particle_tracks(simulator, 3000);
  ASSERT_GT(tracks.size(), 800u);
  double sum_col = 0, sum_col2 = 0, sum_row2 = 0;
  for (const auto& track : tracks) {
    const int step_col = track[1].first - track[0].first, step_row = track[1].second - track[0].second;
    for (int stave = 2; stave < 4; ++stave) {
      EXPECT_NEAR(track[stave].first - track[stave - 1].first, step_col, 1);
      EXPECT_NEAR(track[stave].second - track[stave - 1].second, step_row, 1);
    }
    sum_col += step_col;
    sum_col2 += step_col * step_col;
    sum_row2 += step_row * step_row;
  }
  const double n = static_cast<double>(tracks.size());
  EXPECT_NEAR(sum_col / n, 0, 0.6);
  EXPECT_NEAR(std::sqrt(sum_col2 / n), 6, 0.6);
  EXPECT_NEAR(std::sqrt(sum_row2 / n), 6, 0.6);

  config.divergence = 0;
  sim::Simulator parallel(config);
  for (const auto& track : single_particle_tracks(parallel, 300))
    for (int stave = 1; stave < 4; ++stave) EXPECT_EQ(track[stave], track[0]);
}

// Each stave records a particle with the efficiency, independently of the others.
TEST(Simulator, EachStaveRecordsAParticleWithTheEfficiency) {
  sim::SimConfig config = aligned_beam();
  config.beam_sigma_col = 2000;
  config.efficiency = 0.8;
  sim::Simulator simulator(config);
  std::array<int, 4> recorded{};
  int both_0_and_1 = 0;
  const int events = 3000;
  long long particles = 0;
  for (std::uint32_t n = 0; n < events; ++n) {
    const EventRecord record = simulator.data_event(n);
    std::array<std::set<std::pair<int, int>>, 4> pixels;
    for (int stave = 0; stave < 4; ++stave) pixels[stave] = stave_pixels(record, stave);
    for (int stave = 0; stave < 4; ++stave) recorded[stave] += static_cast<int>(pixels[stave].size());
    for (const auto& pixel : pixels[0]) both_0_and_1 += pixels[1].count(pixel) > 0;
    particles += 4;  // the mean of aligned_beam's Poisson draw
  }
  for (int stave = 0; stave < 4; ++stave)
    EXPECT_NEAR(static_cast<double>(recorded[stave]) / static_cast<double>(particles), 0.8, 0.03) << stave;
  EXPECT_NEAR(static_cast<double>(both_0_and_1) / static_cast<double>(particles), 0.64, 0.03)
      << "staves miss particles independently";
}

// Between spills no particle crosses the staves; noise and hot pixels go on.
TEST(Simulator, SpillsLeaveOnlyNoiseAndHotPixelsBetweenThem) {
  sim::SimConfig config = aligned_beam();
  config.beam_sigma_col = 1;
  config.beam_row = 300;
  config.beam_sigma_row = 1;
  config.noise = 0.5;
  config.hot_pixels = 1;
  config.spill_on = 3;
  config.spill_off = 2;
  sim::Simulator simulator(config);
  int beam_hits_on = 0, beam_hits_off = 0, other_hits_off = 0;
  for (std::uint32_t n = 0; n < 500; ++n) {
    const EventRecord record = simulator.data_event(n);
    for (int stave = 0; stave < 4; ++stave)
      for (const auto& [column, row] : stave_pixels(record, stave)) {
        const bool beam = std::abs(column - 4608) <= 5 && std::abs(row - 300) <= 5;
        const bool on = n % 5 < 3;
        if (beam) (on ? beam_hits_on : beam_hits_off)++;
        if (!beam && !on) ++other_hits_off;
      }
  }
  EXPECT_GT(beam_hits_on, 300 * 4 * 3);
  EXPECT_EQ(beam_hits_off, 0);
  EXPECT_GT(other_hits_off, 200 * 4 / 2) << "noise and the hot pixel fire between spills";
}

TEST(Simulator, BeamRealismBeyondItsRangeIsRefused) {
  sim::SimConfig config;
  config.efficiency = 1.01;
  EXPECT_EQ(sim::check_config(config).option, "--efficiency");
  config = {};
  config.divergence = -1;
  EXPECT_EQ(sim::check_config(config).option, "--divergence");
  config = {};
  config.spill_off = 5;
  EXPECT_EQ(sim::check_config(config).option, "--spills") << "a beam that is never on";
  const std::string sim = std::string(KIVO_SIM) + " --events 1 -o /dev/null";
  EXPECT_EQ(run(sim + " --spills 100:50 --efficiency 0.99 --divergence 2"), 0);
  EXPECT_EQ(run(sim + " --spills 100:0"), 0) << "no pause: the beam is always on";
  EXPECT_NE(run(sim + " --spills 100 2>/dev/null"), 0);
  EXPECT_NE(run(sim + " --spills 0:100 2>/dev/null"), 0);
  EXPECT_NE(run(sim + " --spills -1:3 2>/dev/null"), 0);
  EXPECT_NE(run(sim + " --efficiency 2 2>/dev/null"), 0);
}

TEST(Simulator, FaultsNamingNoChipOrStaveAreRefused) {
  sim::SimConfig config;
  config.dead_chip = {4, 0};
  EXPECT_EQ(sim::check_config(config).option, "--dead-chip");
  config = {};
  config.noisy_chip = {0, 9};
  EXPECT_EQ(sim::check_config(config).reason, "must be S:C with stave S 0..3 and chip C 0..8");
  config = {};
  config.desync_stave = 4;
  EXPECT_EQ(sim::check_config(config).option, "--desync-stave");
  config = {};
  config.faults_from = -1;
  EXPECT_EQ(sim::check_config(config).reason, "must not be negative");
  config = {};
  config.beam_drift_row = 2e6;
  EXPECT_EQ(sim::check_config(config).option, "--beam-drift-row");
  const std::string sim = std::string(KIVO_SIM) + " --events 1 -o /dev/null";
  EXPECT_EQ(run(sim + " --dead-chip 2:5"), 0);
  EXPECT_NE(run(sim + " --dead-chip 25 2>/dev/null"), 0);
  EXPECT_NE(run(sim + " --noisy-chip 1:x 2>/dev/null"), 0);
}

}  // namespace
}  // namespace kivo::eventio
