#include "xgboost/xgboost_summary.h"

#include <bit>
#include <cmath>

#include "base/real_equality.h"
#include "base/text.h"
#include "tables/content_hash.h"
#include "tables/tree_summary.h"

namespace tarnwick {

namespace {

template <class T>
void hash_value(Xxh3Stream& stream, T value) {
  stream.update(std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

std::uint64_t trees_fingerprint(const TreeTable& table) {
  Xxh3Stream stream;
  for (const Tree& tree : table.trees) {
    hash_value(stream, tree.splits.size());
    for (const TreeSplit& split : tree.splits) {
      hash_value(stream, split.feature);
      hash_value(stream, std::bit_cast<std::uint64_t>(split.threshold.value_or(NAN)));
      hash_value(stream, split.categories.size());
      for (std::uint32_t category : split.categories) hash_value(stream, category);
      // Where missing values go is learned too: a model that differs only there predicts differently.
      hash_value(stream, static_cast<std::uint8_t>(split.default_left ? (*split.default_left ? 1 : 0) : 2));
    }
    hash_value(stream, tree.leaf_values.size());
    for (double value : tree.leaf_values) hash_value(stream, std::bit_cast<std::uint64_t>(value));
  }
  return stream.digest();
}

OrderedJson strings_json(const std::vector<std::string>& values) {
  OrderedJson list = OrderedJson::array();
  for (const std::string& value : values) list.push_back(value);
  return list;
}

}  // namespace

XgboostFigures xgboost_figures(const XgboostModel& model) {
  TreeTotals totals = tree_totals(model.trees);
  XgboostFigures figures;
  figures.trees = model.trees.trees.size();
  figures.leaves = totals.leaves;
  figures.splits = totals.splits;
  if (!totals.trees_by_depth.empty()) figures.max_depth = totals.trees_by_depth.rbegin()->first;
  figures.learned_state_fingerprint = trees_fingerprint(model.trees);
  return figures;
}

OrderedJson xgboost_summary_json(const XgboostModel& model) {
  XgboostFigures figures = xgboost_figures(model);
  OrderedJson record;
  record["kind"] = "xgboost_summary";
  record["path"] = display_file_name(model.path);
  record["bytes"] = model.bytes;
  record["encoding"] = model.encoding;
  record["version"] = ordered_optional(model.version);
  record["booster"] = ordered_optional(model.booster);
  record["objective"] = ordered_optional(model.objective);
  record["base_score"] =
      model.base_score && std::isfinite(*model.base_score) ? OrderedJson(*model.base_score) : OrderedJson(nullptr);
  record["num_class"] = ordered_optional(model.num_class);
  record["num_target"] = ordered_optional(model.num_target);
  record["num_feature"] = ordered_optional(model.num_feature);
  record["num_trees"] = figures.trees;
  record["boosting_rounds"] = ordered_optional(model.boosting_rounds);
  record["num_parallel_tree"] = ordered_optional(model.num_parallel_tree);
  record["max_depth"] = ordered_optional(figures.max_depth);
  record["leaf_count"] = figures.leaves;
  record["split_count"] = figures.splits;
  record["dart_weights"] = ordered_optional(model.dart_weights);
  record["file_fingerprint"] = model.file_fingerprint;
  record["learned_state_fingerprint"] = figures.learned_state_fingerprint;
  record["feature_names"] = strings_json(model.feature_names);
  record["feature_types"] = strings_json(model.feature_types);
  return record;
}

bool same_xgboost_training_config(const XgboostModel& a, const XgboostModel& b) {
  return a.objective == b.objective && a.booster == b.booster && same_optional_real(a.base_score, b.base_score) &&
         a.num_class == b.num_class && a.num_target == b.num_target && a.num_parallel_tree == b.num_parallel_tree;
}

}  // namespace tarnwick
