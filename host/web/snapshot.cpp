#include "snapshot.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t kMaxChildOutput = 64 * 1024;
const std::string kWebDir = KIVO_WEB_DIR;

std::string lower_extension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool package_installed(const std::string& package) {
  return std::filesystem::exists(kWebDir + "/node_modules/" + package + "/package.json");
}

std::string missing_tools(const std::string& extension) {
  if (!std::filesystem::exists(kWebDir + "/render.mjs")) return kWebDir + "/render.mjs is missing";
  for (const char* package : {"jsroot", "jsdom"}) {
    if (!package_installed(package)) {
      return std::string("npm package ") + package + " is not installed in " + kWebDir +
             " (run: cd web && npm install --ignore-scripts)";
    }
  }
  if (extension == ".png" && !package_installed("@resvg/resvg-js")) {
    return "npm package @resvg/resvg-js is not installed in " + kWebDir +
           " (run: cd web && npm install --ignore-scripts)";
  }
  return {};
}

// The temporary directory as std::filesystem::temp_directory_path picks it:
// the first of these variables that is set, else /tmp.
std::string temporary_directory_name() {
  for (const char* variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    if (const char* value = std::getenv(variable)) return std::string("$") + variable + " (" + value + ")";
  }
  return "/tmp";
}

// Writes the canvas to a fresh temporary file in the temporary directory;
// returns its path, empty on failure with errno set.
std::string write_temp_json(const std::string& canvas_json) {
  std::error_code unusable;
  const std::filesystem::path directory = std::filesystem::temp_directory_path(unusable);
  if (unusable) {
    errno = unusable.value();
    return {};
  }
  std::string path = (directory / "kivo-canvas-XXXXXX.json").string();
  const int fd = mkstemps(path.data(), 5);
  if (fd < 0) return {};
  std::string_view rest(canvas_json);
  while (!rest.empty()) {
    const ssize_t written = write(fd, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int saved_errno = errno;
      close(fd);
      unlink(path.c_str());
      errno = saved_errno;
      return {};
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  close(fd);
  return path;
}

std::string last_line(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  const auto newline = text.rfind('\n');
  return std::string(newline == std::string_view::npos ? text : text.substr(newline + 1));
}

struct ChildResult {
  int spawn_errno = 0;
  int exit_status = -1;
  std::string output;
};

// Runs argv with stdout and stderr captured (no shell); waits for it to finish.
ChildResult run_captured(const std::vector<std::string>& args) {
  ChildResult result;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    result.spawn_errno = errno;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  result.spawn_errno = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (result.spawn_errno == 0) {
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(pipe_fds[0], buffer, sizeof buffer)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      if (result.output.size() < kMaxChildOutput) result.output.append(buffer, got);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(pipe_fds[0]);
  return result;
}

void remove_prefix(std::string& text, const std::string& prefix) {
  if (text.starts_with(prefix)) text.erase(0, prefix.size());
}

// render.mjs reports "render.mjs: FILE: reason"; the caller names the output file once.
std::string describe_failure(const ChildResult& child, const std::string& json_path,
                             const std::string& out_path) {
  if (child.spawn_errno == ENOENT) return std::string("node (") + KIVO_NODE_EXECUTABLE + ") not found";
  if (child.spawn_errno != 0) return std::string("cannot run node: ") + std::strerror(child.spawn_errno);
  std::string message = last_line(child.output);
  if (message.empty()) return "node exited with status " + std::to_string(child.exit_status);
  remove_prefix(message, "render.mjs: ");
  remove_prefix(message, out_path + ": ");
  remove_prefix(message, json_path + ": ");
  return message;
}

}  // namespace

std::string snapshot_problem(const std::string& out_path) {
  const std::string extension = lower_extension(out_path);
  if (extension != ".png" && extension != ".svg") return out_path + ": the file name must end in .png or .svg";
  std::error_code error;
  const std::filesystem::path parent = std::filesystem::path(out_path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, error))
    return out_path + ": cannot write: " + parent.string() + " is missing or not a directory";
  if (const std::string missing = missing_tools(extension); !missing.empty()) return out_path + ": " + missing;
  return {};
}

bool render_snapshot(const std::string& canvas_json, const std::string& out_path,
                     std::string& error) {
  error = snapshot_problem(out_path);
  if (!error.empty()) return false;
  const std::string json_path = write_temp_json(canvas_json);
  if (json_path.empty()) {
    error = out_path + ": cannot write a temporary file in " + temporary_directory_name() + ": " +
            std::strerror(errno);
    return false;
  }
  const ChildResult child =
      run_captured({KIVO_NODE_EXECUTABLE, kWebDir + "/render.mjs", json_path, out_path});
  unlink(json_path.c_str());
  if (child.spawn_errno == 0 && child.exit_status == 0) return true;
  error = out_path + ": " + describe_failure(child, json_path, out_path);
  return false;
}
