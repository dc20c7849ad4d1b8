// The pieces of the comparison gate: percentages, growth rules and their results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "main/status.h"
#include "main/word_list.h"

namespace tarnwick {

struct CheckOptions {
  std::optional<double> max_size_growth;
  std::optional<double> max_ops_growth;
  std::optional<double> max_parameter_growth;
  bool fail_on_feature_change = false;
  bool fail_on_training_config_change = false;
  bool fail_on_new_op = false;
};

struct CheckResult {
  std::string name;
  std::string detail;
  bool passed = false;
};

// "20", "20%", " 20%% " mean 20; negative values (also -0) are refused.
Result<double> parse_percentage(const std::string& text);
CheckResult growth_check(const std::string& name, std::uint64_t old_value, std::uint64_t new_value, double limit);
// List equality, with "{old} -> {new} {noun}" as the detail.
CheckResult names_unchanged_check(const std::string& name, const std::vector<std::string>& old_names,
                                  const std::vector<std::string>& new_names, const std::string& noun);
CheckResult names_unchanged_check(const std::string& name, const WordList& old_names, const WordList& new_names,
                                  const std::string& noun);

}  // namespace tarnwick
