// The command table: each command word with its aliases, its handler and its help (usage,
// options, one example). Dispatch, per-command help, the "More commands:" section of the help
// text and the `--name=value` spelling are all read from it.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "cli/dispatch.h"

namespace tarnwick {

struct OptionHelp {
  std::string_view name;           // "--limit"
  std::string_view value = {};     // "N" when the option takes the next argument, empty for a flag
  std::string_view meaning = {};
  std::string_view short_name = {};  // "-r", when the option has one
};

struct UsageLine {
  std::string_view text;  // "tarnwick contents [--json] [--limit N] <model>"
  // Not in the help text's own sections, so listed under "More commands:".
  bool more = false;
};

struct CommandEntry {
  std::string_view word;
  std::vector<std::string_view> aliases;
  Handler handler = nullptr;
  std::string_view summary;  // what the command does, one line
  std::vector<UsageLine> usage;
  std::vector<OptionHelp> options;
  std::string_view example;
  // A lone "--" ends the options: what follows is an operand, "--help" included.
  bool double_dash_ends_options = false;
};

std::span<const CommandEntry> command_table();
// The entry of a command word or alias (exact, case-sensitive), or nullptr.
const CommandEntry* find_command(std::string_view word);
// The option of `entry` spelled `word` (its long or short name), or nullptr.
const OptionHelp* find_option(const CommandEntry& entry, std::string_view word);

}  // namespace tarnwick
