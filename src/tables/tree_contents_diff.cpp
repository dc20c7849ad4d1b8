#include "tables/tree_contents_diff.h"

#include <cstring>
#include <map>
#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/tree_contents.h"
#include "tables/tree_summary.h"

namespace tarnwick {

namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool same_split(const TreeSplit& a, const TreeSplit& b) {
  bool same_threshold = a.threshold.has_value() == b.threshold.has_value() &&
                        (!a.threshold || std::memcmp(&*a.threshold, &*b.threshold, sizeof(double)) == 0);
  return a.feature == b.feature && same_threshold && a.categories == b.categories &&
         a.one_hot_value == b.one_hot_value && a.default_left == b.default_left && a.missing_type == b.missing_type;
}

bool same_splits(const Tree& a, const Tree& b) {
  if (a.splits.size() != b.splits.size() || a.leaves != b.leaves) return false;
  for (std::size_t i = 0; i < a.splits.size(); ++i) {
    if (!same_split(a.splits[i], b.splits[i])) return false;
  }
  return true;
}

// The key a feature is matched by: its name, or its position when it has none.
std::string match_key(const TreeFeature& feature) {
  return feature.name ? "name:" + *feature.name : "index:" + std::to_string(feature.index);
}

std::map<std::string, const TreeFeature*> features_by_key(const TreeTable& table) {
  std::map<std::string, const TreeFeature*> keyed;
  for (const TreeFeature& feature : table.features) keyed.emplace(match_key(feature), &feature);
  return keyed;
}

void diff_features(const TreeTable& old_table, const TreeTable& new_table, TreeContentsDiff& diff) {
  std::map<std::string, const TreeFeature*> old_features = features_by_key(old_table);
  std::map<std::string, const TreeFeature*> new_features = features_by_key(new_table);
  for (const TreeFeature& feature : old_table.features) {
    auto found = new_features.find(match_key(feature));
    if (found == new_features.end()) {
      diff.features_removed.push_back(feature_label(feature));
    } else if (!same_bits(feature.borders, found->second->borders) || feature.type != found->second->type) {
      diff.borders_changed.push_back(feature_label(feature));
    }
  }
  for (const TreeFeature& feature : new_table.features) {
    if (!old_features.contains(match_key(feature))) diff.features_added.push_back(feature_label(feature));
  }
}

void print_indexes(std::ostream& out, const std::string& heading, const std::vector<std::uint64_t>& indexes,
                   std::size_t limit) {
  out << "\n" << heading << ":\n";
  out << "  count: " << indexes.size() << "\n";
  for (std::size_t i = 0; i < indexes.size() && i < limit; ++i) out << "  tree " << indexes[i] << "\n";
  print_rest_count(out, indexes.size(), limit);
}

void print_labels(std::ostream& out, const std::string& heading, const std::vector<std::string>& labels,
                  std::size_t limit) {
  out << "\n" << heading << ":\n";
  out << "  count: " << labels.size() << "\n";
  for (std::size_t i = 0; i < labels.size() && i < limit; ++i) out << "  " << labels[i] << "\n";
  print_rest_count(out, labels.size(), limit);
}

}  // namespace

TreeContentsDiff diff_tree_tables(const TreeTable& old_table, const TreeTable& new_table) {
  TreeContentsDiff diff;
  diff.old_tree_count = old_table.trees.size();
  diff.new_tree_count = new_table.trees.size();
  diff.trees_compared = std::min(diff.old_tree_count, diff.new_tree_count);
  for (std::size_t i = 0; i < diff.trees_compared; ++i) {
    const Tree& old_tree = old_table.trees[i];
    const Tree& new_tree = new_table.trees[i];
    bool splits = same_splits(old_tree, new_tree);
    bool leaves = same_bits(old_tree.leaf_values, new_tree.leaf_values);
    if (!splits) diff.splits_changed.push_back(i);
    if (!leaves) diff.leaf_values_changed.push_back(i);
    if (splits && leaves) ++diff.unchanged_tree_count;
  }
  diff_features(old_table, new_table, diff);
  return diff;
}

Json tree_contents_diff_json(const TreeTable& old_table, const TreeTable& new_table, const TreeContentsDiff& diff) {
  auto labels = [](const std::vector<std::string>& names) {
    Json list = Json::array();
    for (const std::string& name : names) list.push_back(decode_utf8_lossy(name));
    return list;
  };
  return {{"kind", "contents_diff"},
          {"format", old_table.format},
          {"old_path", decode_utf8_lossy(old_table.path)},
          {"new_path", decode_utf8_lossy(new_table.path)},
          {"old_tree_count", diff.old_tree_count},
          {"new_tree_count", diff.new_tree_count},
          {"trees_compared", diff.trees_compared},
          {"splits_changed", diff.splits_changed},
          {"leaf_values_changed", diff.leaf_values_changed},
          {"unchanged_tree_count", diff.unchanged_tree_count},
          {"features_added", labels(diff.features_added)},
          {"features_removed", labels(diff.features_removed)},
          {"borders_changed", labels(diff.borders_changed)}};
}

void print_tree_contents_diff_text(std::ostream& out, const TreeTable& old_table, const TreeTable& new_table,
                                   std::size_t limit) {
  TreeContentsDiff diff = diff_tree_tables(old_table, new_table);
  print_title(out, "Tree Contents Diff");
  out << "Format: " << tree_format_title(old_table.format) << "\n";
  out << "Old: " << escape_control(old_table.path) << "\n";
  out << "New: " << escape_control(new_table.path) << "\n";
  out << "\nTrees:\n";
  out << "  Stored trees: " << diff.old_tree_count << " -> " << diff.new_tree_count << " ("
      << format_delta(diff.old_tree_count, diff.new_tree_count) << ")\n";
  out << "  Compared (same index): " << diff.trees_compared << "\n";
  out << "  Splits changed: " << diff.splits_changed.size() << "\n";
  out << "  Leaf values changed: " << diff.leaf_values_changed.size() << "\n";
  out << "  Unchanged: " << diff.unchanged_tree_count << "\n";
  out << "\nFeatures:\n";
  out << "  Features: " << old_table.features.size() << " -> " << new_table.features.size() << " ("
      << format_delta(old_table.features.size(), new_table.features.size()) << ")\n";
  out << "  Added: " << diff.features_added.size() << "\n";
  out << "  Removed: " << diff.features_removed.size() << "\n";
  out << "  " << (old_table.format == "catboost" ? "Borders changed: " : "Type changed: ")
      << diff.borders_changed.size() << "\n";
  print_indexes(out, "Trees Whose Splits Changed", diff.splits_changed, limit);
  print_indexes(out, "Trees Whose Leaf Values Changed", diff.leaf_values_changed, limit);
  print_labels(out, "Features Added", diff.features_added, limit);
  print_labels(out, "Features Removed", diff.features_removed, limit);
  print_labels(out, old_table.format == "catboost" ? "Features Whose Borders Changed" : "Features Whose Type Changed",
               diff.borders_changed, limit);
}

Status print_tree_contents_diff(const TreeTable& old_table, const TreeTable& new_table, bool json, std::size_t limit,
                                Io& io) {
  if (old_table.format != new_table.format) {
    return fail("diff --contents compares models of one format: " + old_table.path + " is " +
                tree_format_title(old_table.format) + ", " + new_table.path + " is " +
                tree_format_title(new_table.format));
  }
  if (json) {
    TreeContentsDiff diff = diff_tree_tables(old_table, new_table);
    return print_json_document(io.out, tree_contents_diff_json(old_table, new_table, diff));
  }
  print_tree_contents_diff_text(io.out, old_table, new_table, limit);
  return Status::ok();
}

}  // namespace tarnwick
