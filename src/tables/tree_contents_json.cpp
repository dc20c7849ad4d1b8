#include "tables/tree_contents_json.h"

#include "base/text.h"
#include "tables/tree_summary.h"

namespace tarnwick {

namespace {

Json reals(const std::vector<double>& values) {
  Json list = Json::array();
  for (double value : values) list.push_back(json_real(value));
  return list;
}

Json optional_name(const std::optional<std::string>& name) {
  if (!name) return nullptr;
  return decode_utf8_lossy(*name);
}

Json feature_json(const TreeTable& table, const TreeFeature& feature) {
  Json entry = {{"index", feature.index},
                {"name", optional_name(feature.name)},
                {"type", feature.type},
                {"split_count", feature.split_count}};
  if (table.format == "catboost") {
    entry["borders"] = reals(feature.borders);
    entry["flat_index"] = feature.flat_index ? Json(*feature.flat_index) : Json(nullptr);
  }
  return entry;
}

Json missing_type_name(std::optional<std::uint8_t> code) {
  if (!code) return nullptr;
  switch (*code) {
    case kMissingTypeNone: return "none";
    case kMissingTypeZero: return "zero";
    case kMissingTypeNan: return "nan";
    default: return "unknown(" + std::to_string(*code) + ")";
  }
}

Json split_json(const TreeTable& table, const TreeSplit& split) {
  Json entry = {{"feature", split.feature}, {"threshold", json_real(split.threshold)}};
  if (table.format == "catboost") {
    entry["split_index"] = split.binary_feature;
    if (split.one_hot_value) entry["value"] = *split.one_hot_value;
    return entry;
  }
  if (!split.threshold) entry["categories"] = split.categories;
  entry["default_left"] = split.default_left ? Json(*split.default_left) : Json(nullptr);
  if (table.format == "lightgbm") entry["missing_type"] = missing_type_name(split.missing_type);
  return entry;
}

Json tree_json(const TreeTable& table, const Tree& tree) {
  Json splits = Json::array();
  for (const TreeSplit& split : tree.splits) splits.push_back(split_json(table, split));
  return {{"index", tree.index},
          {"depth", tree.depth},
          {"leaves", tree.leaves},
          {"splits", std::move(splits)},
          {"leaf_values", reals(tree.leaf_values)}};
}

Json depth_histogram_json(const TreeTotals& totals) {
  Json histogram = Json::array();
  for (auto [depth, trees] : totals.trees_by_depth) histogram.push_back({{"depth", depth}, {"trees", trees}});
  return histogram;
}

}  // namespace

Json tree_contents_json(const TreeTable& table) {
  TreeTotals totals = tree_totals(table);
  Json features = Json::array();
  for (const TreeFeature& feature : table.features) features.push_back(feature_json(table, feature));
  Json trees = Json::array();
  for (const Tree& tree : table.trees) trees.push_back(tree_json(table, tree));
  Json document = {{"kind", "tree_contents"},
                   {"path", decode_utf8_lossy(table.path)},
                   {"format", table.format},
                   {"tree_count", table.trees.size()},
                   {"leaf_count", totals.leaves},
                   {"split_count", totals.splits},
                   {"split_checks_per_row", totals.all_symmetric ? Json(totals.split_checks) : Json(nullptr)},
                   {"max_split_checks_per_row", totals.split_checks},
                   {"depth_histogram", depth_histogram_json(totals)},
                   {"features", std::move(features)},
                   {"trees", std::move(trees)}};
  if (table.format == "catboost") {
    document["approx_dimension"] = json_count(table.approx_dimension);
    document["scale"] = json_real(table.scale);
    document["bias"] = reals(table.bias);
  } else {
    document["num_class"] = json_count(table.num_class);
    document["objective"] = optional_name(table.objective);
  }
  return document;
}

}  // namespace tarnwick
