// kivo ended by a signal in the middle of writing a file leaves nothing behind:
// no temporary of save(), no renderer of snapshot() that goes on and writes
// the image, and what a killed kivo could not remove goes with the next output
// of the same file, or at the next start for the mask directory. A first
// SIGTERM or SIGHUP lets the command under way finish; a second ends kivo at
// once, which is what these tests send.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "RootFileKeys.h"
#include "kivo_process.h"

namespace {

namespace fs = std::filesystem;
using kivo::test::LiveProcess;
using kivo::test::run_program;

std::vector<std::string> temporaries_in(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".partial-") != std::string::npos) found.push_back(name);
  }
  return found;
}

// Tells when a file whose name contains ".partial-" is created in a directory.
class TemporaryWatch {
 public:
  explicit TemporaryWatch(const std::string& directory) : fd_(inotify_init1(IN_CLOEXEC)) {
    inotify_add_watch(fd_, directory.c_str(), IN_CREATE);
  }
  ~TemporaryWatch() { close(fd_); }

  bool wait_for_temporary(int timeout_ms) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    alignas(inotify_event) char buffer[4096];
    while (std::chrono::steady_clock::now() < give_up) {
      pollfd watch{fd_, POLLIN, 0};
      if (poll(&watch, 1, 100) <= 0) continue;
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && std::string(event->name).find(".partial-") != std::string::npos) return true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return false;
  }

 private:
  int fd_;
};

// A process that exists and is not a zombie waiting to be reaped.
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const std::size_t state = text.rfind(')') + 2;
  return state < text.size() && text[state] != 'Z' && text[state] != 'X';
}

// The first child process of `parent`, 0 when it has none.
pid_t child_of(pid_t parent) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    if (!std::getline(stat, text) || text.rfind(')') == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(text.c_str() + text.rfind(')') + 2, "%c %d", &state, &ppid) == 2 && ppid == parent)
      return static_cast<pid_t>(std::stoi(name));
  }
  return 0;
}

template <class Condition>
bool eventually(Condition condition, int timeout_ms = kivo::test::kGenerousMs) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A second SIGTERM or SIGHUP, once kivo has taken the first, ends it at once.
void send_twice(LiveProcess& kivo, int signal) {
  kivo.send(signal);
  ASSERT_TRUE(kivo.wait_for_err(signal == SIGHUP ? "SIGHUP: ending" : "SIGTERM: ending")) << kivo.err();
  kivo.send(signal);
}

pid_t ended_process() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

class LeftoversTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = kivo::test::temporary_directory();
    events = directory + "/run.kevt";
    kivo::test::pack("run 4\nevent\nhit 1 4 200 17\n", events);
  }
  void TearDown() override { fs::remove_all(directory); }

  std::string directory;
  std::string events;
};

// The saved list holds the full hit maps, tens of megabytes: the signal comes
// while its temporary is written. A signal that comes only once the file is in
// place ends kivo too, and the attempt is repeated.
TEST_F(LeftoversTest, TerminationDuringALargeSaveLeavesNoTemporary) {
  const std::string saved = directory + "/monitor.json";
  const std::string dense = directory + "/dense.kevt";  // maps a third full: a save of about 100 MB
  ASSERT_EQ(run_program({KIVO_SIM, "--events", "600", "--noise", "3000", "-o", dense}).status, 0);
  bool ended_while_writing = false;
  for (int attempt = 0; attempt < 5 && !ended_while_writing; ++attempt) {
    for (const int signal : {SIGTERM, SIGHUP}) {
      TemporaryWatch watch(directory);
      LiveProcess kivo({KIVO_BIN, "-b", "-e", "run()", dense});
      kivo.write("save(\"" + saved + "\")\n");
      ASSERT_TRUE(watch.wait_for_temporary(kivo::test::kGenerousMs)) << kivo.err();
      send_twice(kivo, signal);
      EXPECT_EQ(kivo.wait(), 128 + signal);
      EXPECT_EQ(temporaries_in(directory), std::vector<std::string>{});
      ended_while_writing = !fs::exists(saved);
      fs::remove(saved);
    }
  }
  EXPECT_TRUE(ended_while_writing);
}

TEST_F(LeftoversTest, RendererEndsWithKivoAndNeverWritesTheImage) {
  const std::string image = directory + "/canvas.png";
  for (const int signal : {SIGTERM, SIGHUP, SIGKILL}) {
    LiveProcess kivo({KIVO_BIN, "-b", "-e", "run()", "-e", "OM();", events});
    kivo.write("snapshot(\"" + image + "\")\n");
    pid_t renderer = 0;
    ASSERT_TRUE(eventually([&] { return (renderer = child_of(kivo.pid())) != 0; })) << kivo.err();
    if (signal == SIGKILL)
      kivo.send(signal);
    else
      send_twice(kivo, signal);
    EXPECT_EQ(kivo.wait(), 128 + signal);
    EXPECT_TRUE(eventually([&] { return !running(renderer); })) << "renderer " << renderer << " outlived kivo";
    EXPECT_FALSE(fs::exists(image));
    if (signal != SIGKILL) {
      EXPECT_EQ(temporaries_in(directory), std::vector<std::string>{});
    }
  }
  // The next snapshot of the same file removes what the killed kivo left.
  auto run = run_program({KIVO_BIN, "-b", "-q", "-e", "run()", "-e", "OM();", "--snapshot", image, events});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(image));
  EXPECT_EQ(temporaries_in(directory), std::vector<std::string>{});
}

// Masking every pixel writes hundreds of megabytes: a signal that comes
// meanwhile leaves the mask files as they were and no temporary beside them.
TEST(MaskDirectoryTest, TerminationWhileWritingMasksLeavesTheOldFiles) {
  const std::string tb1 = std::string(KIVO_MASK_DIR) + "/masklist_testbench1.txt";
  const std::string tb2 = std::string(KIVO_MASK_DIR) + "/masklist_testbench2.txt";
  std::ofstream(tb1) << "old 1\n";
  std::ofstream(tb2) << "old 2\n";
  TemporaryWatch watch(KIVO_MASK_DIR);
  LiveProcess kivo({KIVO_BIN, "-b"});
  kivo.write("mask_pixels(-1);\n");
  ASSERT_TRUE(watch.wait_for_temporary(kivo::test::kGenerousMs)) << kivo.err();
  send_twice(kivo, SIGTERM);
  EXPECT_EQ(kivo.wait(), 128 + SIGTERM);
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(KIVO_MASK_DIR)) entries.push_back(entry.path().filename().string());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"masklist_testbench1.txt", "masklist_testbench2.txt"}));
  EXPECT_EQ(kivo::test::read_file(tb1), "old 1\n");
  EXPECT_EQ(kivo::test::read_file(tb2), "old 2\n");
}

class ArchiveLeftoversTest : public LeftoversTest {
 protected:
  void SetUp() override {
    LeftoversTest::SetUp();
    archive = directory + "/runs";
    fs::create_directory(archive);
  }

  // The run files in the archive directory.
  // The archive's files, the run registry's beside them left out.
  std::vector<std::string> runs() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(archive))
      if (!entry.path().filename().string().starts_with("registry")) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  }

  std::string archive;
};

// kivo following a run as the data acquisition writes it is stopped by
// systemd or by its terminal closing: the run in progress is archived whole,
// and kivo ends as the signal does, soon, leaving no temporary.
TEST_F(ArchiveLeftoversTest, TerminationArchivesTheRunInProgress) {
  const std::string stream = directory + "/run21.kevt";
  ASSERT_EQ(run_program({KIVO_SIM, "--run", "21", "-n", "1001", "-o", stream}).status, 0);
  for (const int signal : {SIGTERM, SIGHUP}) {
    fs::remove_all(archive);
    fs::create_directory(archive);
    LiveProcess kivo({KIVO_BIN, "-b", "--archive", archive, "-e", "follow(\"" + stream + "\")"});
    ASSERT_TRUE(eventually([&] {
      kivo.write("sources()\n");
      return kivo.wait_for_err("1002 events read", 200);
    })) << kivo.out() << kivo.err();
    const auto sent = std::chrono::steady_clock::now();
    kivo.send(signal);
    EXPECT_EQ(kivo.wait(), 128 + signal) << kivo.err();
    // Well within 10 s on an idle machine; bounded here by what a loaded one needs.
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_LT(took, std::chrono::milliseconds(kivo::test::kGenerousMs))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(runs(), std::vector<std::string>{"run21.root"}) << kivo.err();
    rootcompat::FileKeys contents;
    std::string error;
    ASSERT_TRUE(rootcompat::ReadFileKeys(archive + "/run21.root", contents, error)) << error;
    const auto fact = [&](const std::string& name) {
      for (const rootcompat::KeyRecord& key : contents.keys)
        if (key.name == name) return key.title;
      return std::string("(none)");
    };
    EXPECT_EQ(fact("run_data_events"), "1001");
    EXPECT_EQ(fact("run_end_seen"), "no");
    EXPECT_NE(kivo.err().find("ending once the command or event under way is done"), std::string::npos);
  }
}

// A kivo killed while it writes a run leaves the run's temporary; the next
// kivo with the same archive removes it before it reads any event.
TEST_F(ArchiveLeftoversTest, AKilledWriterLeavesNoTemporaryPastTheNextStart) {
  bool killed_while_writing = false;
  for (int attempt = 0; attempt < 3 && !killed_while_writing; ++attempt) {
    TemporaryWatch watch(archive);
    LiveProcess kivo({KIVO_BIN, "-b", "-q", "--archive", archive, events});
    ASSERT_TRUE(watch.wait_for_temporary(kivo::test::kGenerousMs)) << kivo.err();
    kivo.send(SIGKILL);
    EXPECT_EQ(kivo.wait(), 128 + SIGKILL);
    killed_while_writing = !temporaries_in(archive).empty();
    auto restart = run_program({KIVO_BIN, "-b", "-q", "--plugin", STUB_PLUGIN, "--archive", archive});
    EXPECT_EQ(restart.status, 0) << restart.err;
    EXPECT_EQ(temporaries_in(archive), std::vector<std::string>{});
    if (killed_while_writing) {
      EXPECT_NE(restart.err.find("archive: removed 1 temporary file left in " + archive), std::string::npos)
          << restart.err;
    }
    fs::remove_all(archive);
    fs::create_directory(archive);
  }
  EXPECT_TRUE(killed_while_writing);
}

// At start, kivo removes the temporaries of ended writers from the mask
// directory; a temporary of a writer that still runs stays.
TEST(MaskDirectoryTest, StaleTemporariesAreRemovedAtStart) {
  const std::string stale =
      std::string(KIVO_MASK_DIR) + "/masklist_testbench1.txt.partial-" + std::to_string(ended_process()) + "-AbC123";
  const std::string live =
      std::string(KIVO_MASK_DIR) + "/masklist_testbench2.txt.partial-" + std::to_string(getpid()) + "-AbC123";
  std::ofstream(stale) << "half a mask";
  std::ofstream(live) << "being written";
  auto run = run_program({KIVO_BIN, "-b", "-q", "--plugin", STUB_PLUGIN});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  fs::remove(live);
  // Another kivo of a test running beside this one may have removed it first.
  const std::string said = "kivo: removed 1 temporary file left in the mask directory by a kivo that ended\n";
  EXPECT_TRUE(run.err == said || run.err.empty()) << run.err;
}

}  // namespace
