#include "xgboost/xgboost_trees.h"

#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "base/number_parse.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kCategoricalSplit = 1;  // split_type of a split on a category set

// A float32 value widened, so JSON and UBJSON models read alike; the document holds non-finite
// values of a JSON model as the words XGBoost wrote.
std::optional<double> real_value(const Json& value) {
  if (value.is_number()) {
    double wide = value.get<double>();
    // Beyond float's range the narrowing is undefined; XGBoost's float would be infinite.
    if (std::isfinite(wide) && std::fabs(wide) > std::numeric_limits<float>::max()) {
      return std::copysign(std::numeric_limits<double>::infinity(), wide);
    }
    return static_cast<double>(static_cast<float>(wide));
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& word = value.get_ref<const std::string&>();
  if (word == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (word == "Infinity") return std::numeric_limits<double>::infinity();
  if (word == "-Infinity") return -std::numeric_limits<double>::infinity();
  return std::nullopt;
}

class TreeReader {
 public:
  TreeReader(const std::string& path, std::uint64_t index, const Json& tree, TreeTable& table)
      : path_(path), index_(index), tree_(tree), table_(table) {}

  Result<Tree> read() {
    if (!tree_.is_object()) return broken("not an object");
    if (Status lists = read_lists(); !lists.is_ok()) return lists.error();
    if (Status categories = read_categories(); !categories.is_ok()) return categories.error();
    std::vector<std::uint64_t> depths;
    if (Status walked = walk(depths); !walked.is_ok()) return walked.error();
    return build(depths);
  }

 private:
  Error broken(const std::string& problem) const {
    return fail(path_ + ": XGBoost tree " + std::to_string(index_) + ": " + problem);
  }

  template <class T>
  Status list(const char* key, std::vector<T>& out, bool required) {
    auto found = tree_.find(key);
    if (found == tree_.end() || !found->is_array()) {
      return required ? Status(broken(std::string(key) + " is missing")) : Status::ok();
    }
    out.reserve(found->size());
    for (const Json& value : *found) {
      if constexpr (std::is_same_v<T, double>) {
        std::optional<double> real = real_value(value);
        if (!real) return broken(std::string(key) + " holds a value that is not a number");
        out.push_back(*real);
      } else {
        if (!value.is_number_integer()) return broken(std::string(key) + " holds a value that is not an integer");
        out.push_back(value.get<std::int64_t>());
      }
    }
    return Status::ok();
  }

  Status read_lists() {
    for (auto [key, values] :
         {std::pair{"left_children", &left_}, {"right_children", &right_}, {"split_indices", &feature_}}) {
      if (Status read = list(key, *values, true); !read.is_ok()) return read;
    }
    if (Status read = list("split_type", split_type_, false); !read.is_ok()) return read;
    if (Status read = list("split_conditions", condition_, true); !read.is_ok()) return read;
    std::size_t nodes = left_.size();
    if (nodes == 0) return broken("has no nodes");
    if (right_.size() != nodes || feature_.size() != nodes || condition_.size() != nodes ||
        (!split_type_.empty() && split_type_.size() != nodes)) {
      return broken("node arrays differ in length");
    }
    return read_leaf_vectors(nodes);
  }

  // A multi-target tree (size_leaf_vector > 1) keeps each node's vector of weights in
  // base_weights, node-major; a scalar tree keeps each leaf's value in split_conditions.
  Status read_leaf_vectors(std::size_t nodes) {
    auto parameters = tree_.find("tree_param");
    if (parameters == tree_.end() || !parameters->is_object()) return Status::ok();
    auto size = parameters->find("size_leaf_vector");
    if (size == parameters->end() || !size->is_string()) return Status::ok();
    Result<std::uint64_t> width = parse_unsigned(size->get_ref<const std::string&>());
    if (!width.is_ok()) return broken("size_leaf_vector: " + width.message());
    if (width.value() <= 1) return Status::ok();
    if (Status read = list("base_weights", weights_, true); !read.is_ok()) return read;
    if (weights_.size() / width.value() != nodes || weights_.size() % width.value() != 0) {
      return broken("base_weights does not hold " + std::to_string(width.value()) + " weights per node");
    }
    leaf_width_ = width.value();
    return Status::ok();
  }

  void add_leaf_values(Tree& tree, std::size_t node) const {
    if (leaf_width_ == 0) {
      tree.leaf_values.push_back(condition_[node]);
      return;
    }
    auto first = weights_.begin() + static_cast<std::ptrdiff_t>(node * leaf_width_);
    tree.leaf_values.insert(tree.leaf_values.end(), first, first + static_cast<std::ptrdiff_t>(leaf_width_));
  }

  Status read_categories() {
    std::vector<std::int64_t> nodes, segments, sizes;
    for (auto [key, values] : {std::pair{"categories", &categories_},
                               {"categories_nodes", &nodes},
                               {"categories_segments", &segments},
                               {"categories_sizes", &sizes}}) {
      if (Status read = list(key, *values, false); !read.is_ok()) return read;
    }
    if (segments.size() != nodes.size() || sizes.size() != nodes.size()) {
      return broken("category arrays differ in length");
    }
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      auto begin = static_cast<std::uint64_t>(segments[k]);
      auto count = static_cast<std::uint64_t>(sizes[k]);
      if (segments[k] < 0 || sizes[k] < 0 || begin > categories_.size() || count > categories_.size() - begin) {
        return broken("category segment " + std::to_string(k) + " runs past the category list");
      }
      segment_of_[nodes[k]] = {begin, count};
    }
    return Status::ok();
  }

  bool is_leaf(std::size_t node) const { return left_[node] == -1; }

  // Depth of every node reached from the root; nodes never reached keep the sentinel.
  Status walk(std::vector<std::uint64_t>& depths) {
    const std::uint64_t unreached = UINT64_MAX;
    depths.assign(left_.size(), unreached);
    depths[0] = 0;
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
      std::size_t node = pending.back();
      pending.pop_back();
      if (is_leaf(node)) continue;
      for (std::int64_t child : {left_[node], right_[node]}) {
        if (child < 0 || static_cast<std::uint64_t>(child) >= left_.size()) {
          return broken("node " + std::to_string(node) + " has a child out of range");
        }
        if (depths[child] != unreached) return broken("node " + std::to_string(child) + " is reached twice");
        depths[child] = depths[node] + 1;
        pending.push_back(static_cast<std::size_t>(child));
      }
    }
    return Status::ok();
  }

  Result<TreeSplit> split(std::size_t node) {
    if (feature_[node] < 0 || static_cast<std::uint64_t>(feature_[node]) >= table_.features.size()) {
      return broken("node " + std::to_string(node) + " splits on feature " + std::to_string(feature_[node]) +
                    ", beyond the model's " + std::to_string(table_.features.size()) + " features");
    }
    TreeSplit result;
    result.feature = static_cast<std::uint64_t>(feature_[node]);
    if (split_type_.empty() || split_type_[node] != kCategoricalSplit) {
      result.threshold = condition_[node];
      return result;
    }
    auto segment = segment_of_.find(static_cast<std::int64_t>(node));
    if (segment == segment_of_.end())
      return broken("categorical node " + std::to_string(node) + " lists no categories");
    auto [begin, count] = segment->second;
    for (std::uint64_t i = begin; i < begin + count; ++i) {
      if (categories_[i] < 0 || categories_[i] > UINT32_MAX) return broken("category out of range");
      result.categories.push_back(static_cast<std::uint32_t>(categories_[i]));
    }
    return result;
  }

  Result<Tree> build(const std::vector<std::uint64_t>& depths) {
    Tree tree;
    tree.index = index_;
    for (std::size_t node = 0; node < left_.size(); ++node) {
      if (depths[node] == UINT64_MAX) continue;
      tree.depth = std::max(tree.depth, depths[node]);
      if (is_leaf(node)) {
        ++tree.leaves;
        add_leaf_values(tree, node);
        continue;
      }
      Result<TreeSplit> made = split(node);
      if (!made.is_ok()) return made.error();
      ++table_.features[made.value().feature].split_count;
      tree.splits.push_back(std::move(made.value()));
    }
    return tree;
  }

  const std::string& path_;
  std::uint64_t index_;
  const Json& tree_;
  TreeTable& table_;
  std::vector<std::int64_t> left_, right_, feature_, split_type_, categories_;
  std::vector<double> condition_;
  std::vector<double> weights_;   // multi-target trees: leaf_width_ weights per node
  std::uint64_t leaf_width_ = 0;  // 0 for a scalar tree
  std::map<std::int64_t, std::pair<std::uint64_t, std::uint64_t>> segment_of_;
};

}  // namespace

Status read_xgboost_tree_list(const std::string& path, const Json& trees_model, TreeTable& table) {
  auto trees = trees_model.find("trees");
  if (trees == trees_model.end() || !trees->is_array()) return fail(path + ": XGBoost model has no \"trees\" list");
  for (const Json& stored : *trees) {
    Result<Tree> tree = TreeReader(path, table.trees.size(), stored, table).read();
    if (!tree.is_ok()) return tree.error();
    table.trees.push_back(std::move(tree.value()));
  }
  return Status::ok();
}

}  // namespace tarnwick
