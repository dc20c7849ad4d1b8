#include "tables/tree_summary.h"

#include "base/text.h"

namespace tarnwick {

TreeTotals tree_totals(const TreeTable& table) {
  TreeTotals totals;
  totals.all_symmetric = !table.trees.empty();
  for (const Tree& tree : table.trees) {
    totals.leaves += tree.leaves;
    totals.splits += tree.splits.size();
    totals.split_checks += tree.depth;
    totals.all_symmetric = totals.all_symmetric && tree.symmetric;
    ++totals.trees_by_depth[tree.depth];
  }
  return totals;
}

std::string tree_format_title(const std::string& format) {
  if (format == "catboost") return "CatBoost binary model";
  if (format == "xgboost") return "XGBoost model";
  return "LightGBM text model";
}

std::string feature_label(const TreeFeature& feature) {
  return feature.name ? escape_control(*feature.name) : "#" + std::to_string(feature.index);
}

}  // namespace tarnwick
