#include "Snapshot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "OutputFile.h"

namespace kivo::web {

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

// The canvas in a file of the temporary directory that has no name: it is
// removed at once and read through its descriptor, so that nothing is left
// behind however kivo ends. Returns the descriptor, -1 with errno on failure.
int anonymous_canvas_file(const std::string& canvas_json) {
  std::error_code unusable;
  const std::filesystem::path directory = std::filesystem::temp_directory_path(unusable);
  if (unusable) {
    errno = unusable.value();
    return -1;
  }
  std::string path = (directory / "kivo-canvas-XXXXXX.json").string();
  int fd = -1;
  {
    const kivo::eventio::SignalBlock block;
    fd = mkostemps(path.data(), 5, O_CLOEXEC);
    if (fd >= 0) unlink(path.c_str());
  }
  if (fd < 0) return -1;
  std::string_view rest(canvas_json);
  while (!rest.empty()) {
    const ssize_t written = write(fd, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int saved_errno = written < 0 ? errno : EIO;
      close(fd);
      errno = saved_errno;
      return -1;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  if (lseek(fd, 0, SEEK_SET) != 0) {
    const int saved_errno = errno;
    close(fd);
    errno = saved_errno;
    return -1;
  }
  return fd;
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

// In the child between fork and exec: only async-signal-safe calls. The
// renderer dies with kivo (PR_SET_PDEATHSIG), also when kivo is killed, so
// that it never writes after kivo has gone.
// Exit status 127 says that the program was not found, 126 that it could
// not be run, as a shell says.
[[noreturn]] void exec_renderer(char* const* argv, pid_t parent, int input, int output, int messages) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(126);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);  // kivo ignores it; Node.js sets its own
  if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(messages, STDERR_FILENO) < 0)
    _exit(126);
  execvp(argv[0], argv);
  _exit(errno == ENOENT ? 127 : 126);
}

// Reads the child's messages until it closes them, then reaps it.
void collect(pid_t pid, int messages, ChildResult& result) {
  const kivo::eventio::RegisteredChild registration(pid);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(messages, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (result.output.size() < kMaxChildOutput) result.output.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs argv (no shell) with `input` as its standard input and `output` as its
// standard output; its standard error is captured. Waits for it to finish.
ChildResult run_renderer(const std::vector<std::string>& args, int input, int output) {
  ChildResult result;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    result.spawn_errno = errno;
    return result;
  }
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) exec_renderer(argv.data(), parent, input, output, pipe_fds[1]);
  close(pipe_fds[1]);
  if (pid < 0) {
    result.spawn_errno = errno;
  } else {
    collect(pid, pipe_fds[0], result);
    if (result.exit_status == 127) result.spawn_errno = ENOENT;
  }
  close(pipe_fds[0]);
  return result;
}

// The renderer kept running between snapshots (render.mjs --serve): only
// the first snapshot waits for Node.js and JSROOT to start. Requests go over
// a socket, so that writing to a renderer that has died is an error rather
// than SIGPIPE; answers come back on a pipe. Its messages are dropped: a
// failed request is drawn again by a renderer of its own, which reports.
class WarmRenderer {
 public:
  enum class Outcome { drawn, refused, failed };

  ~WarmRenderer() { stop(); }

  void start() {
    if (pid_ > 0 || !missing_tools(".png").empty()) return;
    int requests[2], answers[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0) return;
    if (pipe2(answers, O_CLOEXEC) != 0) {
      close(requests[0]);
      close(requests[1]);
      return;
    }
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::string node = KIVO_NODE_EXECUTABLE, script = kWebDir + "/render.mjs", serve = "--serve";
    char* argv[] = {node.data(), script.data(), serve.data(), nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) exec_renderer(argv, parent, requests[1], answers[1], quiet >= 0 ? quiet : answers[1]);
    if (quiet >= 0) close(quiet);
    close(requests[1]);
    close(answers[1]);
    if (pid < 0) {
      close(requests[0]);
      close(answers[0]);
      return;
    }
    pid_ = pid;
    registration_.emplace(pid);
    to_ = requests[0];
    from_ = answers[0];
  }

  // The image of `canvas_json` as `format` ("svg" or "png") into `image`;
  // refused with the renderer's reason in `error`, or failed (the renderer
  // is then stopped).
  Outcome render(const std::string& canvas_json, const std::string& format, std::string& image,
                 std::string& error) {
    start();
    if (pid_ <= 0) return Outcome::failed;
    const std::string request = format + " " + std::to_string(canvas_json.size()) + "\n";
    std::string header;
    if (!send_all(request) || !send_all(canvas_json) || !read_line(header)) {
      stop();
      return Outcome::failed;
    }
    if (header.starts_with("error ")) {
      error = header.substr(6);
      return Outcome::refused;
    }
    std::size_t size = 0;
    if (!header.starts_with("ok ") || !parse_size(std::string_view(header).substr(3), size) ||
        !read_exactly(size, image)) {
      stop();
      return Outcome::failed;
    }
    return Outcome::drawn;
  }

  void stop() {
    if (pid_ <= 0) return;
    close(to_);
    close(from_);
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    registration_.reset();
    pid_ = to_ = from_ = -1;
    buffered_.clear();
  }

 private:
  // A renderer that answers nothing for this long is taken as hung.
  static constexpr int kAnswerTimeoutMs = 120'000;

  bool send_all(std::string_view data) {
    while (!data.empty()) {
      const ssize_t sent = send(to_, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  // More of the answer into buffered_; false at its end, on an error or
  // after kAnswerTimeoutMs without a byte.
  bool receive() {
    pollfd readable{from_, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&readable, 1, kAnswerTimeoutMs)) < 0 && errno == EINTR) {}
    if (ready <= 0) return false;
    char chunk[65536];
    ssize_t got = 0;
    while ((got = read(from_, chunk, sizeof chunk)) < 0 && errno == EINTR) {}
    if (got <= 0) return false;
    buffered_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  bool read_line(std::string& line) {
    std::size_t newline = 0;
    while ((newline = buffered_.find('\n')) == std::string::npos)
      if (!receive()) return false;
    line = buffered_.substr(0, newline);
    buffered_.erase(0, newline + 1);
    return true;
  }

  bool read_exactly(std::size_t size, std::string& data) {
    while (buffered_.size() < size)
      if (!receive()) return false;
    data = buffered_.substr(0, size);
    buffered_.erase(0, size);
    return true;
  }

  static bool parse_size(std::string_view text, std::size_t& size) {
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), size);
    return problem == std::errc() && end == text.data() + text.size();
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::optional<kivo::eventio::RegisteredChild> registration_;
  std::string buffered_;
};

std::mutex warm_renderer_mutex;

WarmRenderer& warm_renderer() {
  static WarmRenderer renderer;
  return renderer;
}

void remove_prefix(std::string& text, const std::string& prefix) {
  if (text.starts_with(prefix)) text.erase(0, prefix.size());
}

// The reason of an output error "<file>: <reason>".
std::string reason_of(std::string error, const std::string& file) {
  remove_prefix(error, file + ": ");
  return error;
}

// render.mjs reports "render.mjs: FILE: reason"; the caller names the output file once.
std::string describe_failure(const ChildResult& child, const std::string& out_path) {
  if (child.spawn_errno == ENOENT) return std::string("node (") + KIVO_NODE_EXECUTABLE + ") not found";
  if (child.spawn_errno != 0) return std::string("cannot run node: ") + std::strerror(child.spawn_errno);
  std::string message = last_line(child.output);
  if (message.empty()) return "node exited with status " + std::to_string(child.exit_status);
  remove_prefix(message, "render.mjs: ");
  remove_prefix(message, out_path + ": ");
  remove_prefix(message, "-: ");
  return message;
}

// Commits the image written into `image`; false with `error` saying why.
bool put_in_place(kivo::eventio::OutputFile& image, const std::string& out_path, std::string& error) {
  if (image.commit(error)) return true;
  error = out_path + ": cannot write: " + reason_of(error, image.file());
  return false;
}

// The canvas drawn by a renderer of its own into `image`, open already.
bool render_alone(const std::string& canvas_json, const std::string& out_path,
                  kivo::eventio::OutputFile& image, std::string& error) {
  const int canvas = anonymous_canvas_file(canvas_json);
  if (canvas < 0) {
    error = out_path + ": cannot write a temporary file in " + temporary_directory_name() + ": " +
            std::strerror(errno);
    return false;
  }
  const ChildResult child =
      run_renderer({KIVO_NODE_EXECUTABLE, kWebDir + "/render.mjs", "--stdout", "-", out_path}, canvas,
                   image.descriptor());
  close(canvas);
  if (child.spawn_errno != 0 || child.exit_status != 0) {
    error = out_path + ": " + describe_failure(child, out_path);
    return false;
  }
  return put_in_place(image, out_path, error);
}

}  // namespace

std::string snapshot_problem(const std::string& out_path) {
  const std::string extension = lower_extension(out_path);
  if (extension != ".png" && extension != ".svg") return out_path + ": the file name must end in .png or .svg";
  std::error_code error;
  const std::filesystem::path parent = std::filesystem::path(out_path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, error))
    return out_path + ": cannot write: " + parent.string() + " is missing or not a directory";
  if (const std::string problem = kivo::eventio::special_file_problem(out_path); !problem.empty())
    return out_path + ": cannot write: " + problem;
  if (const std::string missing = missing_tools(extension); !missing.empty()) return out_path + ": " + missing;
  return {};
}

void prepare_snapshot_renderer() {
  const std::lock_guard lock(warm_renderer_mutex);
  warm_renderer().start();
}

bool render_snapshot(const std::string& canvas_json, const std::string& out_path,
                     std::string& error) {
  error = snapshot_problem(out_path);
  if (!error.empty()) return false;
  kivo::eventio::OutputFile image;
  if (!image.open(out_path, error, kivo::eventio::OutputFile::SpecialFiles::refuse)) {
    error = out_path + ": cannot write: " + reason_of(error, image.file());
    return false;
  }
  std::string drawn;
  const std::string format = lower_extension(out_path).substr(1);
  WarmRenderer::Outcome outcome;
  {
    const std::lock_guard lock(warm_renderer_mutex);
    outcome = warm_renderer().render(canvas_json, format, drawn, error);
  }
  if (outcome == WarmRenderer::Outcome::refused) {
    error = out_path + ": " + error;
    return false;
  }
  if (outcome == WarmRenderer::Outcome::failed) return render_alone(canvas_json, out_path, image, error);
  if (image.write(drawn, error)) return put_in_place(image, out_path, error);
  error = out_path + ": cannot write: " + reason_of(error, image.file());
  return false;
}

}  // namespace kivo::web
