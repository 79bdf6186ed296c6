#include "Registry.h"

#include <utility>

namespace kivo::interp {

std::string signature(const Command& command) {
  std::string text = std::string(type_name(command.result)) + " " + command.name + "(";
  for (std::size_t i = 0; i < command.parameters.size(); ++i) {
    const Parameter& parameter = command.parameters[i];
    if (i > 0) text += ", ";
    text += std::string(type_name(parameter.type)) + " " + parameter.name;
    if (parameter.default_value) text += " = " + format_literal(*parameter.default_value);
  }
  return text + ")";
}

Registry& Registry::global() {
  static Registry registry;
  return registry;
}

bool Registry::add(Command command, std::string& error) {
  if (const Command* existing = find(command.name)) {
    error = "command '" + command.name + "' of " + command.owner + " is already registered by " +
            existing->owner;
    return false;
  }
  commands_.push_back(std::move(command));
  return true;
}

void Registry::remove_owner(std::string_view owner) {
  commands_.remove_if([owner](const Command& command) { return command.owner == owner; });
}

const Command* Registry::find(std::string_view name) const {
  for (const Command& command : commands_) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::vector<const Command*> Registry::commands() const {
  std::vector<const Command*> all;
  for (const Command& command : commands_) all.push_back(&command);
  return all;
}

std::vector<const Command*> Registry::commands_of(std::string_view owner) const {
  std::vector<const Command*> owned;
  for (const Command& command : commands_) {
    if (command.owner == owner) owned.push_back(&command);
  }
  return owned;
}

}  // namespace kivo::interp
