// The text and JSON forms of `contents` for tree models.
#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/tree_contents.h"
#include "tables/tree_contents_json.h"
#include "tables/tree_summary.h"

namespace tarnwick {

namespace {

// The comparison a split's threshold is read with, as the format states it.
const char* threshold_operator(const std::string& format) {
  if (format == "catboost") return " > ";
  if (format == "xgboost") return " < ";
  return " <= ";
}

std::string test_text(const TreeTable& table, const TreeSplit& split) {
  std::string label = feature_label(table.features[split.feature]);
  if (split.one_hot_value) return label + " == " + std::to_string(*split.one_hot_value);
  if (split.threshold) return label + threshold_operator(table.format) + format_real(*split.threshold);
  std::string categories;
  for (std::uint32_t category : split.categories) {
    categories += (categories.empty() ? "" : ",") + std::to_string(category);
  }
  return label + " in {" + categories + "}";
}

// The test, then where a missing value goes when the split says.
std::string split_text(const TreeTable& table, const TreeSplit& split) {
  std::string text = test_text(table, split);
  if (!split.default_left) return text;
  return text + (split.missing_type == kMissingTypeZero ? ", missing and zero " : ", missing ") +
         (*split.default_left ? "left" : "right");
}

std::string plural(std::uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void print_more(std::ostream& out, std::string_view indent, std::size_t total, std::size_t limit) {
  if (total > limit) out << indent << "... " << total - limit << " more\n";
}

void print_structure(std::ostream& out, const TreeTable& table, const TreeTotals& totals) {
  out << "\nStructure:\n";
  out << "  Stored trees: " << table.trees.size() << "\n";
  if (table.format == "catboost") {
    out << "  Tree shape: " << (totals.all_symmetric || table.trees.empty() ? "symmetric" : "non-symmetric") << "\n";
  }
  if (totals.all_symmetric) {
    out << "  Split checks / row: " << totals.split_checks << "\n";
  } else {
    out << "  Split checks / row (longest paths): " << totals.split_checks << "\n";
  }
  out << "  Splits: " << totals.splits << "\n";
  out << "  Leaves: " << totals.leaves << "\n";
  if (table.format == "catboost") {
    out << "  Approx dimension: " << format_optional_count(table.approx_dimension) << "\n";
    out << "  Scale: " << (table.scale ? format_real(*table.scale) : "unknown") << "\n";
    std::string bias;
    for (double value : table.bias) bias += (bias.empty() ? "" : ", ") + format_real(value);
    out << "  Bias: " << (bias.empty() ? "unknown" : bias) << "\n";
  } else {
    out << "  Classes: " << format_optional_count(table.num_class) << "\n";
    out << "  Objective: " << (table.objective ? escape_control(*table.objective) : "unknown") << "\n";
  }
}

void print_depths(std::ostream& out, const TreeTotals& totals) {
  out << "\nDepths:\n";
  if (totals.trees_by_depth.empty()) out << "  none\n";
  for (auto [depth, trees] : totals.trees_by_depth) {
    out << "  " << depth << ": " << plural(trees, "tree") << "\n";
  }
}

void print_features(std::ostream& out, const TreeTable& table, std::size_t limit) {
  out << "\nFeatures:\n";
  out << "  count: " << table.features.size() << "\n";
  for (std::size_t i = 0; i < table.features.size() && i < limit; ++i) {
    const TreeFeature& feature = table.features[i];
    out << "  " << feature_label(feature) << " (" << feature.type << "): ";
    if (table.format == "catboost") out << plural(feature.borders.size(), "border") << ", ";
    out << plural(feature.split_count, "split") << "\n";
  }
  print_more(out, "  ", table.features.size(), limit);
}

void print_trees(std::ostream& out, const TreeTable& table, std::size_t limit) {
  out << "\nTrees:\n";
  if (table.trees.empty()) out << "  none\n";
  for (std::size_t i = 0; i < table.trees.size() && i < limit; ++i) {
    const Tree& tree = table.trees[i];
    out << "  Tree " << tree.index << ": depth " << tree.depth << ", " << tree.leaves
        << (tree.leaves == 1 ? " leaf\n" : " leaves\n");
    for (std::size_t s = 0; s < tree.splits.size() && s < limit; ++s) {
      out << "    " << split_text(table, tree.splits[s]) << "\n";
    }
    print_more(out, "    ", tree.splits.size(), limit);
  }
  print_more(out, "  ", table.trees.size(), limit);
}

}  // namespace

void print_tree_contents_text(std::ostream& out, const TreeTable& table, std::size_t limit) {
  TreeTotals totals = tree_totals(table);
  print_title(out, "Tree Contents");
  out << "Model: " << escape_control(table.path) << "\n";
  out << "Format: " << tree_format_title(table.format) << "\n";
  print_structure(out, table, totals);
  print_depths(out, totals);
  print_features(out, table, limit);
  print_trees(out, table, limit);
}

Status print_tree_contents(const TreeTable& table, bool json, std::size_t limit, Io& io) {
  if (json) return print_json_document(io.out, tree_contents_json(table));
  print_tree_contents_text(io.out, table, limit);
  return Status::ok();
}

}  // namespace tarnwick
