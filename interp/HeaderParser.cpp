#include "HeaderParser.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace kivo::interp {

namespace {

struct LineError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Splits one line into words, numbers and single punctuation characters.
std::vector<std::string> tokenize(const std::string& line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (word_char(c) || c == '.' || ((c == '-' || c == '+') && i + 1 < line.size() &&
                                            (std::isdigit(static_cast<unsigned char>(line[i + 1])) ||
                                             line[i + 1] == '.'))) {
      std::size_t start = i++;
      while (i < line.size() && (word_char(line[i]) || line[i] == '.')) ++i;
      tokens.push_back(line.substr(start, i - start));
    } else if (std::string("()*,;=#").find(c) != std::string::npos) {
      tokens.emplace_back(1, c);
      ++i;
    } else {
      throw LineError(std::string("unexpected character '") + c + "'");
    }
  }
  return tokens;
}

// Removes // and /* */ comments; `in_block` carries an open block comment
// over to the next line.
std::string strip_comments(const std::string& line, bool& in_block) {
  std::string code;
  std::size_t i = 0;
  while (i < line.size()) {
    if (in_block) {
      std::size_t end = line.find("*/", i);
      if (end == std::string::npos) return code;
      in_block = false;
      i = end + 2;
    } else if (line.compare(i, 2, "//") == 0) {
      return code;
    } else if (line.compare(i, 2, "/*") == 0) {
      in_block = true;
      i += 2;
    } else {
      code += line[i++];
    }
  }
  return code;
}

bool identifier(const std::string& token) {
  return !token.empty() && (std::isalpha(static_cast<unsigned char>(token[0])) || token[0] == '_') &&
         std::all_of(token.begin(), token.end(), word_char);
}

class DeclarationParser {
 public:
  DeclarationParser(std::vector<std::string> tokens, const std::vector<std::string>& classes)
      : tokens_(std::move(tokens)), classes_(classes) {}

  DeclaredFunction parse() {
    DeclaredFunction function;
    function.result = result_type();
    function.name = name("function name");
    expect("(");
    if (peek() == "void" && peek(1) == ")") take();
    while (peek() != ")") {
      if (!function.parameters.empty()) expect(",");
      function.parameters.push_back(parameter(function.parameters));
    }
    expect(")");
    expect(";");
    if (!at_end()) throw LineError("unexpected '" + peek() + "' after the declaration");
    return function;
  }

 private:
  Type result_type() {
    std::string word = take();
    if (word == "void") return Type::Void;
    if (word == "int") return Type::Int;
    if (word == "float") return Type::Float;
    if (word == "double") return Type::Double;
    throw LineError("unsupported result type '" + word + "'");
  }

  DeclaredParameter parameter(const std::vector<DeclaredParameter>& earlier) {
    DeclaredParameter parameter;
    parameter.type = parameter_type();
    parameter.name = name("parameter name");
    if (peek() == "=") {
      take();
      parameter.default_value = default_value(parameter.type);
    } else if (!earlier.empty() && earlier.back().default_value) {
      throw LineError("parameter '" + parameter.name + "' needs a default after a defaulted one");
    }
    return parameter;
  }

  Type parameter_type() {
    std::string word = take();
    if (word == "int") return Type::Int;
    if (word == "float") return Type::Float;
    if (word == "double") return Type::Double;
    if (word == "const" && peek() == "char" && peek(1) == "*") {
      take();
      take();
      return Type::String;
    }
    bool declared = std::find(classes_.begin(), classes_.end(), word) != classes_.end();
    if (word == "Event" && declared && peek() == "*") {
      take();
      return Type::EventPointer;
    }
    throw LineError("unsupported parameter type '" + word + "'");
  }

  Value default_value(Type type) {
    std::string literal = take();
    Value value = number(literal);
    if (!convertible(value.type(), type)) {
      throw LineError("default '" + literal + "' does not fit " + std::string(type_name(type)));
    }
    return value;
  }

  static Value number(const std::string& literal) {
    char* end = nullptr;
    if (literal.find_first_of(".eE") == std::string::npos) {
      long value = std::strtol(literal.c_str(), &end, 10);
      if (!literal.empty() && *end == '\0' && value >= -2147483647L - 1 && value <= 2147483647L) {
        return Value::of_int(static_cast<int>(value));
      }
    } else {
      bool is_float = literal.back() == 'f' || literal.back() == 'F';
      std::string digits = is_float ? literal.substr(0, literal.size() - 1) : literal;
      double value = std::strtod(digits.c_str(), &end);
      if (!digits.empty() && *end == '\0') {
        return is_float ? Value::of_float(static_cast<float>(value)) : Value::of_double(value);
      }
    }
    throw LineError("default argument '" + literal + "' is not a number");
  }

  std::string name(const char* what) {
    std::string word = take();
    if (!identifier(word)) throw LineError(std::string(what) + " expected, found '" + word + "'");
    return word;
  }

  void expect(const std::string& token) {
    std::string word = take();
    if (word != token) throw LineError("'" + token + "' expected, found '" + word + "'");
  }

  std::string take() {
    if (at_end()) throw LineError("declaration ends early");
    return tokens_[next_++];
  }
  std::string peek(std::size_t ahead = 0) const {
    return next_ + ahead < tokens_.size() ? tokens_[next_ + ahead] : std::string();
  }
  bool at_end() const { return next_ >= tokens_.size(); }

  std::vector<std::string> tokens_;
  const std::vector<std::string>& classes_;
  std::size_t next_ = 0;
};

bool preprocessor_line(const std::vector<std::string>& tokens) {
  if (tokens.empty() || tokens[0] != "#") return false;
  if (tokens.size() < 2) throw LineError("empty preprocessor directive");
  const std::string& directive = tokens[1];
  if ((directive == "ifndef" && tokens.size() == 3 && identifier(tokens[2])) ||
      (directive == "define" && (tokens.size() == 3 || tokens.size() == 4) && identifier(tokens[2])) ||
      (directive == "endif" && tokens.size() == 2)) {
    return true;
  }
  throw LineError("unsupported preprocessor line");
}

bool class_declaration(const std::vector<std::string>& tokens, std::vector<std::string>& classes) {
  if (tokens.empty() || tokens[0] != "class") return false;
  if (tokens.size() != 3 || !identifier(tokens[1]) || tokens[2] != ";") {
    throw LineError("only forward declarations 'class Name;' are supported");
  }
  classes.push_back(tokens[1]);
  return true;
}

void parse_line(const std::vector<std::string>& tokens, ParsedHeader& header, int line_number) {
  if (tokens.empty() || preprocessor_line(tokens) || class_declaration(tokens, header.classes)) {
    return;
  }
  DeclaredFunction function = DeclarationParser(tokens, header.classes).parse();
  for (const DeclaredFunction& other : header.functions) {
    if (other.name == function.name) throw LineError("'" + function.name + "' is declared twice");
  }
  function.line = line_number;
  header.functions.push_back(std::move(function));
}

}  // namespace

ParsedHeader parse_header(const std::string& text, const std::string& file_name) {
  ParsedHeader header;
  std::istringstream lines(text);
  std::string line;
  bool in_block = false;
  int line_number = 0;
  while (std::getline(lines, line)) {
    ++line_number;
    try {
      parse_line(tokenize(strip_comments(line, in_block)), header, line_number);
    } catch (const LineError& error) {
      header.error = file_name + ":" + std::to_string(line_number) + ": " + error.what();
      return header;
    }
  }
  if (in_block) header.error = file_name + ": comment is never closed";
  return header;
}

}  // namespace kivo::interp
