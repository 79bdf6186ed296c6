// The prompt on a terminal: kivo runs in a pseudo-terminal, as an operator
// would use it, with tab completion, Ctrl-C, Ctrl-D and the history file.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kivo_process.h"

namespace {

class PromptPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = kivo::test::temporary_directory();
    pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("HOME", home.c_str(), 1);
      execl(KIVO_BIN, KIVO_BIN, "-b", "--plugin", STUB_PLUGIN, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(terminal);
    std::filesystem::remove_all(home);
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads the terminal until `text` has appeared since the last call.
  bool expect(const std::string& text) { return expect_within(text, kivo::test::kGenerousMs); }
  bool expect_within(const std::string& text, int timeout_ms) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (screen.find(text, seen) == std::string::npos) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      pollfd input{terminal, POLLIN, 0};
      if (poll(&input, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t count = read(terminal, buffer, sizeof buffer);
      if (count <= 0) return false;
      screen.append(buffer, static_cast<std::size_t>(count));
    }
    seen = screen.find(text, seen) + text.size();
    return true;
  }

  int exit_status() {
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string home;
  pid_t pid = -1;
  int terminal = -1;
  std::string screen;
  std::size_t seen = 0;
};

TEST_F(PromptPtyTest, CompletesDropsLinesOnCtrlCAndKeepsHistory) {
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("set_verb\t3);\r");
  ASSERT_TRUE(expect("set_verbose 3")) << screen;
  ASSERT_TRUE(expect("kivo> "));
  type("process_h\t)\r");
  ASSERT_TRUE(expect("process_histos 10")) << screen;
  ASSERT_TRUE(expect("(int) 7"));
  ASSERT_TRUE(expect("kivo> "));  // readline owns the terminal again
  type("reset_histos(");
  ASSERT_TRUE(expect("reset_histos("));
  kill(pid, SIGINT);
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("OM();\r");
  ASSERT_TRUE(expect("OM")) << screen;
  ASSERT_TRUE(expect("kivo> "));
  type("\x04");
  EXPECT_EQ(exit_status(), 0);
  EXPECT_EQ(screen.find("reset_histos\r\n"), std::string::npos) << "the interrupted line ran";
  EXPECT_EQ(kivo::test::read_file(home + "/.kivo_history"), "set_verbose(3);\nprocess_histos()\nOM();\n");
}

// At a terminal Ctrl-C stops run() and ends its line, and the prompt stays.
TEST_F(PromptPtyTest, CtrlCStopsRunAndReturnsToThePrompt) {
  const std::string growing = home + "/growing.kevt";
  kivo::test::pack("run 1\nevent\n", growing);
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("stop(); set_verbose(3); follow(\"" + growing + "\")\r");
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("run(); mask_pixels()\r");
  ASSERT_TRUE(expect("event type 1 run 1")) << screen;  // run() waits for more now
  bool stopped = false;
  for (int attempt = 0; attempt < 100 && !stopped; ++attempt) {
    kill(pid, SIGINT);
    stopped = expect_within("interrupted after 2 events", 200);
  }
  ASSERT_TRUE(stopped) << screen;
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("OM();\r");
  ASSERT_TRUE(expect("OM")) << screen;
  // A Ctrl-D typed ahead while the line runs reaches a terminal in line mode,
  // which keeps no end of input for the editor's key-by-key reading.
  ASSERT_TRUE(expect("kivo> ")) << screen;
  type("\x04");
  EXPECT_EQ(exit_status(), 0);
  EXPECT_EQ(screen.find("mask_pixels 5"), std::string::npos) << "the rest of the stopped line ran";
}

// Ended by a signal while the line editor reads, kivo leaves the terminal
// echoing whole lines again, as it found it.
TEST_F(PromptPtyTest, TerminalIsPutBackWhenASignalEndsKivo) {
  ASSERT_TRUE(expect("kivo> ")) << screen;
  termios reading{};
  ASSERT_EQ(tcgetattr(terminal, &reading), 0);
  ASSERT_EQ(reading.c_lflag & ICANON, 0u) << "the line editor reads key by key";
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(), 128 + SIGTERM);
  termios after{};
  ASSERT_EQ(tcgetattr(terminal, &after), 0);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  EXPECT_NE(after.c_lflag & ECHO, 0u);
}

}  // namespace
