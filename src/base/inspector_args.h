// The options shared by the artifact inspectors: --json, --limit N, --deep and paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

inline constexpr std::uint64_t kDefaultLimit = 20;
inline constexpr const char* kDeepOnlyForCatboost =
    "--deep inspection is currently only supported for CatBoost artifacts.";
inline constexpr const char* kDeepWithJson = "--deep cannot be combined with --json yet.";

struct InspectorArgs {
  bool json = false;
  bool deep = false;
  std::uint64_t limit = kDefaultLimit;
  std::vector<std::string> paths;
};

enum class DeepOption { Accepted, Refused };

// Walks the arguments left to right; a refused --deep fails as soon as it is met.
Result<InspectorArgs> scan_inspector_args(const Args& args, DeepOption deep);
// "parse --limit: {reason}" for a value that is not an unsigned count.
Result<std::uint64_t> parse_limit_value(const std::string& text);

}  // namespace tarnwick
