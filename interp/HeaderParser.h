// Reads the function declarations of a monitor header for the dictionary
// generator. It understands only what such a header holds: include guards,
// class forward declarations, comments and one-line function declarations
// with int, float, double, const char* or class-pointer parameters and
// numeric default arguments. Anything else is an error naming its line.
#ifndef KIVO_INTERP_HEADER_PARSER_H
#define KIVO_INTERP_HEADER_PARSER_H

#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace kivo::interp {

struct DeclaredParameter {
  Type type;
  std::string name;
  std::optional<Value> default_value;
};

struct DeclaredFunction {
  Type result;
  std::string name;
  std::vector<DeclaredParameter> parameters;
  int line;
};

struct ParsedHeader {
  std::vector<DeclaredFunction> functions;  // in declaration order
  std::vector<std::string> classes;          // forward-declared class names
  std::optional<std::string> error;          // "kivo.h:12: ..." on failure
};

ParsedHeader parse_header(const std::string& text, const std::string& file_name);

}  // namespace kivo::interp

#endif
