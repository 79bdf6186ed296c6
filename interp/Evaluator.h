// Evaluates one line typed at the prompt: a call expression such as
// `mask_pixels(2.5);` or `process_event(next_event())`, or a bare literal, or
// several separated by ';' that run in order, as `process_histos(); mask_pixels()`.
// Arguments are int, float or string literals or nested calls; they convert
// as in C++. The whole line is checked before anything runs, so a line with a
// syntax, name or type error changes nothing. A command that fails, or that
// Ctrl-C stops, ends the line there.
#ifndef KIVO_INTERP_EVALUATOR_H
#define KIVO_INTERP_EVALUATOR_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Registry.h"
#include "Value.h"

namespace kivo::interp {

struct EvalError {
  std::size_t column;  // 1-based position in the line
  std::string message;
};

// "column 13: cannot convert const char* to float for parameter 'thresh' of mask_pixels"
std::string describe(const EvalError& error);

struct Evaluation {
  Value value;                    // of the last statement; void for an empty line or a void command
  std::optional<EvalError> error;
  bool show_result = false;       // false when the line ended with ';'
  bool interrupted = false;       // a command was stopped by Ctrl-C; `value` is its partial result
  bool ok() const { return !error; }
};

// Whether a result that a command returned means that it failed; such a
// command ends its line as one that throws CommandError does.
using FailedResult = std::function<bool(const Command& command, const Value& result)>;

class Evaluator {
 public:
  explicit Evaluator(const Registry& registry, FailedResult failed = nullptr)
      : registry_(registry), failed_(std::move(failed)) {}
  Evaluation evaluate(std::string_view line) const;

 private:
  const Registry& registry_;
  FailedResult failed_;
};

}  // namespace kivo::interp

#endif
