// Command words and aliases, each with its handler.
#pragma once

#include <string_view>

#include "cli/dispatch.h"

namespace tarnwick {

// The handler of a command word or alias (exact, case-sensitive), or nullptr.
Handler find_command_handler(std::string_view word);

}  // namespace tarnwick
