// What changed between two tree tables, tree by tree and feature by feature.
#pragma once

#include <cstdint>
#include <vector>

#include "base/json_output.h"
#include "tables/tree_table.h"

namespace tarnwick {

struct TreeContentsDiff {
  std::uint64_t old_tree_count = 0;
  std::uint64_t new_tree_count = 0;
  // Trees at the same index in both models.
  std::uint64_t trees_compared = 0;
  std::vector<std::uint64_t> splits_changed;
  std::vector<std::uint64_t> leaf_values_changed;
  std::uint64_t unchanged_tree_count = 0;
  // Features are matched by name when both have one, else by index; shown by feature_label.
  std::vector<std::string> features_added;
  std::vector<std::string> features_removed;
  std::vector<std::string> borders_changed;
};

TreeContentsDiff diff_tree_tables(const TreeTable& old_table, const TreeTable& new_table);
Json tree_contents_diff_json(const TreeTable& old_table, const TreeTable& new_table, const TreeContentsDiff& diff);

}  // namespace tarnwick
