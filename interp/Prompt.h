// The operator's prompt, fed from the host's poll() loop so that events keep
// flowing while a line is typed. On a terminal it is GNU readline (callback
// interface) with history in a file and tab completion of command names; on
// a pipe or file it reads plain lines without echo. The prompt and echo go to
// standard error so that standard output carries only what commands print.
#ifndef KIVO_INTERP_PROMPT_H
#define KIVO_INTERP_PROMPT_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "Registry.h"

namespace kivo::interp {

// The longest line a prompt or a command file takes.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

class Prompt {
 public:
  // Called once per complete line; with nullopt at end of input (Ctrl-D).
  // Returns whether further lines are wanted: after false (quit) the prompt
  // hands over nothing more, not even lines already read with this one.
  using LineHandler = std::function<bool(std::optional<std::string> line)>;

  // Only one prompt may exist at a time (readline's state is global).
  Prompt(std::string prompt, std::string history_path, const Registry& registry,
         LineHandler handler);
  ~Prompt();
  Prompt(const Prompt&) = delete;
  Prompt& operator=(const Prompt&) = delete;

  // The descriptor to poll for input (standard input).
  int fd() const { return 0; }
  // Reads what standard input holds now and hands over complete lines;
  // call when poll() reports the descriptor readable.
  void read_available();
  // Drops the line being typed (Ctrl-C at the prompt) and shows a fresh prompt.
  void discard_line();
  // Clears the prompt line before other output, and redraws it afterwards.
  void hide();
  void show();
  bool interactive() const { return interactive_; }

 private:
  static void on_readline_line(char* line);
  void read_plain();
  void drop_overlong_line();
  static void report_overlong_line();
  void deliver_line(std::optional<std::string> line);

  std::string prompt_;
  std::string history_path_;
  LineHandler handler_;
  bool interactive_;
  bool hidden_ = false;
  bool ended_ = false;
  std::string pending_;  // partial line in plain mode
  bool skipping_overlong_ = false;  // dropping the rest of a line that was too long
};

// "$HOME/.kivo_history", or empty when HOME is unset.
std::string default_history_path();

}  // namespace kivo::interp

#endif
