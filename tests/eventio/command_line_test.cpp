// The command-line reader every KIVO program uses: options and operands, the
// one form of its usage errors, and the INPUT [OUTPUT] files of the filters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "eventio_test_support.h"

namespace kivo::eventio {
namespace {

struct Parsed {
  long long count = -1;
  std::string name;
  bool flag = false;
  std::vector<std::string> items;
};

CommandLine line_for(Parsed& parsed) {
  CommandLine line("prog", "usage: prog\n", "notes\n");
  line.add({"events", 'n', "N", "a count", [&parsed](const std::string& text) { return read_count(text, parsed.count); }});
  line.add({"name", 0, "TEXT", "a text", store_text(parsed.name)});
  line.add({"end-run", 0, "", "a flag", set_flag(parsed.flag)});
  line.add({"", 'e', "CMD", "a short option only", [&parsed](const std::string& text) {
              parsed.items.push_back(text);
              return std::string();
            }});
  return line;
}

CommandLine::Outcome parse(CommandLine& line, std::vector<const char*> words) {
  words.insert(words.begin(), "prog");
  return line.parse(static_cast<int>(words.size()), words.data());
}

// The usage error `words` give.
std::string error_of(std::vector<const char*> words) {
  Parsed parsed;
  CommandLine line = line_for(parsed);
  EXPECT_EQ(parse(line, words), CommandLine::Outcome::usage_error);
  return line.error();
}

TEST(CommandLine, TakesOptionsInEverySpellingAndKeepsOperandsInOrder) {
  Parsed parsed;
  CommandLine line = line_for(parsed);
  ASSERT_EQ(parse(line, {"in", "-n", "5", "--name=a b", "-", "-eA", "--end-run", "-e", "-1", "out", "--", "--name"}),
            CommandLine::Outcome::proceed)
      << line.error();
  EXPECT_EQ(parsed.count, 5);
  EXPECT_EQ(parsed.name, "a b");
  EXPECT_TRUE(parsed.flag);
  EXPECT_EQ(parsed.items, (std::vector<std::string>{"A", "-1"})) << "a value may start with '-'";
  EXPECT_EQ(line.operands(), (std::vector<std::string>{"in", "-", "out", "--name"}));

  ASSERT_EQ(parse(line, {"--events", "7", "--end"}), CommandLine::Outcome::proceed) << "a second parse starts afresh";
  EXPECT_EQ(parsed.count, 7);
  EXPECT_TRUE(line.operands().empty());
  const char* none[] = {nullptr};
  EXPECT_EQ(line.parse(0, none), CommandLine::Outcome::proceed) << "a program started with no arguments at all";
  EXPECT_TRUE(line.operands().empty());
}

TEST(CommandLine, EveryUsageErrorNamesTheOptionAndPointsToTheHelp) {
  EXPECT_EQ(error_of({"--verbose"}), "prog: --verbose: unknown option (see prog --help)");
  EXPECT_EQ(error_of({"--verbose=3"}), "prog: --verbose: unknown option (see prog --help)");
  EXPECT_EQ(error_of({"-z"}), "prog: -z: unknown option (see prog --help)");
  EXPECT_EQ(error_of({"--end-run", "-e"}), "prog: -e: needs a value (see prog --help)");
  EXPECT_EQ(error_of({"--name"}), "prog: --name: needs a value (see prog --help)");
  EXPECT_EQ(error_of({"--name", "x", "-n"}), "prog: -n: needs a value (see prog --help)");
  EXPECT_EQ(error_of({"--end-run=1"}), "prog: --end-run: takes no value (see prog --help)");
  EXPECT_EQ(error_of({"--e", "1"}), "prog: --e: ambiguous: --events, --end-run (see prog --help)");
  EXPECT_EQ(error_of({"-n", "x"}), "prog: -n: 'x' is not a count (0 or more) (see prog --help)");
  EXPECT_EQ(error_of({"--events=-1"}), "prog: --events: '-1' must not be negative (see prog --help)");
  EXPECT_EQ(error_of({"--ev", "2x"}), "prog: --events: '2x' is not a count (0 or more) (see prog --help)")
      << "an abbreviation is named in full";
  EXPECT_EQ(error_of({"--end-run", "-n", "1", "--end-run", "-zn1"}), "prog: -z: unknown option (see prog --help)")
      << "a short option among others in one word, after a long one";
}

TEST(CommandLine, HelpAndVersionComeFirstAndTheHelpListsEveryOption) {
  Parsed parsed;
  CommandLine line = line_for(parsed);
  EXPECT_EQ(parse(line, {"-n", "1", "--help", "--bad"}), CommandLine::Outcome::help);
  EXPECT_EQ(parse(line, {"-h"}), CommandLine::Outcome::help);
  EXPECT_EQ(parse(line, {"--version", "--bad"}), CommandLine::Outcome::version);
  EXPECT_EQ(parse(line, {"--vers"}), CommandLine::Outcome::version) << "abbreviated as GNU programs allow";
  EXPECT_EQ(kivo::eventio::version_text("prog"), std::string("prog (KIVO) ") + kivo::eventio::kivo_version() + "\n");
  EXPECT_EQ(line.help(),
            "usage: prog\n\n"
            "  -n, --events N   a count\n"
            "      --name TEXT  a text\n"
            "      --end-run    a flag\n"
            "  -e CMD           a short option only\n"
            "  -h, --help       this text\n"
            "      --version    the version of KIVO this program belongs to\n\n"
            "notes\n");
}

TEST(CommandLine, NumbersAreReadWhole) {
  int whole = 0;
  double real = 0;
  EXPECT_EQ(read_number("-12", whole), "");
  EXPECT_EQ(whole, -12);
  EXPECT_EQ(read_number("12 ", whole), "'12 ' is not a whole number");
  EXPECT_EQ(read_number("", whole), "'' is not a whole number");
  EXPECT_EQ(read_number("99999999999", whole), "'99999999999' is out of range");
  EXPECT_EQ(whole, -12) << "a refused value leaves the setting alone";
  EXPECT_EQ(read_number("2.5e3", real), "");
  EXPECT_EQ(real, 2500);
  EXPECT_EQ(read_number("inf", real), "'inf' is not a finite number");
  unsigned seed = 7;
  EXPECT_EQ(read_number("-1", seed), "'-1' must not be negative");
  EXPECT_EQ(read_number("1x", seed), "'1x' is not a whole number");
  EXPECT_EQ(seed, 7u);
  EXPECT_EQ(read_number("nan", real), "'nan' is not a finite number");
}

struct FilterCase {
  std::vector<const char*> words;
  std::string input, output, error;
};

TEST(FilterFiles, OutputComesAsAnOperandOrWithO) {
  testing::ScratchDir dir;
  testing::write_file(dir.file("in"), "text");
  const std::string in = dir.file("in");
  const FilterCase cases[] = {
      {{}, "-", "-", ""},
      {{"a"}, "a", "-", ""},
      {{"a", "b"}, "a", "b", ""},
      {{"-o", "b", "a"}, "a", "b", ""},
      {{"--output=b"}, "-", "b", ""},
      {{"a", "b", "c"}, "", "", "prog: c: too many operands: INPUT and OUTPUT at most (see prog --help)"},
      {{"-o", "b", "a", "c"}, "", "", "prog: c: OUTPUT given both with -o and as an operand (see prog --help)"},
      {{"-o", in.c_str(), in.c_str()}, "", "", "prog: output '" + in + "' is the same file as input '" + in + "'" +
                                                   "; refusing to overwrite the input (see prog --help)"},
  };
  for (const FilterCase& test : cases) {
    CommandLine line("prog");
    FilterFiles files;
    files.add_output_option(line);
    ASSERT_EQ(parse(line, test.words), CommandLine::Outcome::proceed);
    const std::string error = files.take_operands(line);
    EXPECT_EQ(error.substr(0, test.error.size()), test.error) << error;
    if (!test.error.empty()) continue;
    EXPECT_EQ(files.input, test.input);
    EXPECT_EQ(files.output, test.output);
  }
}

}  // namespace
}  // namespace kivo::eventio
