#include "values/tensor_value_checks.h"

#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "base/format.h"
#include "base/text.h"
#include "tables/content_hashing.h"
#include "tables/tensor_contents_diff.h"
#include "values/delta_report.h"
#include "values/value_passes.h"

namespace tarnwick {

namespace {

constexpr std::size_t kNamesShown = 5;

Error unreadable(const TensorEntry& tensor, const std::string& why, const std::string& rule) {
  return fail(rule + " needs the values of tensor " + escape_control(tensor.name) + ", which cannot be read: " + why);
}

std::string tensors_text(std::size_t count) { return std::to_string(count) + (count == 1 ? " tensor" : " tensors"); }

// "a, b, c and 2 more".
std::string some_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > kNamesShown) text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return text;
}

Result<CheckResult> nonfinite_check(const TensorTable& new_table) {
  std::vector<StatsOutcome> outcomes = tensor_statistics(new_table);
  std::vector<std::string> offenders;
  std::uint64_t values = 0;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    if (!outcomes[i].figures) return unreadable(new_table.tensors[i], outcomes[i].skipped, "--fail-on-nonfinite");
    const ValueStats& stats = *outcomes[i].figures;
    if (stats.nan + stats.inf == 0) continue;
    values += stats.nan + stats.inf;
    offenders.push_back(escape_control(new_table.tensors[i].name) + " (" + std::to_string(stats.nan) + " NaN, " +
                        std::to_string(stats.inf) + " Inf)");
  }
  std::string detail = offenders.empty()
                           ? "no NaN or Inf in " + tensors_text(outcomes.size()) + " of the new model"
                           : tensors_text(offenders.size()) + " of the new model " + (offenders.size() == 1 ? "holds" : "hold") + " NaN or Inf: " +
                                 some_names(offenders);
  CheckResult result("values finite", detail, offenders.empty());
  result.new_value = values;
  return result;
}

Result<CheckResult> change_check(double limit, TensorTable& old_table, TensorTable& new_table) {
  Result<TensorContentsDiff> diff = diff_tensor_tables(old_table, new_table);
  if (!diff.is_ok()) return diff.error();
  if (!diff.value().uncompared.empty()) {
    const UncomparedTensor& first = diff.value().uncompared.front();
    return unreadable(*first.old_tensor, first.reason, "--max-tensor-change");
  }
  std::vector<DeltaOutcome> deltas = changed_value_deltas(diff.value());
  double largest = 0;
  std::string largest_name;
  std::uint64_t compared = diff.value().unchanged_count;
  for (std::size_t i = 0; i < deltas.size(); ++i) {
    const TensorChange& change = diff.value().changed[i];
    if (std::find(change.what.begin(), change.what.end(), "shape") != change.what.end()) continue;
    if (!deltas[i].figures) return unreadable(*change.old_tensor, deltas[i].skipped, "--max-tensor-change");
    ++compared;
    double rel_l2 = deltas[i].figures->pairs == 0 ? 0.0 : deltas[i].figures->rel_l2();
    if (largest_name.empty() || rel_l2 > largest || std::isnan(rel_l2)) {
      largest = rel_l2;
      largest_name = escape_control(change.old_tensor->name);
    }
  }
  bool holds = !(largest > limit) && !std::isnan(largest);
  std::string detail = largest_name.empty()
                           ? "no tensor changed among " + tensors_text(compared) + " compared"
                           : "largest rel_l2 " + format_significant(largest, 6) + " (" + largest_name + ") " +
                                 (holds ? "within " : "exceeds ") + format_significant(limit, 6);
  CheckResult result("tensor change", detail, holds);
  result.limit = limit;
  return result;
}

Result<CheckResult> frozen_check(const std::string& glob, TensorTable& old_table, TensorTable& new_table) {
  std::map<std::string, std::size_t> new_index;
  for (std::size_t i = 0; i < new_table.tensors.size(); ++i) new_index.emplace(new_table.tensors[i].name, i);
  std::vector<bool> hash_old(old_table.tensors.size(), false), hash_new(new_table.tensors.size(), false);
  std::vector<std::size_t> matched;
  for (std::size_t i = 0; i < old_table.tensors.size(); ++i) {
    if (::fnmatch(glob.c_str(), old_table.tensors[i].name.c_str(), 0) != 0) continue;
    matched.push_back(i);
    hash_old[i] = true;
    auto found = new_index.find(old_table.tensors[i].name);
    if (found != new_index.end()) hash_new[found->second] = true;
  }
  Status hashed = fill_content_hashes(old_table, hash_old);
  if (hashed.is_ok()) hashed = fill_content_hashes(new_table, hash_new);
  if (!hashed.is_ok()) return hashed.error();
  std::vector<std::string> moved;
  for (std::size_t i : matched) {
    const TensorEntry& old_tensor = old_table.tensors[i];
    auto found = new_index.find(old_tensor.name);
    std::string name = escape_control(old_tensor.name);
    if (found == new_index.end()) {
      moved.push_back(name + " (removed)");
      continue;
    }
    const TensorEntry& new_tensor = new_table.tensors[found->second];
    if (old_tensor.dtype != new_tensor.dtype || old_tensor.shape != new_tensor.shape) {
      moved.push_back(name + " (" + (old_tensor.dtype != new_tensor.dtype ? "dtype" : "shape") + ")");
      continue;
    }
    if (!old_tensor.content_hash) return unreadable(old_tensor, old_tensor.unreadable_reason.value_or("no bytes"), "--frozen");
    if (!new_tensor.content_hash) return unreadable(new_tensor, new_tensor.unreadable_reason.value_or("no bytes"), "--frozen");
    if (*old_tensor.content_hash != *new_tensor.content_hash) moved.push_back(name + " (values)");
  }
  std::string pattern = "`" + escape_control(glob) + "`";
  std::string detail;
  if (matched.empty()) {
    detail = "no tensor of the old model matches " + pattern;
  } else if (moved.empty()) {
    detail = tensors_text(matched.size()) + " matching " + pattern + (matched.size() == 1 ? " is" : " are") + " bit-identical";
  } else {
    detail = std::to_string(moved.size()) + " of " + tensors_text(matched.size()) + " matching " + pattern +
             " changed: " + some_names(moved);
  }
  CheckResult result("frozen " + escape_control(glob), detail, !matched.empty() && moved.empty());
  result.old_value = matched.size();
  result.new_value = moved.size();
  return result;
}

}  // namespace

bool has_tensor_value_rules(const CheckOptions& options) {
  return options.fail_on_nonfinite || options.max_tensor_change || !options.frozen.empty();
}

Result<std::vector<CheckResult>> tensor_value_checks(const CheckOptions& options, TensorTable& old_table,
                                                     TensorTable& new_table) {
  std::vector<CheckResult> results;
  if (options.fail_on_nonfinite) {
    Result<CheckResult> result = nonfinite_check(new_table);
    if (!result.is_ok()) return result.error();
    results.push_back(result.take());
  }
  if (options.max_tensor_change) {
    Result<CheckResult> result = change_check(*options.max_tensor_change, old_table, new_table);
    if (!result.is_ok()) return result.error();
    results.push_back(result.take());
  }
  for (const std::string& glob : options.frozen) {
    Result<CheckResult> result = frozen_check(glob, old_table, new_table);
    if (!result.is_ok()) return result.error();
    results.push_back(result.take());
  }
  return results;
}

}  // namespace tarnwick
