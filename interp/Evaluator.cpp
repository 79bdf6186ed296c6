#include "Evaluator.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

namespace kivo::interp {

std::string describe(const EvalError& error) {
  return "column " + std::to_string(error.column) + ": " + error.message;
}

namespace {

struct Node {
  std::size_t column = 0;
  Value literal;                 // used when `name` is empty
  std::string name;              // the command of a call
  std::vector<Node> arguments;
  bool is_call() const { return !name.empty(); }
};

struct Failure {
  EvalError error;
};

struct Interruption {
  Value partial;
  const Node* call;  // the command that was stopped
};

// Deeper nesting than any real command line needs; the bound keeps a pasted
// pathological line from exhausting the stack.
constexpr int kMaxNesting = 64;

[[noreturn]] void fail(std::size_t column, std::string message) {
  throw Failure{EvalError{column, std::move(message)}};
}

bool identifier_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A character quoted for an error line; control and non-ASCII bytes as \xNN
// so that the line stays one readable line.
std::string quoted(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte < 0x7F) return std::string("'") + c + "'";
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "'\\x%02x'", byte);
  return escaped;
}

// A name or number as typed, shortened so that an error line stays short
// even for a pasted run-away token.
std::string excerpt(const std::string& token) {
  constexpr std::size_t kShown = 40;
  return token.size() <= kShown ? token : token.substr(0, kShown) + "...";
}

// Recursive-descent parser of: line := [expr] {';' [expr]} [comment] ;
// expr := call | literal ; call := name '(' [expr {',' expr}] ')' ;
// literal := ['-'|'+'] number | string.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // Whether the line ended with ';', which hides the result as at a ROOT prompt.
  bool terminated() const { return terminated_; }

  // The statements of the line, in order.
  std::vector<Node> parse_line() {
    std::vector<Node> statements;
    for (skip_blanks(); !at_end() && !at_comment(); skip_blanks()) {
      if (peek() == ';') {
        ++pos_;
        terminated_ = true;
        continue;
      }
      statements.push_back(parse_expression());
      terminated_ = false;
      skip_blanks();
      if (!at_end() && !at_comment() && peek() != ';') {
        if (peek() == ')') fail(column(), "unbalanced parentheses: unexpected ')'");
        fail(column(), "unexpected " + quoted(peek()) + " after the end of the expression");
      }
    }
    return statements;
  }

 private:
  Node parse_expression() {
    skip_blanks();
    if (at_end()) fail(column(), "expression expected at the end of the line");
    char c = peek();
    if (identifier_start(c)) return parse_call();
    if (c == '"') return parse_string();
    if (digit(c) || c == '.' || c == '-' || c == '+') return parse_number();
    fail(column(), "unexpected " + quoted(c));
  }

  Node parse_call() {
    Node node;
    node.column = column();
    if (++depth_ > kMaxNesting) {
      fail(node.column, "calls nested more than " + std::to_string(kMaxNesting) + " deep");
    }
    while (!at_end() && identifier_char(peek())) node.name += text_[pos_++];
    skip_blanks();
    if (at_end() || peek() != '(') {
      fail(column(), "'(' expected after '" + excerpt(node.name) + "'");
    }
    std::size_t open = column();
    ++pos_;
    skip_blanks();
    if (!at_end() && peek() == ')') {
      ++pos_;
      --depth_;
      return node;
    }
    while (true) {
      skip_blanks();
      if (at_end()) fail(open, "unbalanced parentheses: '(' is never closed");
      node.arguments.push_back(parse_expression());
      skip_blanks();
      if (at_end()) fail(open, "unbalanced parentheses: '(' is never closed");
      if (peek() == ')') {
        ++pos_;
        --depth_;
        return node;
      }
      if (peek() != ',') fail(column(), "',' or ')' expected, found " + quoted(peek()));
      ++pos_;
    }
  }

  Node parse_string() {
    Node node;
    node.column = column();
    ++pos_;
    std::string text;
    while (true) {
      if (at_end()) fail(node.column, "string literal is never closed");
      char c = text_[pos_++];
      if (c == '"') break;
      if (c == '\\') {
        if (at_end()) fail(node.column, "string literal is never closed");
        parse_escape(text);
      } else {
        text += c;
      }
    }
    node.literal = Value::of_string(std::move(text));
    return node;
  }

  // One escape sequence after its backslash, as C++ reads it in a narrow
  // string literal: simple escapes, octal (1 to 3 digits), \x hexadecimal and
  // \u / \U universal character names (written as UTF-8).
  void parse_escape(std::string& text) {
    const std::size_t escape_column = column() - 1;
    const char c = text_[pos_++];
    if (const char simple = simple_escape(c)) {
      text += simple;
    } else if (c >= '0' && c <= '7') {
      --pos_;
      text += static_cast<char>(escaped_number(8, 3, escape_column));
    } else if (c == 'x') {
      text += static_cast<char>(escaped_number(16, std::string::npos, escape_column));
    } else if (c == 'u' || c == 'U') {
      append_utf8(text, universal_character(c == 'u' ? 4 : 8, escape_column), escape_column);
    } else {
      fail(escape_column, "unknown escape sequence '\\" + std::string(1, c) + "' in a string literal");
    }
  }

  static char simple_escape(char c) {
    switch (c) {
      case 'n': return '\n';
      case 't': return '\t';
      case 'r': return '\r';
      case 'a': return '\a';
      case 'b': return '\b';
      case 'f': return '\f';
      case 'v': return '\v';
      case '\\': return '\\';
      case '\'': return '\'';
      case '"': return '"';
      case '?': return '?';
      default: return '\0';
    }
  }

  static int digit_value(char c, int base) {
    const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : base;
    return value < base ? value : -1;
  }

  // The value of up to `most` digits in `base`; it must fit in one byte.
  unsigned escaped_number(int base, std::size_t most, std::size_t escape_column) {
    unsigned value = 0;
    std::size_t count = 0;
    for (; count < most && !at_end() && digit_value(peek(), base) >= 0; ++count, ++pos_) {
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit_value(peek(), base));
      if (value > 0xFF) fail(escape_column, "escape sequence out of range for a char in a string literal");
    }
    if (count == 0) fail(escape_column, "\\x used with no following hex digits in a string literal");
    return value;
  }

  char32_t universal_character(std::size_t digits, std::size_t escape_column) {
    char32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i, ++pos_) {
      if (at_end() || digit_value(peek(), 16) < 0)
        fail(escape_column, "incomplete universal character name in a string literal");
      value = value * 16 + static_cast<char32_t>(digit_value(peek(), 16));
    }
    return value;
  }

  static void append_utf8(std::string& text, char32_t code, std::size_t escape_column) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      fail(escape_column, "universal character name is not a valid character in a string literal");
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (code < 0x80) {
      text += byte(code);
    } else if (code < 0x800) {
      text += byte(0xC0 | (code >> 6));
      text += byte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text += byte(0xE0 | (code >> 12));
      text += byte(0x80 | ((code >> 6) & 0x3F));
      text += byte(0x80 | (code & 0x3F));
    } else {
      text += byte(0xF0 | (code >> 18));
      text += byte(0x80 | ((code >> 12) & 0x3F));
      text += byte(0x80 | ((code >> 6) & 0x3F));
      text += byte(0x80 | (code & 0x3F));
    }
  }

  Node parse_number() {
    Node node;
    node.column = column();
    std::size_t start = pos_;
    if (peek() == '-' || peek() == '+') ++pos_;
    const bool hex = text_.substr(pos_, 2) == "0x" || text_.substr(pos_, 2) == "0X";
    bool real = false;
    while (!at_end() && (identifier_char(peek()) || peek() == '.' ||
                         (!hex && (peek() == '-' || peek() == '+') && exponent_sign()))) {
      if (!hex && (peek() == '.' || peek() == 'e' || peek() == 'E')) real = true;
      ++pos_;
    }
    std::string token(text_.substr(start, pos_ - start));
    node.literal = real ? real_literal(token, node.column) : int_literal(token, node.column);
    return node;
  }

  bool exponent_sign() const {
    char before = text_[pos_ - 1];
    return before == 'e' || before == 'E';
  }

  // Decimal, 0x hexadecimal or 0 octal, as C++ reads an int literal.
  static Value int_literal(const std::string& token, std::size_t col) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(token.c_str(), &end, 0);
    if (end == token.c_str() || *end != '\0') fail(col, "malformed number '" + excerpt(token) + "'");
    if (errno == ERANGE || value > 2147483647LL || value < -2147483648LL) {
      fail(col, "integer '" + excerpt(token) + "' is out of range for int");
    }
    return Value::of_int(static_cast<int>(value));
  }

  // A trailing f makes a float literal, as in C++; otherwise a double.
  static Value real_literal(const std::string& token, std::size_t col) {
    bool is_float = token.back() == 'f' || token.back() == 'F';
    std::string digits = is_float ? token.substr(0, token.size() - 1) : token;
    char* end = nullptr;
    double value = std::strtod(digits.c_str(), &end);
    if (digits.empty() || end == digits.c_str() || *end != '\0' ||
        digits.find_first_of("xXnN") != std::string::npos) {
      fail(col, "malformed number '" + excerpt(token) + "'");
    }
    if (std::isinf(is_float ? static_cast<float>(value) : value)) {
      fail(col, "number '" + excerpt(token) + "' is out of range for " + (is_float ? "float" : "double"));
    }
    return is_float ? Value::of_float(static_cast<float>(value)) : Value::of_double(value);
  }

  void skip_blanks() {
    while (!at_end() && std::isspace(static_cast<unsigned char>(peek()))) ++pos_;
  }
  bool at_end() const { return pos_ >= text_.size(); }
  // A // comment ends the line, as in C++.
  bool at_comment() const { return text_.substr(pos_, 2) == "//"; }
  char peek() const { return text_[pos_]; }
  std::size_t column() const { return pos_ + 1; }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  bool terminated_ = false;
};

std::string count_message(const Command& command, std::size_t given) {
  std::size_t required = 0;
  for (const Parameter& parameter : command.parameters) {
    if (!parameter.default_value) ++required;
  }
  std::size_t most = command.parameters.size();
  std::string expected = required == most ? std::to_string(most)
                         : required == 0  ? "at most " + std::to_string(most)
                                          : std::to_string(required) + " to " + std::to_string(most);
  return command.name + " takes " + expected + " argument" + (most == 1 ? "" : "s") + ", " +
         std::to_string(given) + " given: " + signature(command);
}

// Resolves every call of the tree and checks argument counts and types;
// returns the type the node evaluates to.
Type check(const Node& node, const Registry& registry) {
  if (!node.is_call()) return node.literal.type();
  const Command* command = registry.find(node.name);
  if (!command) fail(node.column, "unknown command '" + excerpt(node.name) + "'");
  if (node.arguments.size() > command->parameters.size()) {
    fail(node.arguments[command->parameters.size()].column,
         count_message(*command, node.arguments.size()));
  }
  for (std::size_t i = node.arguments.size(); i < command->parameters.size(); ++i) {
    if (!command->parameters[i].default_value) {
      fail(node.column, count_message(*command, node.arguments.size()));
    }
  }
  for (std::size_t i = 0; i < node.arguments.size(); ++i) {
    const Node& argument = node.arguments[i];
    Type given = check(argument, registry);
    const Parameter& parameter = command->parameters[i];
    if (!convertible(given, parameter.type)) {
      fail(argument.column, "cannot convert " + std::string(type_name(given)) + " to " +
                                std::string(type_name(parameter.type)) + " for parameter '" +
                                parameter.name + "' of " + signature(*command));
    }
  }
  return command->result;
}

// Calls the command of `node` with `arguments`; a result that `failed`
// rejects ends the line as a CommandError would.
Value invoke(const Node& node, const Command& command, const std::vector<Value>& arguments,
             const FailedResult& failed) {
  Value result;
  try {
    result = command.invoke(arguments);
  } catch (const CommandInterrupted& stopped) {
    throw Interruption{stopped.partial(), &node};
  } catch (const CommandError& error) {
    fail(node.column, command.name + ": " + error.what());
  } catch (const std::exception& error) {
    fail(node.column, command.name + " failed: " + error.what());
  }
  if (failed && failed(command, result))
    fail(node.column, command.name + " failed (returned " + format_literal(result) + ")");
  return result;
}

Value run(const Node& node, const Registry& registry, const FailedResult& failed) {
  if (!node.is_call()) return node.literal;
  const Command& command = *registry.find(node.name);
  std::vector<Value> arguments;
  for (std::size_t i = 0; i < command.parameters.size(); ++i) {
    const Parameter& parameter = command.parameters[i];
    Value given = i < node.arguments.size() ? run(node.arguments[i], registry, failed)
                                            : *parameter.default_value;
    arguments.push_back(*convert(given, parameter.type));
  }
  return invoke(node, command, arguments, failed);
}

// Runs the statements in order until one is stopped by Ctrl-C. A partial
// result is shown only when it is that of the line's last statement itself.
void run_statements(const std::vector<Node>& statements, const Registry& registry,
                    const FailedResult& failed, Evaluation& evaluation) {
  try {
    for (const Node& statement : statements) evaluation.value = run(statement, registry, failed);
  } catch (const Interruption& interruption) {
    evaluation.interrupted = true;
    evaluation.value = interruption.partial;
    evaluation.show_result = evaluation.show_result && interruption.call == &statements.back();
  }
}

}  // namespace

Evaluation Evaluator::evaluate(std::string_view line) const {
  Evaluation evaluation;
  try {
    Parser parser(line);
    const std::vector<Node> statements = parser.parse_line();
    for (const Node& statement : statements) check(statement, registry_);
    evaluation.show_result = !statements.empty() && !parser.terminated();
    run_statements(statements, registry_, failed_, evaluation);
  } catch (const Failure& failure) {
    evaluation.error = failure.error;
  }
  return evaluation;
}

}  // namespace kivo::interp
