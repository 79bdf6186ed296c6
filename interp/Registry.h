// The commands callable at the prompt: name, typed parameters with names and
// default values, result type and the dictionary (owner) that registered them.
// One registry per process, shared by the host and every loaded monitor
// library, which is why this library is shared.
#ifndef KIVO_INTERP_REGISTRY_H
#define KIVO_INTERP_REGISTRY_H

#include <functional>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Value.h"

namespace kivo::interp {

struct Parameter {
  Type type;
  std::string name;
  std::optional<Value> default_value;  // nullopt: the argument is required
};

// Receives one value per parameter, each already converted to its type.
using Invoker = std::function<Value(const std::vector<Value>& arguments)>;

struct Command {
  std::string name;
  Type result;
  std::vector<Parameter> parameters;
  std::string owner;
  Invoker invoke;
};

// Thrown by a command to refuse its arguments or report that it failed;
// the evaluator turns it into an error line.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown by a command that Ctrl-C stopped before its end, with the result of the
// work it did; the evaluator runs nothing more of the line.
class CommandInterrupted {
 public:
  explicit CommandInterrupted(Value partial) : partial_(std::move(partial)) {}
  const Value& partial() const { return partial_; }

 private:
  Value partial_;
};

// "int process_histos(float thresh = 10)"
std::string signature(const Command& command);

class Registry {
 public:
  // The process-wide registry that dictionaries register into.
  static Registry& global();

  // Adds `command` after the others; refuses (returns false and says why in
  // `error`) a name that is already taken.
  bool add(Command command, std::string& error);
  // Removes every command registered by `owner`.
  void remove_owner(std::string_view owner);

  const Command* find(std::string_view name) const;
  // Every command in registration order.
  std::vector<const Command*> commands() const;
  std::vector<const Command*> commands_of(std::string_view owner) const;

 private:
  std::list<Command> commands_;  // a list keeps pointers valid across additions
};

}  // namespace kivo::interp

#endif
