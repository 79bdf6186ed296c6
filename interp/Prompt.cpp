#include "Prompt.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace kivo::interp {

namespace {

constexpr int kHistoryLines = 1000;
constexpr const char* kPromptCommands[] = {".q", ".x", ".help"};

Prompt* active_prompt = nullptr;
const Registry* completion_registry = nullptr;
std::vector<std::string> completion_candidates;

char* next_candidate(const char* text, int state) {
  static std::size_t index;
  if (state == 0) {
    index = 0;
    completion_candidates.clear();
    for (const Command* command : completion_registry->commands()) {
      completion_candidates.push_back(command->name + "(");
    }
    for (const char* name : kPromptCommands) completion_candidates.emplace_back(name);
  }
  std::size_t length = std::strlen(text);
  while (index < completion_candidates.size()) {
    const std::string& candidate = completion_candidates[index++];
    if (candidate.compare(0, length, text) == 0) return strdup(candidate.c_str());
  }
  return nullptr;
}

// Completes command names: the first word of the line only.
char** complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;
  if (start != 0) return nullptr;
  rl_completion_append_character = '\0';
  return rl_completion_matches(text, next_candidate);
}

}  // namespace

void Prompt::on_readline_line(char* line) {
  std::optional<std::string> text;
  if (line) {
    text = line;
    if (*line) add_history(line);
    std::free(line);
  }
  if (active_prompt) active_prompt->deliver_line(std::move(text));
}

Prompt::Prompt(std::string prompt, std::string history_path, const Registry& registry,
               LineHandler handler)
    : prompt_(std::move(prompt)),
      history_path_(std::move(history_path)),
      handler_(std::move(handler)),
      interactive_(isatty(0) != 0) {
  active_prompt = this;
  completion_registry = &registry;
  if (!interactive_) return;
  rl_instream = stdin;
  rl_outstream = stderr;
  rl_catch_signals = 0;
  rl_catch_sigwinch = 1;
  rl_readline_name = "kivo";
  rl_attempted_completion_function = complete;
  if (!history_path_.empty()) read_history(history_path_.c_str());
  rl_callback_handler_install(prompt_.c_str(), on_readline_line);
}

Prompt::~Prompt() {
  if (interactive_) {
    if (!ended_) rl_callback_handler_remove();
    if (!history_path_.empty()) {
      write_history(history_path_.c_str());
      history_truncate_file(history_path_.c_str(), kHistoryLines);
    }
  }
  active_prompt = nullptr;
  completion_registry = nullptr;
}

void Prompt::read_available() {
  if (ended_) return;
  if (interactive_) {
    rl_callback_read_char();
  } else {
    read_plain();
  }
}

void Prompt::read_plain() {
  char buffer[4096];
  ssize_t count = read(fd(), buffer, sizeof buffer);
  if (count < 0) {
    if (errno == EINTR || errno == EAGAIN) return;
    count = 0;
  }
  if (count == 0) {
    if (!pending_.empty() && !skipping_overlong_) deliver_line(std::exchange(pending_, {}));
    deliver_line(std::nullopt);
    return;
  }
  pending_.append(buffer, static_cast<std::size_t>(count));
  std::size_t newline;
  while (!ended_ && (newline = pending_.find('\n')) != std::string::npos) {
    std::string line = pending_.substr(0, newline);
    pending_.erase(0, newline + 1);
    if (std::exchange(skipping_overlong_, false)) continue;
    if (line.size() > kMaxLineBytes) {
      report_overlong_line();
      continue;
    }
    deliver_line(std::move(line));
  }
  if (pending_.size() > kMaxLineBytes) drop_overlong_line();
}

// Input that never ends its line (a binary file piped in) would otherwise
// grow without bound; the line is dropped up to its end.
void Prompt::drop_overlong_line() {
  if (!skipping_overlong_) report_overlong_line();
  skipping_overlong_ = true;
  pending_.clear();
}

void Prompt::report_overlong_line() {
  std::fprintf(stderr, "kivo: input: line longer than %zu bytes ignored\n", kMaxLineBytes);
}

void Prompt::deliver_line(std::optional<std::string> line) {
  if (ended_) return;
  const bool end_of_input = !line;
  if (handler_(std::move(line)) && !end_of_input) return;
  ended_ = true;
  if (interactive_) rl_callback_handler_remove();
}

void Prompt::discard_line() {
  if (!interactive_ || ended_) return;
  rl_free_line_state();
  rl_callback_sigcleanup();
  rl_point = rl_end = rl_mark = 0;
  rl_line_buffer[0] = '\0';
  std::fputs("^C\n", stderr);
  rl_on_new_line();
  rl_redisplay();
}

void Prompt::hide() {
  if (!interactive_ || ended_ || hidden_) return;
  rl_clear_visible_line();
  hidden_ = true;
}

void Prompt::show() {
  if (!hidden_) return;
  hidden_ = false;
  std::fflush(stdout);
  if (!ended_) rl_forced_update_display();
}

std::string default_history_path() {
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/.kivo_history" : std::string();
}

}  // namespace kivo::interp
