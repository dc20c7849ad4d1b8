#include "cli/command_help.h"

#include <algorithm>
#include <utility>

#include "cli/usage_text.h"

namespace tarnwick {

namespace {

std::string option_label(const OptionHelp& option) {
  std::string label;
  if (!option.short_name.empty()) label.append(option.short_name).append(", ");
  label.append(option.name);
  if (!option.value.empty()) label.append(" ").append(option.value);
  return label;
}

std::string joined(const std::vector<std::string_view>& words) {
  std::string text;
  for (std::string_view word : words) text.append(text.empty() ? "" : ", ").append(word);
  return text;
}

// Walks the arguments as the handlers do: an option that takes a value owns the next argument.
template <class Visit>
void walk_options(const CommandEntry& entry, const Args& args, Visit visit) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (entry.double_dash_ends_options && arg == "--") return;
    const OptionHelp* option = find_option(entry, arg);
    bool takes_value = option != nullptr && !option->value.empty();
    if (!visit(i, arg) || !takes_value) continue;
    ++i;
  }
}

}  // namespace

std::string general_help() {
  std::string text(kHelpText);
  text += "\nMore commands:\n";
  for (const CommandEntry& entry : command_table()) {
    for (const UsageLine& line : entry.usage) {
      if (line.more) text.append("  ").append(line.text).append("\n");
    }
  }
  text += "  tarnwick help <command>  (or tarnwick <command> --help: its usage, options and an example)\n";
  text += "\ninspect, explain, diff, check and explain-diff also read .safetensors and .gguf files.\n"
          "An option that takes a value may also be written --name=value.\n";
  return text;
}

std::string command_help(const CommandEntry& entry) {
  std::string title = std::string("tarnwick ").append(entry.word);
  std::string text = title;
  text.append("\n").append(title.size(), '-').append("\n").append(entry.summary).append("\n\nUsage:\n");
  for (const UsageLine& line : entry.usage) text.append("  ").append(line.text).append("\n");
  if (!entry.aliases.empty()) text.append("\nAliases: ").append(joined(entry.aliases)).append("\n");
  text += "\nOptions:\n";
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (const OptionHelp& option : entry.options) rows.emplace_back(option_label(option), option.meaning);
  rows.emplace_back("-h, --help", "print this help");
  std::size_t width = 0;
  for (const auto& [label, meaning] : rows) width = std::max(width, label.size());
  for (const auto& [label, meaning] : rows) {
    text.append("  ").append(label).append(width - label.size() + 2, ' ').append(meaning).append("\n");
  }
  text.append("\nExample:\n  ").append(entry.example).append("\n");
  return text;
}

bool asks_for_help(const CommandEntry& entry, const Args& args) {
  bool asked = false;
  walk_options(entry, args, [&](std::size_t, const std::string& arg) {
    asked = asked || arg == "--help" || arg == "-h";
    return true;
  });
  return asked;
}

Args with_values_split(const CommandEntry& entry, const Args& args) {
  Args split;
  std::size_t copied = 0;
  walk_options(entry, args, [&](std::size_t i, const std::string& arg) {
    split.insert(split.end(), args.begin() + static_cast<std::ptrdiff_t>(copied), args.begin() + static_cast<std::ptrdiff_t>(i));
    copied = i;
    std::size_t equals = arg.find('=');
    if (!arg.starts_with("--") || equals == std::string::npos) return true;
    const OptionHelp* option = find_option(entry, std::string_view(arg).substr(0, equals));
    if (option == nullptr || option->value.empty()) return true;
    split.emplace_back(arg, 0, equals);
    split.emplace_back(arg, equals + 1);
    copied = i + 1;
    return false;  // the value is in this argument; the next one is not owned
  });
  split.insert(split.end(), args.begin() + static_cast<std::ptrdiff_t>(copied), args.end());
  return split;
}

}  // namespace tarnwick
