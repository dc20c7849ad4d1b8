#include "cli/profile_dispatch.h"

#include <array>
#include <optional>
#include <string>

#include "onnx/profile/profile_command.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

// The options of either profile that take a value, which is then no path.
bool takes_value(const std::string& arg) {
  static constexpr std::array<std::string_view, 5> kOptions{"--limit", "--dim", "--context", "--batch",
                                                            "--cache-dtype"};
  for (std::string_view option : kOptions) {
    if (arg == option) return true;
  }
  return false;
}

std::optional<std::string> model_path(const Args& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (takes_value(args[i])) {
      ++i;
    } else if (!args[i].starts_with("--")) {
      return args[i];
    }
  }
  return std::nullopt;
}

}  // namespace

// A kind without a profile of its own goes to the graph profile, whose reader then says what
// it makes of the file (or of a missing path).
Status profile_dispatch(const Args& args, Io& io) {
  std::optional<std::string> path = model_path(args);
  const FormatDescriptor* format = path ? detect_format(*path) : nullptr;
  if (format != nullptr && format->profile != nullptr) return format->profile(args, io);
  return profile_command(args, io);
}

}  // namespace tarnwick
