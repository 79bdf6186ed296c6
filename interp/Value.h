// Values that flow through the command interpreter: literals typed at the
// prompt, arguments handed to commands and the results they return.
#ifndef KIVO_INTERP_VALUE_H
#define KIVO_INTERP_VALUE_H

#include <optional>
#include <string>
#include <string_view>

class Event;

namespace kivo::interp {

enum class Type { Void, Int, Float, Double, String, EventPointer };

// The C++ spelling of a type, as shown in signatures and results.
std::string_view type_name(Type type);

class Value {
 public:
  Value() = default;  // no value: the result of a void command
  static Value of_int(int value);
  static Value of_float(float value);
  static Value of_double(double value);
  static Value of_string(std::string value);
  static Value of_event(Event* value);

  Type type() const { return type_; }
  int as_int() const { return integer_; }
  float as_float() const { return static_cast<float>(real_); }
  double as_double() const { return real_; }
  const std::string& as_string() const { return text_; }
  Event* as_event() const { return event_; }

 private:
  Type type_ = Type::Void;
  int integer_ = 0;
  double real_ = 0;
  std::string text_;
  Event* event_ = nullptr;
};

// True when a value of type `from` may be passed where `to` is expected:
// the arithmetic types convert into each other as in C++; strings and
// Event pointers only into themselves.
bool convertible(Type from, Type to);

// `value` converted to `to` (float to int truncates toward zero); nullopt
// when the types do not convert.
std::optional<Value> convert(const Value& value, Type to);

// The value as a literal: 10, 2.5, "text".
std::string format_literal(const Value& value);

// The value as the prompt shows a result, e.g. "(int) 3"; empty for void.
std::string format_result(const Value& value);

}  // namespace kivo::interp

#endif
