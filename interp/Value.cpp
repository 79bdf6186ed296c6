#include "Value.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace kivo::interp {

std::string_view type_name(Type type) {
  switch (type) {
    case Type::Void: return "void";
    case Type::Int: return "int";
    case Type::Float: return "float";
    case Type::Double: return "double";
    case Type::String: return "const char*";
    case Type::EventPointer: return "Event*";
  }
  return "?";
}

Value Value::of_int(int value) {
  Value v;
  v.type_ = Type::Int;
  v.integer_ = value;
  v.real_ = value;
  return v;
}

Value Value::of_float(float value) {
  Value v;
  v.type_ = Type::Float;
  v.real_ = value;
  return v;
}

Value Value::of_double(double value) {
  Value v;
  v.type_ = Type::Double;
  v.real_ = value;
  return v;
}

Value Value::of_string(std::string value) {
  Value v;
  v.type_ = Type::String;
  v.text_ = std::move(value);
  return v;
}

Value Value::of_event(Event* value) {
  Value v;
  v.type_ = Type::EventPointer;
  v.event_ = value;
  return v;
}

namespace {

bool arithmetic(Type type) {
  return type == Type::Int || type == Type::Float || type == Type::Double;
}

// C++ leaves a float-to-int conversion out of range undefined; clamp instead.
int truncate_to_int(double real) {
  if (std::isnan(real)) return 0;
  if (real >= 2147483647.0) return 2147483647;
  if (real <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(real);
}

std::string format_real(double real, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, real);
  return buffer;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool convertible(Type from, Type to) {
  if (arithmetic(from) && arithmetic(to)) return true;
  return from == to && from != Type::Void;
}

std::optional<Value> convert(const Value& value, Type to) {
  if (!convertible(value.type(), to)) return std::nullopt;
  switch (to) {
    case Type::Int:
      return Value::of_int(value.type() == Type::Int ? value.as_int()
                                                     : truncate_to_int(value.as_double()));
    case Type::Float: return Value::of_float(static_cast<float>(value.as_double()));
    case Type::Double: return Value::of_double(value.as_double());
    default: return value;
  }
}

std::string format_literal(const Value& value) {
  switch (value.type()) {
    case Type::Int: return std::to_string(value.as_int());
    case Type::Float: return format_real(value.as_double(), 7);
    case Type::Double: return format_real(value.as_double(), 15);
    case Type::String: return quoted(value.as_string());
    case Type::EventPointer: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%p", static_cast<void*>(value.as_event()));
      return buffer;
    }
    case Type::Void: return "";
  }
  return "";
}

std::string format_result(const Value& value) {
  if (value.type() == Type::Void) return "";
  std::string type(type_name(value.type()));
  if (value.type() == Type::EventPointer) type = "Event *";
  if (value.type() == Type::String) type = "const char *";
  return "(" + type + ") " + format_literal(value);
}

}  // namespace kivo::interp
