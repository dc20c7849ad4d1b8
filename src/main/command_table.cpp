#include "main/command_table.h"

#include <array>

namespace tarnwick {

namespace {

struct Command {
  std::string_view word;
  Handler handler;
};

const std::array<Command, 0> kCommands{};

}  // namespace

Handler find_command_handler(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.word == word) return command.handler;
  }
  return nullptr;
}

}  // namespace tarnwick
