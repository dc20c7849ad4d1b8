// The pieces of the comparison gate: percentages, growth rules and their results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "base/word_list.h"

namespace tarnwick {

struct CheckOptions {
  std::optional<double> max_size_growth;
  std::optional<double> max_ops_growth;
  std::optional<double> max_parameter_growth;
  bool fail_on_feature_change = false;
  bool fail_on_training_config_change = false;
  bool fail_on_new_op = false;
  // Rules on tensor values (tensor checkpoints of any format).
  bool fail_on_nonfinite = false;
  std::optional<double> max_tensor_change;  // the largest rel_l2 allowed
  std::vector<std::string> frozen;          // globs of tensors that must stay bit-identical
  // Serving memory of the new language-model checkpoint: weights and KV cache at `context`
  // tokens (the model's stated context length when absent), one sequence, float16 cache.
  std::optional<std::uint64_t> max_serving_memory;
  std::optional<std::uint64_t> serving_context;
};

struct CheckResult {
  CheckResult() = default;
  CheckResult(std::string rule, std::string measured, bool holds)
      : name(std::move(rule)), detail(std::move(measured)), passed(holds) {}

  std::string name;
  std::string detail;
  bool passed = false;
  // The compared figures and the limit, for rules that compare counts; absent otherwise.
  std::optional<std::uint64_t> old_value;
  std::optional<std::uint64_t> new_value;
  std::optional<double> limit;
};

// A kind's check rules, evaluated; the gate prints them in the shared frame.
struct CheckOutcome {
  std::string old_name;
  std::string new_name;
  std::vector<CheckResult> results;
  // Where a rule's figure is not the exact one, why (one line each).
  std::vector<std::string> notes;
};

// "20", "20%", " 20%% " mean 20; negative values (also -0) are refused.
Result<double> parse_percentage(const std::string& text);
CheckResult growth_check(const std::string& name, std::uint64_t old_value, std::uint64_t new_value, double limit);
// `result` with the two counts it compared (names, keys) as its figures.
CheckResult count_check(CheckResult result, std::uint64_t old_count, std::uint64_t new_count);
// List equality, with "{old} -> {new} {noun}" as the detail.
CheckResult names_unchanged_check(const std::string& name, const std::vector<std::string>& old_names,
                                  const std::vector<std::string>& new_names, const std::string& noun);
CheckResult names_unchanged_check(const std::string& name, const WordList& old_names, const WordList& new_names,
                                  const std::string& noun);

// The rules only ONNX models answer (ops growth, parameter growth, new operators), refused with
// the message of the first one set.
Status refuse_onnx_only_rules(const CheckOptions& options);
inline constexpr const char* kOnlyOnnxOps = "--max-ops-growth is only supported for ONNX artifacts.";
inline constexpr const char* kOnlyOnnxNewOp = "--fail-on-new-op is only supported for ONNX artifacts.";
// "training config unchanged" with the compared fields as its detail.
CheckResult training_config_check(bool same, const char* fields);

}  // namespace tarnwick
