// The command line of the KIVO programs, read with getopt_long so that every
// program takes its options the same way (short and long names, "--name=value",
// options and operands in any order, "--" ending the options) and words every
// usage error the same: "PROGRAM: OPTION: reason (see PROGRAM --help)".
#ifndef KIVO_EVENTIO_COMMAND_LINE_H
#define KIVO_EVENTIO_COMMAND_LINE_H

#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace kivo::eventio {

struct CommandOption {
  std::string long_name;   // without the leading dashes; empty: the short name only
  char short_name = 0;     // 0: the long name only
  std::string value_name;  // empty for a flag, which takes no value
  std::string help;        // its line in the help text
  // Takes the option's value ("" for a flag); returns why the value is
  // refused, empty when it is taken.
  std::function<std::string(const std::string& value)> take;
};

class CommandLine {
 public:
  enum class Outcome { proceed, help, version, usage_error };

  // `about` opens the help text (usage line and description), `notes` end it;
  // the option lines come between them.
  CommandLine(std::string program, std::string about = {}, std::string notes = {});

  void add(CommandOption option);

  // Reads argv[1..]. -h and --help give Outcome::help at once, --version
  // Outcome::version; a usage error stops the reading with error() set.
  // Operands ("-" is one) are kept in order.
  Outcome parse(int argc, const char* const* argv);

  // For a program's main(): parses argv, prints the help text, the version
  // or the usage error, and gives the exit status to end with then (0 after
  // the help or version, 2 after an error); none when the program goes on.
  std::optional<int> parse_for_main(int argc, const char* const* argv);

  const std::string& program() const { return program_; }
  const std::vector<std::string>& operands() const { return operands_; }
  const std::string& error() const { return error_; }

  // "PROGRAM: SUBJECT: REASON (see PROGRAM --help)"
  std::string usage_error(const std::string& subject, const std::string& reason) const;

  // One aligned line per option in the order added, then -h, --help and --version.
  std::string option_help() const;
  // about, a blank line, the option lines, a blank line, notes.
  std::string help() const;

 private:
  Outcome take(int code, const char* word, bool typed_long);
  Outcome fail(const std::string& subject, const std::string& reason);
  const CommandOption* option_with_code(int code) const;
  std::string reason_unknown(const std::string& typed) const;

  std::string program_;
  std::string about_;
  std::string notes_;
  std::vector<CommandOption> options_;
  std::vector<std::string> operands_;
  std::string error_;
};

// The files of a filter program: the operands INPUT [OUTPUT], with
// -o/--output as another way to give OUTPUT; "-" is standard input or output.
struct FilterFiles {
  std::string input = "-";
  std::string output = "-";
  bool output_option = false;  // OUTPUT came with -o

  void add_output_option(CommandLine& line);
  // CommandLine::parse_for_main, then take_operands: the exit status when
  // the command line ends the program.
  std::optional<int> parse_for_main(CommandLine& line, int argc, const char* const* argv);
  // Takes the operands once parsed; a usage error when there are more than
  // two, OUTPUT is given both ways, or writing OUTPUT would destroy INPUT.
  std::string take_operands(const CommandLine& line);
};

// KIVO's version ("1.0.0"), as every program prints it and the files it writes record it.
const char* kivo_version();
// What PROGRAM --version prints: "PROGRAM (KIVO) VERSION" and a newline, as GNU programs do.
std::string version_text(const std::string& program);

// "PROGRAM: SUBJECT: REASON (see PROGRAM --help)", for usage errors found
// after the command line has been read.
std::string usage_message(const std::string& program, const std::string& subject,
                          const std::string& reason);

// Reads `text` whole as a number of type T into `value`; returns why it is not
// one ("'x' is not a number"), empty when it is. Floating-point values must be
// finite.
template <class T>
std::string read_number(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  T parsed{};
  const auto [stop, status] = std::from_chars(text.data(), end, parsed);
  const bool whole = status == std::errc() && stop == end && !text.empty();
  if (status == std::errc::result_out_of_range) return "'" + text + "' is out of range";
  if constexpr (std::is_floating_point_v<T>) {
    if (!whole || !std::isfinite(parsed)) return "'" + text + "' is not a finite number";
  } else if constexpr (std::is_unsigned_v<T>) {
    long long signed_value = 0;
    const auto [signed_stop, signed_status] = std::from_chars(text.data(), end, signed_value);
    if (!whole && signed_status == std::errc() && signed_stop == end && signed_value < 0)
      return "'" + text + "' must not be negative";
    if (!whole) return "'" + text + "' is not a whole number";
  } else {
    if (!whole) return "'" + text + "' is not a whole number";
  }
  value = parsed;
  return {};
}

// CommandOption::take for an option whose value is stored as given, and for
// a flag that sets `value`.
std::function<std::string(const std::string&)> store_text(std::string& value);
std::function<std::string(const std::string&)> set_flag(bool& value);

// Reads a count, a whole number from 0.
std::string read_count(const std::string& text, long long& value);

}  // namespace kivo::eventio

#endif
