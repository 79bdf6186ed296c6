// Runs the kivo program (or another tool) as a child process with pipes on
// its standard input, output and error, for the end-to-end tests.
#ifndef KIVO_TESTS_HOST_KIVO_PROCESS_H
#define KIVO_TESTS_HOST_KIVO_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace kivo::test {

struct Finished {
  int status;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs `argv` to completion with `input` on its standard input.
Finished run_program(const std::vector<std::string>& argv, const std::string& input = "");

// A child that keeps running while the test talks to it.
// Long enough for anything a working kivo does in these tests, also when the
// sanitizers slow it several times over and the tests run side by side.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kGenerousMs = 150000;
#else
inline constexpr int kGenerousMs = 30000;
#endif

class LiveProcess {
 public:
  explicit LiveProcess(const std::vector<std::string>& argv);
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  void write(const std::string& text);
  void interrupt();  // SIGINT, as Ctrl-C sends
  void send(int signal);
  pid_t pid() const { return pid_; }
  void close_input();
  // Closes the reading end of its standard output, as `| head -1` does.
  void close_output();
  // Reads output until standard output (error) contains `text` (true) or
  // the child ends or `timeout_ms` pass (false).
  bool wait_for_out(const std::string& text, int timeout_ms = kGenerousMs);
  bool wait_for_err(const std::string& text, int timeout_ms = kGenerousMs);
  // Waits for the child to end (killing it after `timeout_ms`) and returns its status.
  int wait(int timeout_ms = kGenerousMs);
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  bool wait_for(const std::string& text, const std::string& stream, int timeout_ms);
  bool pump(int timeout_ms);

  pid_t pid_ = -1;
  int in_ = -1, out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
};

// Packs the text form of events into the stream file `path` with kivo-pack.
void pack(const std::string& text, const std::string& path);

// The whole content of a file, binary or not; empty when it cannot be read.
std::string read_file(const std::string& path);

// A fresh empty directory for one test.
std::string temporary_directory();

}  // namespace kivo::test

#endif
