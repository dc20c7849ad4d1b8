// Help read from the command table: the "More commands:" section that follows the help text,
// one command's help page, and the two questions dispatch asks of a command's arguments.
#pragma once

#include <string>

#include "base/io.h"
#include "cli/command_table.h"

namespace tarnwick {

// The help text followed by its "More commands:" section.
std::string general_help();
// Title, what the command does, usage, aliases, options and one example.
std::string command_help(const CommandEntry& entry);

// Whether `--help` or `-h` stands among the arguments as an option (not as an option's value,
// nor after a "--" that ends the options).
bool asks_for_help(const CommandEntry& entry, const Args& args);
// The arguments with each `--name=value` of an option that takes a value split into `--name`
// and `value`; an option's value and the operands after a "--" stay as they are.
Args with_values_split(const CommandEntry& entry, const Args& args);

}  // namespace tarnwick
