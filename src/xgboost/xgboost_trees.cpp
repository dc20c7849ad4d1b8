#include "xgboost/xgboost_trees.h"

#include <map>
#include <utility>
#include <vector>

#include "base/number_parse.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kCategoricalSplit = 1;  // split_type of a split on a category set

class TreeReader {
 public:
  TreeReader(const std::string& path, std::uint64_t index, const StoredTree& stored)
      : path_(path), index_(index), stored_(stored) {}

  // Fills `tree` and `split_nodes` node by node; on a fault they hold what came before it.
  Status read(Tree& tree, std::vector<std::uint64_t>& split_nodes) {
    tree.index = index_;
    if (!stored_.is_object) return broken("not an object");
    if (Status lists = check_lists(); !lists.is_ok()) return lists;
    if (Status categories = read_categories(); !categories.is_ok()) return categories;
    std::vector<std::uint64_t> depths;
    if (Status walked = walk(depths); !walked.is_ok()) return walked;
    return build(depths, tree, split_nodes);
  }

 private:
  Error broken(const std::string& problem) const {
    return fail(path_ + ": XGBoost tree " + std::to_string(index_) + ": " + problem);
  }

  template <class T>
  Status check(const char* key, const StoredArray<T>& array, bool required) const {
    if (!array.present) return required ? Status(broken(std::string(key) + " is missing")) : Status::ok();
    if (!array.unreadable) return Status::ok();
    if constexpr (std::is_same_v<T, double>) {
      return broken(std::string(key) + " holds a value that is not a number");
    } else {
      return broken(std::string(key) + " holds a value that is not an integer");
    }
  }

  Status check_lists() {
    for (auto [key, array] : {std::pair{"left_children", &stored_.left_children},
                              {"right_children", &stored_.right_children},
                              {"split_indices", &stored_.split_indices}}) {
      if (Status read = check(key, *array, true); !read.is_ok()) return read;
    }
    if (Status read = check("split_type", stored_.split_type, false); !read.is_ok()) return read;
    if (Status read = check("default_left", stored_.default_left, false); !read.is_ok()) return read;
    if (Status read = check("split_conditions", stored_.split_conditions, true); !read.is_ok()) return read;
    std::size_t nodes = left().size();
    if (nodes == 0) return broken("has no nodes");
    if (right().size() != nodes || stored_.split_indices.values.size() != nodes ||
        stored_.split_conditions.values.size() != nodes || !optional_fits(stored_.split_type, nodes) ||
        !optional_fits(stored_.default_left, nodes)) {
      return broken("node arrays differ in length");
    }
    return read_leaf_width(nodes);
  }

  static bool optional_fits(const StoredArray<std::int64_t>& array, std::size_t nodes) {
    return array.values.empty() || array.values.size() == nodes;
  }

  // A multi-target tree (size_leaf_vector > 1) keeps each node's vector of weights in
  // base_weights, node-major; a scalar tree keeps each leaf's value in split_conditions.
  Status read_leaf_width(std::size_t nodes) {
    const Json& parameters = stored_.tree_param;
    if (!parameters.is_object()) return Status::ok();
    auto size = parameters.find("size_leaf_vector");
    if (size == parameters.end() || !size->is_string()) return Status::ok();
    Result<std::uint64_t> width = parse_unsigned(size->get_ref<const std::string&>());
    if (!width.is_ok()) return broken("size_leaf_vector: " + width.message());
    if (width.value() <= 1) return Status::ok();
    if (Status read = check("base_weights", stored_.base_weights, true); !read.is_ok()) return read;
    const std::vector<double>& weights = stored_.base_weights.values;
    if (weights.size() / width.value() != nodes || weights.size() % width.value() != 0) {
      return broken("base_weights does not hold " + std::to_string(width.value()) + " weights per node");
    }
    leaf_width_ = width.value();
    return Status::ok();
  }

  void add_leaf_values(Tree& tree, std::size_t node) const {
    if (leaf_width_ == 0) {
      tree.leaf_values.push_back(stored_.split_conditions.values[node]);
      return;
    }
    auto first = stored_.base_weights.values.begin() + static_cast<std::ptrdiff_t>(node * leaf_width_);
    tree.leaf_values.insert(tree.leaf_values.end(), first, first + static_cast<std::ptrdiff_t>(leaf_width_));
  }

  Status read_categories() {
    for (auto [key, array] : {std::pair{"categories", &stored_.categories},
                              {"categories_nodes", &stored_.categories_nodes},
                              {"categories_segments", &stored_.categories_segments},
                              {"categories_sizes", &stored_.categories_sizes}}) {
      if (Status read = check(key, *array, false); !read.is_ok()) return read;
    }
    const std::vector<std::int64_t>& nodes = stored_.categories_nodes.values;
    const std::vector<std::int64_t>& segments = stored_.categories_segments.values;
    const std::vector<std::int64_t>& sizes = stored_.categories_sizes.values;
    std::size_t listed = stored_.categories.values.size();
    if (segments.size() != nodes.size() || sizes.size() != nodes.size()) {
      return broken("category arrays differ in length");
    }
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      auto begin = static_cast<std::uint64_t>(segments[k]);
      auto count = static_cast<std::uint64_t>(sizes[k]);
      if (segments[k] < 0 || sizes[k] < 0 || begin > listed || count > listed - begin) {
        return broken("category segment " + std::to_string(k) + " runs past the category list");
      }
      segment_of_[nodes[k]] = {begin, count};
    }
    return Status::ok();
  }

  const std::vector<std::int64_t>& left() const { return stored_.left_children.values; }
  const std::vector<std::int64_t>& right() const { return stored_.right_children.values; }
  bool is_leaf(std::size_t node) const { return left()[node] == -1; }

  // Depth of every node reached from the root; nodes never reached keep the sentinel.
  Status walk(std::vector<std::uint64_t>& depths) {
    const std::uint64_t unreached = UINT64_MAX;
    depths.assign(left().size(), unreached);
    depths[0] = 0;
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
      std::size_t node = pending.back();
      pending.pop_back();
      if (is_leaf(node)) continue;
      for (std::int64_t child : {left()[node], right()[node]}) {
        if (child < 0 || static_cast<std::uint64_t>(child) >= left().size()) {
          return broken("node " + std::to_string(node) + " has a child out of range");
        }
        if (depths[child] != unreached) return broken("node " + std::to_string(child) + " is reached twice");
        depths[child] = depths[node] + 1;
        pending.push_back(static_cast<std::size_t>(child));
      }
    }
    return Status::ok();
  }

  // The split of an inner node. Its feature is kept as stored (a negative one wraps past every
  // feature count) and checked once the model's features are known.
  Status split(std::size_t node, TreeSplit& result) {
    result.feature = static_cast<std::uint64_t>(stored_.split_indices.values[node]);
    if (!stored_.default_left.values.empty()) result.default_left = stored_.default_left.values[node] != 0;
    if (stored_.split_type.values.empty() || stored_.split_type.values[node] != kCategoricalSplit) {
      result.threshold = stored_.split_conditions.values[node];
      return Status::ok();
    }
    auto segment = segment_of_.find(static_cast<std::int64_t>(node));
    if (segment == segment_of_.end()) {
      return broken("categorical node " + std::to_string(node) + " lists no categories");
    }
    auto [begin, count] = segment->second;
    for (std::uint64_t i = begin; i < begin + count; ++i) {
      std::int64_t category = stored_.categories.values[i];
      if (category < 0 || category > UINT32_MAX) return broken("category out of range");
      result.categories.push_back(static_cast<std::uint32_t>(category));
    }
    return Status::ok();
  }

  Status build(const std::vector<std::uint64_t>& depths, Tree& tree, std::vector<std::uint64_t>& split_nodes) {
    for (std::size_t node = 0; node < left().size(); ++node) {
      if (depths[node] == UINT64_MAX) continue;
      tree.depth = std::max(tree.depth, depths[node]);
      if (is_leaf(node)) {
        ++tree.leaves;
        add_leaf_values(tree, node);
        continue;
      }
      TreeSplit made;
      Status read = split(node, made);
      tree.splits.push_back(std::move(made));
      split_nodes.push_back(node);
      if (!read.is_ok()) return read;
    }
    return Status::ok();
  }

  const std::string& path_;
  std::uint64_t index_;
  const StoredTree& stored_;
  std::uint64_t leaf_width_ = 0;  // 0 for a scalar tree
  std::map<std::int64_t, std::pair<std::uint64_t, std::uint64_t>> segment_of_;
};

}  // namespace

void StoredTree::restart() {
  is_object = true;
  for (StoredArray<std::int64_t>* array : {&left_children, &right_children, &split_indices, &split_type, &default_left,
                                           &categories, &categories_nodes, &categories_segments, &categories_sizes}) {
    array->restart(false);
  }
  split_conditions.restart(false);
  base_weights.restart(false);
  tree_param = nullptr;
}

void XgboostTreeList::restart() {
  trees_.clear();
  fault_.reset();
  failed_.reset();
}

void XgboostTreeList::add(const StoredTree& stored) {
  if (fault_) return;
  ReadTree read;
  Status status = TreeReader(path_, trees_.size(), stored).read(read.tree, read.split_nodes);
  if (status.is_ok()) {
    trees_.push_back(std::move(read));
    return;
  }
  fault_ = status.error();
  failed_ = std::move(read);
}

Status XgboostTreeList::check_features(const ReadTree& read, std::size_t feature_count) const {
  for (std::size_t s = 0; s < read.tree.splits.size(); ++s) {
    std::uint64_t feature = read.tree.splits[s].feature;
    if (feature < feature_count) continue;
    return fail(path_ + ": XGBoost tree " + std::to_string(read.tree.index) + ": node " +
                std::to_string(read.split_nodes[s]) + " splits on feature " +
                std::to_string(static_cast<std::int64_t>(feature)) + ", beyond the model's " +
                std::to_string(feature_count) + " features");
  }
  return Status::ok();
}

Status XgboostTreeList::finish(TreeTable& table) {
  for (const ReadTree& read : trees_) {
    if (Status inside = check_features(read, table.features.size()); !inside.is_ok()) return inside;
  }
  if (failed_) {
    if (Status inside = check_features(*failed_, table.features.size()); !inside.is_ok()) return inside;
  }
  if (fault_) return *fault_;
  table.trees.reserve(table.trees.size() + trees_.size());
  for (ReadTree& read : trees_) {
    for (const TreeSplit& split : read.tree.splits) ++table.features[split.feature].split_count;
    table.trees.push_back(std::move(read.tree));
  }
  trees_.clear();
  return Status::ok();
}

}  // namespace tarnwick
