// The interpreter's names that the sources of the session's commands
// (HostCommands, QualityCommands, RegistryCommands) write their commands in.
#ifndef KIVO_HOST_COMMAND_NAMES_H
#define KIVO_HOST_COMMAND_NAMES_H

#include "Registry.h"
#include "Value.h"

namespace kivo::host::command_names {

using interp::Command;
using interp::CommandError;
using interp::Parameter;
using interp::Type;
using interp::Value;

}  // namespace kivo::host::command_names

#endif
