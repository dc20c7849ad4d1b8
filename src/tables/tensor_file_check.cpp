#include "tables/tensor_file_commands.h"

#include <algorithm>

#include "base/change_wording.h"
#include "base/format.h"
#include "tables/serving_memory.h"
#include "tables/serving_memory_report.h"
#include "tables/tensor_file_changes.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

namespace {

std::string listed_keys(const char* what, const std::vector<std::string>& keys) {
  constexpr std::size_t kShown = 5;
  std::string text = std::string(what) + ": ";
  for (std::size_t i = 0; i < keys.size() && i < kShown; ++i) text += (i ? ", " : "") + keys[i];
  if (keys.size() > kShown) text += ", ... " + std::to_string(keys.size() - kShown) + " more";
  return text;
}

CheckResult metadata_check(const TensorFileSummary& old_model, const TensorFileSummary& new_model,
                           const TensorFileChanges& changes) {
  std::string detail = std::to_string(old_model.metadata_value_hashes.size()) + " -> " +
                       std::to_string(new_model.metadata_value_hashes.size()) + " keys";
  if (same_metadata(changes)) return {"metadata unchanged", detail + " (same)", true};
  std::vector<std::string> parts;
  if (!changes.metadata_changed.empty()) parts.push_back(listed_keys("changed", changes.metadata_changed));
  if (!changes.metadata_added.empty()) parts.push_back(listed_keys("added", changes.metadata_added));
  if (!changes.metadata_removed.empty()) parts.push_back(listed_keys("removed", changes.metadata_removed));
  detail += " (";
  for (std::size_t i = 0; i < parts.size(); ++i) detail += (i ? "; " : "") + parts[i];
  return {"metadata unchanged", detail + ")", false};
}

// Operators of the new model the old one does not run, in the new model's order.
CheckResult new_operator_check(const TensorFileFormat& format, const TensorFileSummary& old_model,
                               const TensorFileSummary& new_model) {
  std::vector<std::string> old_types = format.operator_types(old_model.metadata);
  std::vector<std::string> added;
  for (const std::string& op : format.operator_types(new_model.metadata)) {
    if (std::find(old_types.begin(), old_types.end(), op) == old_types.end()) added.push_back(op);
  }
  std::string label = "no new " + std::string(format.name) + " operators";
  if (added.empty()) return {label, "operator set unchanged", true};
  std::string listed;
  for (std::size_t i = 0; i < added.size(); ++i) listed += (i ? ", " : "") + added[i];
  return {label, "new operators: " + listed, false};
}

// The new checkpoint served: weights and KV cache within the limit. A figure the file does not
// give fails the rule, since the limit cannot be shown to hold.
Result<CheckResult> serving_memory_check(const CheckOptions& options, const std::string& new_path,
                                         const TensorFileFormat& format) {
  ServingRequest request;
  request.context = options.serving_context;
  Result<ServingMemory> memory = serving_memory(new_path, format, request);
  if (!memory.is_ok()) return memory.error();
  const ServingMemory& served = memory.value();
  std::string limit = bytes_text(*options.max_serving_memory);
  if (!served.total_bytes) {
    std::string missing;
    for (const std::string& figure : served.unknown) missing += (missing.empty() ? "" : ", ") + figure;
    return CheckResult{"serving memory", "unknown (the file does not give: " + missing + ") <= " + limit, false};
  }
  std::string detail = bytes_text(*served.total_bytes) + " <= " + limit + " (weights " +
                       format_bytes(served.weights_bytes) + " + " + served.cache_dtype + " KV cache " +
                       format_bytes(*served.kv_cache_bytes) + " at " + std::to_string(*served.context) + " tokens)";
  CheckResult result{"serving memory", detail, *served.total_bytes <= *options.max_serving_memory};
  result.new_value = served.total_bytes;
  return result;
}

}  // namespace

Result<CheckOutcome> check_tensor_files(const CheckOptions& options, const std::string& old_path,
                                        const std::string& new_path, const TensorFileFormat& format) {
  if (options.max_ops_growth) return fail(kOnlyOnnxOps);
  if (options.fail_on_new_op && !format.operator_types) return fail(kOnlyOnnxNewOp);
  Result<ArtifactPair<TensorFileSummary>> pair = read_tensor_file_pair(old_path, new_path, format);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  TensorFileChanges changes = compare_tensor_files(old_model, new_model);
  std::vector<CheckResult> results;
  if (options.max_size_growth) {
    results.push_back(growth_check("file size growth", old_model.file_size_bytes, new_model.file_size_bytes,
                                   *options.max_size_growth));
  }
  if (options.max_parameter_growth) {
    results.push_back(growth_check("parameter growth", old_model.parameter_count, new_model.parameter_count,
                                   *options.max_parameter_growth));
  }
  if (options.fail_on_feature_change) {
    std::vector<std::string> old_names = tensor_names(old_model), new_names = tensor_names(new_model);
    bool same = changes.names.added.empty() && changes.names.removed.empty();
    results.push_back(count_check({"tensor names unchanged",
                                   std::to_string(old_names.size()) + " -> " + std::to_string(new_names.size()) +
                                       " tensor names (" + name_set_change(old_names, new_names, "no tensors") + ")",
                                   same},
                                  old_names.size(), new_names.size()));
  }
  if (options.fail_on_training_config_change) {
    results.push_back(count_check(metadata_check(old_model, new_model, changes),
                                  old_model.metadata_value_hashes.size(), new_model.metadata_value_hashes.size()));
  }
  if (options.fail_on_new_op) results.push_back(new_operator_check(format, old_model, new_model));
  if (options.max_serving_memory) {
    Result<CheckResult> served = serving_memory_check(options, new_path, format);
    if (!served.is_ok()) return served.error();
    results.push_back(served.take());
  }
  return CheckOutcome{old_model.path, new_model.path, std::move(results), {}};
}


Result<ChangeExplanation> explain_tensor_file_pair(const std::string& old_path, const std::string& new_path,
                                                  const TensorFileFormat& format) {
  Result<ArtifactPair<TensorFileSummary>> pair = read_tensor_file_pair(old_path, new_path, format);
  if (!pair.is_ok()) return pair.error();
  return explain_pair_change(
      pair.take(), [](const TensorFileSummary& s) { return s.path; }, explain_tensor_file_change);
}

}  // namespace tarnwick
