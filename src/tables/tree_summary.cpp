#include "tables/tree_summary.h"

#include <cstdio>

#include "cbm/cbm_core_reader.h"
#include "lightgbm/lightgbm_trees.h"
#include "main/file_read.h"

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

Result<TreeTable> read_tree_table(const std::string& path) {
  Result<std::string> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  if (bytes.value().starts_with("CBM1")) return decode_cbm_trees(path, bytes.value());
  return parse_lightgbm_trees(path, bytes.value());
}

std::string tree_format_title(const std::string& format) {
  return format == "catboost" ? "CatBoost binary model" : "LightGBM text model";
}

std::string escape_tree_control(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      escaped += hex;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string feature_label(const TreeFeature& feature) {
  return feature.name ? escape_tree_control(*feature.name) : "#" + std::to_string(feature.index);
}

}  // namespace tarnwick
