// Figures over a whole tree table, shared by the tree contents report, its JSON and the diff.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "base/status.h"
#include "base/text.h"
#include "tables/tree_table.h"

namespace tarnwick {

struct TreeTotals {
  std::uint64_t leaves = 0;
  std::uint64_t splits = 0;
  // Sum of the trees' depths: the split checks of one row when every tree is symmetric, else the
  // most a row can need.
  std::uint64_t split_checks = 0;
  bool all_symmetric = false;
  std::map<std::uint64_t, std::uint64_t> trees_by_depth;
};

TreeTotals tree_totals(const TreeTable& table);

// "CatBoost binary model", "XGBoost model" or "LightGBM text model".
std::string tree_format_title(const std::string& format);
// The feature's name with control characters escaped, or "#<index>" when it has none.
std::string feature_label(const TreeFeature& feature);

}  // namespace tarnwick
