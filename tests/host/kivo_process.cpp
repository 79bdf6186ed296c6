#include "kivo_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kivo::test {

namespace {

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace

LiveProcess::LiveProcess(const std::vector<std::string>& argv) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  pid_ = fork();
  if (pid_ == 0) {
    signal(SIGPIPE, SIG_DFL);  // as a shell starts it, not as this test ignores it
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
}

LiveProcess::~LiveProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
}

void LiveProcess::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t count = ::write(in_, text.data() + done, text.size() - done);
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

void LiveProcess::interrupt() { send(SIGINT); }

void LiveProcess::send(int signal) { kill(pid_, signal); }

void LiveProcess::close_output() {
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
}

void LiveProcess::close_input() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

// Reads whatever the child wrote; false once both outputs are closed.
bool LiveProcess::pump(int timeout_ms) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  if (poll(fds, 2, timeout_ms) <= 0) return true;
  char buffer[65536];
  int* descriptors[2] = {&out_fd_, &err_fd_};
  std::string* sinks[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (*descriptors[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    ssize_t count = read(*descriptors[i], buffer, sizeof buffer);
    if (count > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(count));
    } else {
      close(*descriptors[i]);
      *descriptors[i] = -1;
    }
  }
  return true;
}

bool LiveProcess::wait_for(const std::string& text, const std::string& stream, int timeout_ms) {
  auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (stream.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > give_up || !pump(100)) return false;
  }
  return true;
}

bool LiveProcess::wait_for_out(const std::string& text, int timeout_ms) {
  return wait_for(text, out_, timeout_ms);
}
bool LiveProcess::wait_for_err(const std::string& text, int timeout_ms) {
  return wait_for(text, err_, timeout_ms);
}

int LiveProcess::wait(int timeout_ms) {
  close_input();
  auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (pump(100) && std::chrono::steady_clock::now() < give_up) {
  }
  int status = 0;
  if (std::chrono::steady_clock::now() >= give_up) kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return decode_status(status);
}

Finished run_program(const std::vector<std::string>& argv, const std::string& input) {
  LiveProcess process(argv);
  process.write(input);
  int status = process.wait();
  return {status, process.out(), process.err()};
}

void pack(const std::string& text, const std::string& path) {
  Finished packed = run_program({KIVO_PACK, "-", path}, text);
  if (packed.status != 0) throw std::runtime_error("kivo-pack failed: " + packed.err);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string temporary_directory() {
  char pattern[] = "/tmp/kivo-host-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace kivo::test
