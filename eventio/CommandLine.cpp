#include "CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "OutputFile.h"

namespace kivo::eventio {
namespace {

// getopt_long's code for an option with a long name only: past every char.
constexpr int kLongOnlyCode = 256;
// getopt_long's code for an operand, in RETURN_IN_ORDER mode.
constexpr int kOperandCode = 1;
// getopt_long's code for --version, below every long-only option's.
constexpr int kVersionCode = kLongOnlyCode - 1;

int code_of(const CommandOption& option, std::size_t index) {
  return option.short_name != 0 ? static_cast<unsigned char>(option.short_name)
                                : kLongOnlyCode + static_cast<int>(index);
}

std::string spelled(const CommandOption& option) {
  std::string text = option.short_name != 0 ? std::string("-") + option.short_name : "   ";
  if (!option.long_name.empty()) text += (option.short_name != 0 ? ", --" : " --") + option.long_name;
  if (!option.value_name.empty()) text += " " + option.value_name;
  return text;
}

// "-" first: operands come back in order, whatever POSIXLY_CORRECT says;
// ":" next: a missing value is told apart from an unknown option.
std::string short_options(const std::vector<CommandOption>& options) {
  std::string text = "-:h";
  for (const CommandOption& option : options) {
    if (option.short_name == 0) continue;
    text += option.short_name;
    if (!option.value_name.empty()) text += ':';
  }
  return text;
}

std::vector<option> long_options(const std::vector<CommandOption>& options) {
  std::vector<option> table;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i].long_name.empty()) continue;
    const int has_arg = options[i].value_name.empty() ? no_argument : required_argument;
    table.push_back({options[i].long_name.c_str(), has_arg, nullptr, code_of(options[i], i)});
  }
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({"version", no_argument, nullptr, kVersionCode});
  table.push_back({nullptr, 0, nullptr, 0});
  return table;
}

// "--name=value" names the option "--name".
std::string without_value(const std::string& typed) { return typed.substr(0, typed.find('=')); }

// The option getopt_long refused, as the user wrote it: a long one by its
// text, a short one (perhaps among others in one word) by its letter.
std::string name_of_rejected(const char* typed, int code) {
  const std::string word = typed ? typed : "";
  if (word.rfind("--", 0) == 0) return without_value(word);
  return std::string("-") + static_cast<char>(code);
}

}  // namespace

CommandLine::CommandLine(std::string program, std::string about, std::string notes)
    : program_(std::move(program)), about_(std::move(about)), notes_(std::move(notes)) {}

void CommandLine::add(CommandOption option) { options_.push_back(std::move(option)); }

CommandLine::Outcome CommandLine::parse(int argc, const char* const* argv) {
  // getopt_long may reorder what it is given; it works on a copy.
  std::vector<std::string> words(argv, argv + argc);
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  const std::string shorts = short_options(options_);
  const std::vector<option> longs = long_options(options_);
  operands_.clear();
  error_.clear();
  if (argc < 1) return Outcome::proceed;  // started without even a program name
  optind = 0;  // 0 starts glibc's scan afresh, for a second parse too
  opterr = 0;  // the messages are ours
  for (;;) {
    // The word getopt_long reads from: the next one, or the rest of a word of
    // several short options.
    const char* word = pointers[std::max(optind, 1)];
    int long_index = -1;
    const int code = getopt_long(argc, pointers.data(), shorts.c_str(), longs.data(), &long_index);
    if (code == -1) break;
    if (const Outcome outcome = take(code, word, long_index >= 0); outcome != Outcome::proceed) return outcome;
  }
  for (int i = optind; i < argc; ++i) operands_.emplace_back(pointers[i]);
  return Outcome::proceed;
}

// One answer of getopt_long: an operand, an option or why it was refused.
CommandLine::Outcome CommandLine::take(int code, const char* word, bool typed_long) {
  if (code == kOperandCode) {
    operands_.emplace_back(optarg);
    return Outcome::proceed;
  }
  if (code == 'h') return Outcome::help;
  if (code == kVersionCode) return Outcome::version;
  if (code == ':') return fail(name_of_rejected(word, optopt), "needs a value");
  if (code == '?') {
    const std::string name = name_of_rejected(word, optopt);
    return fail(name, option_with_code(optopt) ? "takes no value" : reason_unknown(name));
  }
  const CommandOption& option = *option_with_code(code);
  const std::string reason = option.take(optarg ? optarg : "");
  if (reason.empty()) return Outcome::proceed;
  return fail(typed_long ? "--" + option.long_name : std::string("-") + option.short_name, reason);
}

std::optional<int> CommandLine::parse_for_main(int argc, const char* const* argv) {
  switch (parse(argc, argv)) {
    case Outcome::help:
      std::fputs(help().c_str(), stdout);
      return 0;
    case Outcome::version:
      std::fputs(version_text(program_).c_str(), stdout);
      return 0;
    case Outcome::usage_error:
      std::fprintf(stderr, "%s\n", error_.c_str());
      return 2;
    case Outcome::proceed:
      break;
  }
  return std::nullopt;
}

const char* kivo_version() { return KIVO_VERSION; }

std::string version_text(const std::string& program) {
  return program + " (KIVO) " + kivo_version() + "\n";
}

std::string CommandLine::usage_error(const std::string& subject, const std::string& reason) const {
  return usage_message(program_, subject, reason);
}

std::string CommandLine::option_help() const {
  std::size_t width = std::string("    --version").size();
  for (const CommandOption& option : options_) width = std::max(width, spelled(option).size());
  std::string text;
  const auto line = [&](const std::string& name, const std::string& help) {
    text += "  " + name + std::string(width - name.size() + 2, ' ') + help + "\n";
  };
  for (const CommandOption& option : options_) line(spelled(option), option.help);
  line("-h, --help", "this text");
  line("    --version", "the version of KIVO this program belongs to");
  return text;
}

std::string CommandLine::help() const {
  std::string text = about_ + "\n" + option_help();
  if (!notes_.empty()) text += "\n" + notes_;
  return text;
}

CommandLine::Outcome CommandLine::fail(const std::string& subject, const std::string& reason) {
  error_ = usage_error(subject, reason);
  return Outcome::usage_error;
}

const CommandOption* CommandLine::option_with_code(int code) const {
  for (std::size_t i = 0; i < options_.size(); ++i)
    if (code_of(options_[i], i) == code) return &options_[i];
  return nullptr;
}

// An unknown long name may be the start of several: getopt_long takes an
// abbreviation only when it is unambiguous.
std::string CommandLine::reason_unknown(const std::string& typed) const {
  if (typed.rfind("--", 0) != 0) return "unknown option";
  std::string candidates;
  for (const CommandOption& option : options_)
    if (option.long_name.rfind(typed.substr(2), 0) == 0) candidates += (candidates.empty() ? "--" : ", --") + option.long_name;
  return candidates.find(',') == std::string::npos ? "unknown option" : "ambiguous: " + candidates;
}

void FilterFiles::add_output_option(CommandLine& line) {
  line.add({"output", 'o', "OUTPUT", "where to write, as the OUTPUT operand does", [this](const std::string& path) {
              output_option = true;
              return store_text(output)(path);
            }});
}

std::optional<int> FilterFiles::parse_for_main(CommandLine& line, int argc, const char* const* argv) {
  if (const std::optional<int> status = line.parse_for_main(argc, argv)) return status;
  const std::string problem = take_operands(line);
  if (problem.empty()) return std::nullopt;
  std::fprintf(stderr, "%s\n", problem.c_str());
  return 2;
}

std::string FilterFiles::take_operands(const CommandLine& line) {
  const std::vector<std::string>& operands = line.operands();
  const std::size_t most = output_option ? 1 : 2;
  if (operands.size() > most)
    return line.usage_error(operands[most], output_option ? "OUTPUT given both with -o and as an operand"
                                                          : "too many operands: INPUT and OUTPUT at most");
  if (!operands.empty()) input = operands[0];
  if (operands.size() > 1) output = operands[1];
  const std::string clash = output_overwrites_input(input, output);
  return clash.empty() ? clash : line.program() + ": " + clash + " (see " + line.program() + " --help)";
}

std::string usage_message(const std::string& program, const std::string& subject,
                          const std::string& reason) {
  return program + ": " + subject + ": " + reason + " (see " + program + " --help)";
}

std::function<std::string(const std::string&)> store_text(std::string& value) {
  return [&value](const std::string& text) {
    value = text;
    return std::string();
  };
}

std::function<std::string(const std::string&)> set_flag(bool& value) {
  return [&value](const std::string&) {
    value = true;
    return std::string();
  };
}

std::string read_count(const std::string& text, long long& value) {
  long long parsed = 0;
  if (read_number(text, parsed).empty() && parsed < 0) return "'" + text + "' must not be negative";
  if (!read_number(text, parsed).empty()) return "'" + text + "' is not a count (0 or more)";
  value = parsed;
  return {};
}

}  // namespace kivo::eventio
