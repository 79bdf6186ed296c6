#include "Evaluator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kivo::interp::Command;
using kivo::interp::CommandError;
using kivo::interp::Evaluation;
using kivo::interp::Evaluator;
using kivo::interp::Parameter;
using kivo::interp::Registry;
using kivo::interp::Type;
using kivo::interp::Value;

// A registry with commands that record every call they receive.
class EvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    add({"count", Type::Int, {}, "test", [this](const std::vector<Value>&) {
           calls.push_back("count()");
           return Value::of_int(3);
         }});
    add({"threshold", Type::Int, {{Type::Float, "thresh", Value::of_int(10)}}, "test",
         [this](const std::vector<Value>& a) {
           calls.push_back("threshold(" + std::to_string(a[0].as_float()) + ")");
           return Value::of_int(static_cast<int>(a[0].as_float() * 10));
         }});
    add({"set_level", Type::Void, {{Type::Int, "v", std::nullopt}}, "test",
         [this](const std::vector<Value>& a) {
           calls.push_back("set_level(" + std::to_string(a[0].as_int()) + ")");
           return Value();
         }});
    add({"open", Type::Void, {{Type::String, "path", std::nullopt}}, "test",
         [this](const std::vector<Value>& a) {
           if (a[0].as_string() == "missing") throw CommandError("cannot open missing");
           calls.push_back("open(" + a[0].as_string() + ")");
           return Value();
         }});
    add({"next_event", Type::EventPointer, {}, "test", [this](const std::vector<Value>&) {
           calls.push_back("next_event()");
           return Value::of_event(reinterpret_cast<Event*>(&event_storage));
         }});
    add({"process_event", Type::Int, {{Type::EventPointer, "e", std::nullopt}}, "test",
         [this](const std::vector<Value>& a) {
           calls.push_back(a[0].as_event() == reinterpret_cast<Event*>(&event_storage)
                               ? "process_event(event)"
                               : "process_event(?)");
           return Value::of_int(0);
         }});
  }

  void add(Command command) {
    std::string error;
    ASSERT_TRUE(registry.add(std::move(command), error)) << error;
  }

  Evaluation evaluate(const std::string& line) { return Evaluator(registry).evaluate(line); }

  // Evaluates a line that must fail, checks that nothing ran, returns the error.
  kivo::interp::EvalError failure(const std::string& line) {
    Evaluation evaluation = evaluate(line);
    EXPECT_FALSE(evaluation.ok()) << line;
    EXPECT_TRUE(calls.empty()) << line << " ran " << calls.front();
    return evaluation.error.value_or(kivo::interp::EvalError{0, ""});
  }

  Registry registry;
  std::vector<std::string> calls;
  int event_storage = 0;
};

TEST_F(EvaluatorTest, CallsWithDefaultsConversionsAndNesting) {
  EXPECT_EQ(evaluate("threshold()").value.as_int(), 100);
  EXPECT_EQ(evaluate("threshold(2.5)").value.as_int(), 25);
  EXPECT_EQ(evaluate("threshold(3)").value.as_int(), 30);           // int where float expected
  EXPECT_EQ(evaluate("  threshold ( -0.5 ) ; ").value.as_int(), -5);
  evaluate("set_level(2.9)");                                        // float truncated to int
  evaluate("set_level(-5);");
  evaluate("open(\"run \\\"7\\\".kevt\")");
  EXPECT_EQ(evaluate("process_event(next_event())").value.as_int(), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"threshold(10.000000)", "threshold(2.500000)",
                                             "threshold(3.000000)", "threshold(-0.500000)",
                                             "set_level(2)", "set_level(-5)",
                                             "open(run \"7\".kevt)", "next_event()",
                                             "process_event(event)"}));
}

TEST_F(EvaluatorTest, TrailingCommentIsIgnored) {
  EXPECT_EQ(evaluate("threshold(2.5); // the usual cut").value.as_int(), 25);
  EXPECT_TRUE(evaluate("count() //").show_result);
  EXPECT_TRUE(evaluate("   // only a comment").ok());
  EXPECT_TRUE(evaluate("open(\"a//b\") // path with slashes").ok());
  EXPECT_EQ(calls, (std::vector<std::string>{"threshold(2.500000)", "count()", "open(a//b)"}));
  calls.clear();
  EXPECT_EQ(failure("count() / 2").column, 9u);
}

TEST_F(EvaluatorTest, ResultsShownAsRootShowsThem) {
  EXPECT_EQ(format_result(evaluate("count()").value), "(int) 3");
  EXPECT_EQ(format_result(evaluate("set_level(1)").value), "");
  EXPECT_EQ(format_result(evaluate("2.5f").value), "(float) 2.5");
  EXPECT_TRUE(evaluate("count()").show_result);
  EXPECT_FALSE(evaluate("count();").show_result);
  Evaluation empty = evaluate("   ;");
  EXPECT_TRUE(empty.ok());
  EXPECT_EQ(empty.value.type(), Type::Void);
}

// As at the ROOT prompt: statements separated by ';' run in order and the
// result shown is the last one's, unless the line ends with ';'.
TEST_F(EvaluatorTest, SeveralStatementsOnOneLine) {
  Evaluation both = evaluate("set_level(1); threshold(2)");
  EXPECT_TRUE(both.ok());
  EXPECT_TRUE(both.show_result);
  EXPECT_EQ(both.value.as_int(), 20);
  EXPECT_FALSE(evaluate(";; count();  set_level(2); // done").show_result);
  EXPECT_EQ(calls, (std::vector<std::string>{"set_level(1)", "threshold(2.000000)", "count()", "set_level(2)"}));
  calls.clear();
  EXPECT_EQ(failure("count(); threshold(\"x\")").column, 20u) << "checked whole before anything runs";
  EXPECT_EQ(failure("count(); nosuch()").column, 10u);

  Evaluation failed = evaluate("count(); open(\"missing\"); count()");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error->column, 10u);
  EXPECT_EQ(calls, std::vector<std::string>{"count()"}) << "a failure at run time ends the line there";
}

// A command stopped by Ctrl-C ends its line: nothing after it runs, not even
// the call it was an argument of, and only its own result can be shown.
TEST_F(EvaluatorTest, InterruptedCommandEndsTheLine) {
  add({"stopped", Type::Int, {}, "test", [this](const std::vector<Value>&) -> Value {
         calls.push_back("stopped()");
         throw kivo::interp::CommandInterrupted(Value::of_int(2));
       }});
  Evaluation last = evaluate("count(); stopped()");
  EXPECT_TRUE(last.ok() && last.interrupted && last.show_result);
  EXPECT_EQ(format_result(last.value), "(int) 2");
  Evaluation first = evaluate("stopped(); set_level(1); count()");
  EXPECT_TRUE(first.ok() && first.interrupted && !first.show_result);
  EXPECT_FALSE(evaluate("threshold(stopped())").show_result);
  EXPECT_EQ(calls, (std::vector<std::string>{"count()", "stopped()", "stopped()", "stopped()"}));
}

TEST_F(EvaluatorTest, UnknownCommandNamesItsColumn) {
  auto error = failure("threshold(nosuch())");
  EXPECT_EQ(error.column, 11u);
  EXPECT_EQ(error.message, "unknown command 'nosuch'");
}

TEST_F(EvaluatorTest, WrongArgumentCounts) {
  auto missing = failure("set_level()");
  EXPECT_EQ(missing.column, 1u);
  EXPECT_EQ(missing.message, "set_level takes 1 argument, 0 given: void set_level(int v)");
  auto extra = failure("threshold(1, 2)");
  EXPECT_EQ(extra.column, 14u);
  EXPECT_EQ(extra.message,
            "threshold takes at most 1 argument, 2 given: int threshold(float thresh = 10)");
}

TEST_F(EvaluatorTest, WrongArgumentTypes) {
  auto text = failure("threshold(\"x\")");
  EXPECT_EQ(text.column, 11u);
  EXPECT_EQ(text.message,
            "cannot convert const char* to float for parameter 'thresh' of "
            "int threshold(float thresh = 10)");
  EXPECT_EQ(failure("open(3)").column, 6u);
  EXPECT_EQ(failure("process_event(3)").column, 15u);
  EXPECT_EQ(failure("threshold(set_level(1))").column, 11u);  // void is no argument
  // The inner call is not run when the outer one is wrong.
  EXPECT_EQ(failure("open(next_event())").column, 6u);
}

TEST_F(EvaluatorTest, SyntaxErrors) {
  EXPECT_EQ(failure("threshold(2.5").message, "unbalanced parentheses: '(' is never closed");
  EXPECT_EQ(failure("threshold(2.5").column, 10u);
  EXPECT_EQ(failure("threshold(2.5))").message, "unbalanced parentheses: unexpected ')'");
  EXPECT_EQ(failure("threshold(2.5))").column, 15u);
  EXPECT_EQ(failure("count").message, "'(' expected after 'count'");
  EXPECT_EQ(failure("threshold(1 2)").column, 13u);
  EXPECT_EQ(failure("open(\"abc)").message, "string literal is never closed");
  EXPECT_EQ(failure("threshold(1.2.3)").message, "malformed number '1.2.3'");
  EXPECT_EQ(failure("set_level(99999999999)").message,
            "integer '99999999999' is out of range for int");
  EXPECT_EQ(failure("count() count()").column, 9u);
  EXPECT_EQ(failure("threshold(,)").column, 11u);
  EXPECT_EQ(failure("threshold(1,").message, "unbalanced parentheses: '(' is never closed");
  EXPECT_EQ(failure("threshold(").column, 10u);
  EXPECT_EQ(failure("@").column, 1u);
}

TEST_F(EvaluatorTest, IntegerLiteralsReadAsInCpp) {
  evaluate("set_level(0x10)");
  evaluate("set_level(-0X1e)");
  evaluate("set_level(010)");
  evaluate("set_level(-0)");
  EXPECT_EQ(evaluate("threshold(0x1e)").value.as_int(), 300);
  EXPECT_EQ(calls, (std::vector<std::string>{"set_level(16)", "set_level(-30)", "set_level(8)",
                                             "set_level(0)", "threshold(30.000000)"}));
  calls.clear();
  EXPECT_EQ(failure("set_level(08)").message, "malformed number '08'");
  EXPECT_EQ(failure("set_level(0x)").message, "malformed number '0x'");
  EXPECT_EQ(failure("set_level(0x80000000)").message,
            "integer '0x80000000' is out of range for int");
}

// A literal beyond the range of its type is refused rather than passed on
// as infinity.
TEST_F(EvaluatorTest, RealLiteralsOutOfRangeAreRefused) {
  EXPECT_EQ(failure("threshold(1e400)").message, "number '1e400' is out of range for double");
  EXPECT_EQ(failure("threshold(-1e400)").column, 11u);
  EXPECT_EQ(failure("threshold(1e39f)").message, "number '1e39f' is out of range for float");
  EXPECT_EQ(evaluate("threshold(1e-400)").value.as_int(), 0);
}

TEST_F(EvaluatorTest, StringEscapesReadAsInCpp) {
  const auto opened = [this](const std::string& literal) {
    calls.clear();
    const Evaluation evaluation = evaluate("open(" + literal + ")");
    EXPECT_TRUE(evaluation.ok()) << literal << ": " << (evaluation.ok() ? "" : evaluation.error->message);
    return calls.empty() ? std::string("(not called)") : calls[0].substr(5, calls[0].size() - 6);
  };
  EXPECT_EQ(opened(R"("\x41-\x62")"), "A-b");
  EXPECT_EQ(opened(R"("a\0b")"), std::string("a\0b", 3));
  EXPECT_EQ(opened(R"("\101\1234\7")"), "AS4\a");
  EXPECT_EQ(opened(R"("\u00e9t\u00E9")"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(opened(R"("\U0001F600\u20AC")"), "\xF0\x9F\x98\x80\xE2\x82\xAC");
  EXPECT_EQ(opened(R"("\n\t\r\a\b\f\v\\\'\"\?")"), "\n\t\r\a\b\f\v\\'\"?");
  calls.clear();

  EXPECT_EQ(failure(R"(open("a\qb"))").message, "unknown escape sequence '\\q' in a string literal");
  EXPECT_EQ(failure(R"(open("a\qb"))").column, 8u);
  EXPECT_EQ(failure(R"(open("\x62c"))").message, "escape sequence out of range for a char in a string literal");
  EXPECT_EQ(failure(R"(open("\x"))").message, "\\x used with no following hex digits in a string literal");
  EXPECT_EQ(failure(R"(open("\x100"))").message, "escape sequence out of range for a char in a string literal");
  EXPECT_EQ(failure(R"(open("\777"))").message, "escape sequence out of range for a char in a string literal");
  EXPECT_EQ(failure(R"(open("\u12"))").message, "incomplete universal character name in a string literal");
  EXPECT_EQ(failure(R"(open("\uD800"))").message,
            "universal character name is not a valid character in a string literal");
  EXPECT_EQ(failure(R"(open("\U00110000"))").column, 7u);
}

TEST_F(EvaluatorTest, UnprintableCharactersAreShownEscaped) {
  EXPECT_EQ(failure("\xc3\xbc()").message, "unexpected '\\xc3'");
  EXPECT_EQ(failure(std::string("count()\0", 8)).message,
            "unexpected '\\x00' after the end of the expression");
  EXPECT_EQ(failure("threshold(1\t\x01)").message, "',' or ')' expected, found '\\x01'");
}

TEST_F(EvaluatorTest, RunAwayTokensAreShortenedInErrors) {
  const std::string name(100000, 'x');
  EXPECT_EQ(failure(name + "()").message, "unknown command '" + name.substr(0, 40) + "...'");
  EXPECT_EQ(failure(name).message, "'(' expected after '" + name.substr(0, 40) + "...'");
  const std::string digits(1000, '9');
  EXPECT_EQ(failure("set_level(" + digits + ")").message,
            "integer '" + digits.substr(0, 40) + "...' is out of range for int");
}

TEST_F(EvaluatorTest, DeepNestingIsRefused) {
  std::string line;
  for (int i = 0; i < 100000; ++i) line += "threshold(";
  EXPECT_EQ(failure(line).message, "calls nested more than 64 deep");
}

// Arbitrary input never escapes as an exception or a crash, and every error
// points inside the line.
TEST_F(EvaluatorTest, ArbitraryLinesAreAnsweredWithoutCrashing) {
  const std::string alphabet = "count(threshold,set_level)\"open 1.5e-3;-+x_@ ()";
  unsigned state = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    int length = static_cast<int>(state % 24);
    for (int i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      line += alphabet[(state >> 16) % alphabet.size()];
    }
    state = state * 1103515245u + 12345u;
    Evaluation evaluation = evaluate(line);
    if (!evaluation.ok()) {
      EXPECT_LE(evaluation.error->column, line.size() + 1) << line;
    }
  }
}

TEST_F(EvaluatorTest, CommandFailureBecomesAnError) {
  Evaluation evaluation = evaluate("open(\"missing\")");
  ASSERT_FALSE(evaluation.ok());
  EXPECT_EQ(describe(*evaluation.error), "column 1: open: cannot open missing");
}

// A result the evaluator is told means failure: the line ends there with an
// error naming the command and its result; other results pass.
TEST_F(EvaluatorTest, ResultMeaningFailureEndsTheLine) {
  const Evaluator evaluator(registry, [](const Command& command, const Value& result) {
    return command.name == "threshold" && result.as_int() < 0;
  });
  Evaluation evaluation = evaluator.evaluate("threshold(-0.5); count()");
  ASSERT_FALSE(evaluation.ok());
  EXPECT_EQ(describe(*evaluation.error), "column 1: threshold failed (returned -5)");
  EXPECT_EQ(calls, std::vector<std::string>{"threshold(-0.500000)"});
  calls.clear();
  EXPECT_TRUE(evaluator.evaluate("threshold(0.5); count()").ok());
  EXPECT_EQ(calls, (std::vector<std::string>{"threshold(0.500000)", "count()"}));
}

TEST(RegistryTest, RefusesDuplicatesAndRemovesByOwner) {
  Registry registry;
  std::string error;
  auto nothing = [](const std::vector<Value>&) { return Value(); };
  ASSERT_TRUE(registry.add({"a", Type::Void, {}, "one", nothing}, error));
  ASSERT_TRUE(registry.add({"b", Type::Void, {}, "two", nothing}, error));
  EXPECT_FALSE(registry.add({"a", Type::Void, {}, "two", nothing}, error));
  EXPECT_EQ(error, "command 'a' of two is already registered by one");
  registry.remove_owner("one");
  EXPECT_EQ(registry.find("a"), nullptr);
  ASSERT_EQ(registry.commands().size(), 1u);
  EXPECT_EQ(registry.commands()[0]->name, "b");
}

TEST(ValueTest, ConversionsFollowCpp) {
  using kivo::interp::convert;
  EXPECT_EQ(convert(Value::of_double(-2.9), Type::Int)->as_int(), -2);
  EXPECT_EQ(convert(Value::of_double(1e300), Type::Int)->as_int(), 2147483647);
  EXPECT_FLOAT_EQ(convert(Value::of_int(7), Type::Float)->as_float(), 7.0f);
  EXPECT_FALSE(convert(Value::of_string("x"), Type::Int));
  EXPECT_FALSE(convert(Value::of_int(0), Type::EventPointer));
}

}  // namespace
