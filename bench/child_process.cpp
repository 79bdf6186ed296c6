#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace kivo::bench {

std::string program_beside_bench(const char* name) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path() / name).string();
}

Child::Child(const std::vector<std::string>& argv) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  error_ = pipe_fds[0];
}

Child::~Child() {
  wait();
  if (error_ >= 0) close(error_);
}

std::string Child::error_line_with(const std::string& text) {
  char buffer[4096];
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (line.find(text) != std::string::npos) return line;
    }
    const ssize_t got = error_ >= 0 ? read(error_, buffer, sizeof buffer) : 0;
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

int Child::wait() {
  if (pid_ < 0) return -1;
  char buffer[4096];
  while (error_ >= 0 && read(error_, buffer, sizeof buffer) > 0) {
  }
  int status = 0;
  const pid_t waited = waitpid(pid_, &status, 0);
  pid_ = -1;
  return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kivo::bench
