// The temporary files a process writes and the helper processes it runs, and
// what becomes of them (and of the terminal's settings) when a signal ends
// the process.
//
// Every temporary follows one naming rule: "<file>.partial-<pid>-<six
// characters>", beside the file it stands for, <pid> being the process that
// writes it. A temporary whose process no longer runs is stale: the next
// output of the same file removes it, and remove_stale_temporaries_in() does
// so for a whole directory.
#ifndef KIVO_EVENTIO_TEMPORARY_FILES_H
#define KIVO_EVENTIO_TEMPORARY_FILES_H

#include <signal.h>
#include <sys/types.h>

#include <initializer_list>
#include <string>

namespace kivo::eventio {

// Creates a new empty temporary for `file` (mode 0644, close-on-exec); returns
// its descriptor and its name in `path`, or -1 with errno set.
int create_temporary(const std::string& file, std::string& path);
// Makes `name` a new temporary for `file` that is a hard link to `existing`;
// false with errno set.
bool link_temporary(const std::string& existing, const std::string& file, std::string& name);

// Whether the file name `name` (without directory) follows the naming rule;
// `writer` receives the process named in it.
bool is_temporary_name(const std::string& name, pid_t& writer);
// Removes the stale temporaries of `file`.
void remove_stale_temporaries(const std::string& file);
// Removes every stale temporary in `directory`; returns how many.
int remove_stale_temporaries_in(const std::string& directory);

// While alive, the file at `path` is removed by a signal that
// remove_partial_output_on_signals() handles.
class RegisteredTemporary {
 public:
  RegisteredTemporary() = default;
  explicit RegisteredTemporary(const std::string& path);
  ~RegisteredTemporary();
  RegisteredTemporary(RegisteredTemporary&& other) noexcept;
  RegisteredTemporary& operator=(RegisteredTemporary&& other) noexcept;

  // The path is gone or has become the output: a signal leaves it alone.
  void release();

 private:
  int slot_ = -1;
};

// While alive, the process `pid` is killed (SIGKILL) and reaped by a signal
// that remove_partial_output_on_signals() handles, so that a helper never
// outlives the program nor writes after it ended.
class RegisteredChild {
 public:
  explicit RegisteredChild(pid_t pid);
  ~RegisteredChild();
  RegisteredChild(const RegisteredChild&) = delete;
  RegisteredChild& operator=(const RegisteredChild&) = delete;

 private:
  int slot_ = -1;
};

// Called once at start-up, before any thread starts: each of `signals`, unless
// ignored at start-up (as SIGHUP under nohup), removes the registered
// temporaries, ends the registered children and then ends the program as the
// signal does by default, so that the caller sees the usual status.
void remove_partial_output_on_signals(std::initializer_list<int> signals);

// Does at once what a signal that remove_partial_output_on_signals() handles
// does, for a handler of the program's own that decides to end the program
// (a second request to stop): async-signal-safe; the program ends as the
// signal does by default when the handler returns.
void end_as_by_signal(int signal);

// The settings the terminal on `fd` has now are put back by a signal that
// remove_partial_output_on_signals() handles, so that a program ended while
// a line editor had turned echo off leaves a usable terminal. Called before
// the editor changes them; nothing when `fd` is not a terminal.
void restore_terminal_on_signals(int fd);

// Holds the handled signals back in this thread while alive, and makes a
// handled signal that reaches another thread wait (a few seconds at most) until
// it ends, so that a file operation in several steps (a commit, a
// registration) is never cut in half.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  bool blocked_ = false;
  sigset_t previous_;
};

}  // namespace kivo::eventio

#endif
