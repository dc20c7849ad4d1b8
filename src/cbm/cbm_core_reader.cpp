#include "cbm/cbm_core_reader.h"

#include <limits>

#include "base/decode_budget.h"
#include "base/file_read.h"
#include "containers/flatbuffers.h"

namespace tarnwick {

namespace {

// Field slots of the core's tables.
namespace core {
constexpr int kModelTrees = 1;
}
namespace trees {
constexpr int kApproxDimension = 0, kTreeSplits = 1, kTreeSizes = 2, kTreeStartOffsets = 3, kCatFeatures = 4,
              kFloatFeatures = 5, kOneHotFeatures = 6, kCtrFeatures = 7, kLeafValues = 8, kStepNodes = 10,
              kNodeIdToLeafId = 11, kTextFeatures = 12, kEstimatedFeatures = 13, kScale = 14, kBias = 15,
              kMultiBias = 16, kEmbeddingFeatures = 17;
}
namespace float_feature {
constexpr int kFlatIndex = 2, kBorders = 3, kFeatureId = 4;
}
// Categorical, text and embedding features share their first three slots.
namespace source_feature {
constexpr int kIndex = 0, kFlatIndex = 1, kFeatureId = 2;
}
namespace one_hot {
constexpr int kCatIndex = 0, kValues = 1;
}
constexpr int kCtrBorders = 1;
constexpr int kEstimatedBorders = 3;

constexpr std::uint32_t kNotALeaf = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kMaxSymmetricDepth = 30;

// What one split number means: the feature and the border (or one-hot value) it tests.
struct BinaryFeature {
  std::uint64_t feature = 0;
  std::optional<double> threshold;
  std::optional<std::int64_t> one_hot_value;
};

struct StepNode {
  std::uint16_t left = 0;
  std::uint16_t right = 0;
};

class CoreDecoder {
 public:
  CoreDecoder(const FlatBuffer& buffer, const FbTable& trees, TreeTable& table, DecodeBudget& budget)
      : buffer_(buffer), trees_(trees), table_(table), budget_(budget) {}

  Status decode() {
    for (auto step :
         {&CoreDecoder::read_float_features, &CoreDecoder::read_source_features, &CoreDecoder::read_one_hot_features,
          &CoreDecoder::read_borders_features, &CoreDecoder::read_model_values, &CoreDecoder::read_trees}) {
      Status status = (this->*step)();
      if (!status.is_ok()) return status;
    }
    return Status::ok();
  }

 private:
  Error broken(const std::string& problem) const { return fail(table_.path + ": CatBoost core: " + problem); }

  // Every decoded item is drawn, each time a vector is reached: features that all point at one
  // borders vector pay for it once per feature.
  Status draw(std::uint64_t elements, const char* what) {
    Status drawn = budget_.draw(elements, what);
    if (!drawn.is_ok()) return broken(drawn.message());
    return drawn;
  }

  // The vector of tables in `slot` of the trees table, its entries drawn from the budget.
  Result<FbVector> table_vector(int slot, const char* what) {
    Result<FbVector> vector = buffer_.vector_field(trees_, slot, 4);
    if (!vector.is_ok()) return vector.error();
    Status drawn = draw(vector.value().count, what);
    if (!drawn.is_ok()) return drawn.error();
    return vector;
  }

  template <class T, class Stored = T>
  Result<std::vector<T>> read_vector(const FbTable& table, int slot, const char* what) {
    Result<FbVector> vector = buffer_.vector_field(table, slot, sizeof(Stored));
    if (!vector.is_ok()) return vector.error();
    Status drawn = draw(vector.value().count, what);
    if (!drawn.is_ok()) return drawn.error();
    std::vector<T> values;
    values.reserve(vector.value().count);
    for (std::uint32_t i = 0; i < vector.value().count; ++i) {
      values.push_back(static_cast<T>(buffer_.scalar_element<Stored>(vector.value(), i)));
    }
    return values;
  }

  // The FeatureId string of a feature table, when it has one.
  Result<std::optional<std::string>> feature_name(const FbTable& feature, int slot) {
    Result<std::optional<std::string_view>> name = buffer_.string_field(feature, slot);
    if (!name.is_ok()) return name.error();
    if (!name.value()) return std::optional<std::string>();
    Status drawn = draw(name.value()->size(), "feature names");
    if (!drawn.is_ok()) return drawn.error();
    return std::optional<std::string>(std::string(*name.value()));
  }

  std::optional<std::int64_t> stated_index(std::int32_t index) const {
    return index < 0 ? std::nullopt : std::optional<std::int64_t>(index);
  }

  Status read_float_features() {
    Result<FbVector> features = table_vector(trees::kFloatFeatures, "float features");
    if (!features.is_ok()) return features.error();
    for (std::uint32_t i = 0; i < features.value().count; ++i) {
      Result<FbTable> entry = buffer_.table_element(features.value(), i);
      if (!entry.is_ok()) return entry.error();
      Result<std::int32_t> flat_index = buffer_.int32_field(entry.value(), float_feature::kFlatIndex, -1);
      Result<std::vector<double>> borders =
          read_vector<double, float>(entry.value(), float_feature::kBorders, "float feature borders");
      Result<std::optional<std::string>> name = feature_name(entry.value(), float_feature::kFeatureId);
      if (!flat_index.is_ok()) return flat_index.error();
      if (!borders.is_ok()) return borders.error();
      if (!name.is_ok()) return name.error();
      TreeFeature& feature = add_feature("float", name.value(), stated_index(flat_index.value()));
      feature.borders = borders.take();
      for (double border : feature.borders) binary_.push_back({feature.index, border, std::nullopt});
    }
    return Status::ok();
  }

  Status read_source_features() {
    struct Kind {
      int slot;
      const char* type;
      std::vector<std::uint64_t>* by_index;
      const char* what;
    };
    for (const Kind& kind : {Kind{trees::kCatFeatures, "categorical", &categorical_by_index_, "categorical features"},
                             Kind{trees::kTextFeatures, "text", nullptr, "text features"},
                             Kind{trees::kEmbeddingFeatures, "embedding", nullptr, "embedding features"}}) {
      Result<FbVector> features = table_vector(kind.slot, kind.what);
      if (!features.is_ok()) return features.error();
      for (std::uint32_t i = 0; i < features.value().count; ++i) {
        Result<FbTable> entry = buffer_.table_element(features.value(), i);
        if (!entry.is_ok()) return entry.error();
        Result<std::int32_t> index = buffer_.int32_field(entry.value(), source_feature::kIndex, -1);
        Result<std::int32_t> flat_index = buffer_.int32_field(entry.value(), source_feature::kFlatIndex, -1);
        Result<std::optional<std::string>> name = feature_name(entry.value(), source_feature::kFeatureId);
        if (!index.is_ok()) return index.error();
        if (!flat_index.is_ok()) return flat_index.error();
        if (!name.is_ok()) return name.error();
        TreeFeature& feature = add_feature(kind.type, name.value(), stated_index(flat_index.value()));
        if (kind.by_index && index.value() >= 0) {
          auto at = static_cast<std::size_t>(index.value());
          if (at >= features.value().count)
            return broken("categorical feature index " + std::to_string(at) + " out of range");
          kind.by_index->resize(features.value().count, kNoFeature);
          (*kind.by_index)[at] = feature.index;
        }
      }
    }
    return Status::ok();
  }

  // One-hot splits test a categorical feature for one of its values.
  Status read_one_hot_features() {
    Result<FbVector> features = table_vector(trees::kOneHotFeatures, "one-hot features");
    if (!features.is_ok()) return features.error();
    for (std::uint32_t i = 0; i < features.value().count; ++i) {
      Result<FbTable> entry = buffer_.table_element(features.value(), i);
      if (!entry.is_ok()) return entry.error();
      Result<std::int32_t> cat_index = buffer_.int32_field(entry.value(), one_hot::kCatIndex, -1);
      Result<std::vector<std::int64_t>> values =
          read_vector<std::int64_t, std::int32_t>(entry.value(), one_hot::kValues, "one-hot values");
      if (!cat_index.is_ok()) return cat_index.error();
      if (!values.is_ok()) return values.error();
      auto at = static_cast<std::size_t>(cat_index.value());
      if (cat_index.value() < 0 || at >= categorical_by_index_.size() || categorical_by_index_[at] == kNoFeature) {
        return broken("one-hot feature names categorical feature " + std::to_string(cat_index.value()) +
                      ", which the model does not have");
      }
      for (std::int64_t value : values.value()) binary_.push_back({categorical_by_index_[at], std::nullopt, value});
    }
    return Status::ok();
  }

  // CTR and estimated features are derived inputs with borders of their own.
  Status read_borders_features() {
    struct Kind {
      int slot;
      int borders_slot;
      const char* type;
      const char* what;
      const char* borders_what;
    };
    for (const Kind& kind : {Kind{trees::kCtrFeatures, kCtrBorders, "ctr", "ctr features", "ctr feature borders"},
                             Kind{trees::kEstimatedFeatures, kEstimatedBorders, "estimated", "estimated features",
                                  "estimated feature borders"}}) {
      Result<FbVector> features = table_vector(kind.slot, kind.what);
      if (!features.is_ok()) return features.error();
      for (std::uint32_t i = 0; i < features.value().count; ++i) {
        Result<FbTable> entry = buffer_.table_element(features.value(), i);
        if (!entry.is_ok()) return entry.error();
        Result<std::vector<double>> borders =
            read_vector<double, float>(entry.value(), kind.borders_slot, kind.borders_what);
        if (!borders.is_ok()) return borders.error();
        TreeFeature& feature = add_feature(kind.type, std::nullopt, std::nullopt);
        feature.borders = borders.take();
        for (double border : feature.borders) binary_.push_back({feature.index, border, std::nullopt});
      }
    }
    return Status::ok();
  }

  Status read_model_values() {
    Result<std::int32_t> dimension = buffer_.int32_field(trees_, trees::kApproxDimension, 1);
    Result<double> scale = buffer_.double_field(trees_, trees::kScale, 1.0);
    Result<double> bias = buffer_.double_field(trees_, trees::kBias, 0.0);
    Result<std::vector<double>> multi_bias = read_vector<double>(trees_, trees::kMultiBias, "multi-class biases");
    if (!dimension.is_ok()) return dimension.error();
    if (!scale.is_ok()) return scale.error();
    if (!bias.is_ok()) return bias.error();
    if (!multi_bias.is_ok()) return multi_bias.error();
    if (dimension.value() < 1)
      return broken("approx dimension " + std::to_string(dimension.value()) + " is not positive");
    table_.approx_dimension = static_cast<std::uint64_t>(dimension.value());
    table_.scale = scale.value();
    table_.bias = multi_bias.value().empty() ? std::vector<double>{bias.value()} : multi_bias.take();
    return Status::ok();
  }

  Status read_trees() {
    Result<std::vector<std::int32_t>> splits = read_vector<std::int32_t>(trees_, trees::kTreeSplits, "tree splits");
    Result<std::vector<std::int32_t>> sizes = read_vector<std::int32_t>(trees_, trees::kTreeSizes, "tree sizes");
    Result<std::vector<std::int32_t>> starts =
        read_vector<std::int32_t>(trees_, trees::kTreeStartOffsets, "tree start offsets");
    Result<std::vector<double>> leaf_values = read_vector<double>(trees_, trees::kLeafValues, "leaf values");
    Result<std::vector<StepNode>> steps = read_vector<StepNode>(trees_, trees::kStepNodes, "step nodes");
    Result<std::vector<std::uint32_t>> leaf_ids =
        read_vector<std::uint32_t>(trees_, trees::kNodeIdToLeafId, "node leaves");
    for (const Status& status : {status_of(splits), status_of(sizes), status_of(starts), status_of(leaf_values),
                                 status_of(steps), status_of(leaf_ids)}) {
      if (!status.is_ok()) return status;
    }
    if (sizes.value().size() != starts.value().size()) {
      return broken(std::to_string(sizes.value().size()) + " tree sizes but " + std::to_string(starts.value().size()) +
                    " tree start offsets");
    }
    // Each split (or node) belongs to one tree, so the trees together cannot claim more than are
    // stored; this also bounds the work to the core's size.
    std::uint64_t claimed = 0;
    for (std::int32_t size : sizes.value()) claimed += size < 0 ? 0 : static_cast<std::uint64_t>(size);
    if (claimed > splits.value().size()) {
      return broken("the tree sizes add up to " + std::to_string(claimed) + " splits but the core holds " +
                    std::to_string(splits.value().size()));
    }
    splits_ = splits.take();
    leaf_values_ = leaf_values.take();
    steps_ = steps.take();
    leaf_ids_ = leaf_ids.take();
    bool symmetric = steps_.empty();
    for (std::size_t i = 0; i < sizes.value().size(); ++i) {
      Tree tree;
      tree.index = i;
      tree.symmetric = symmetric;
      Status status = symmetric ? read_symmetric_tree(sizes.value()[i], starts.value()[i], tree)
                                : read_node_tree(sizes.value()[i], starts.value()[i], tree);
      if (!status.is_ok()) return status;
      table_.trees.push_back(std::move(tree));
    }
    if (symmetric && next_leaf_value_ != leaf_values_.size()) {
      return broken("the trees own " + std::to_string(next_leaf_value_) + " leaf values but the core holds " +
                    std::to_string(leaf_values_.size()));
    }
    return Status::ok();
  }

  template <class T>
  static Status status_of(const Result<T>& result) {
    return result.is_ok() ? Status::ok() : Status(result.error());
  }

  Status check_range(std::int32_t start, std::int32_t size, std::size_t available, const char* what,
                     std::uint64_t tree) const {
    if (start < 0 || size < 0 || std::uint64_t(start) + std::uint64_t(size) > available) {
      return broken("tree " + std::to_string(tree) + " claims " + what + " " + std::to_string(start) + " to " +
                    std::to_string(std::int64_t{start} + size) + " of " + std::to_string(available));
    }
    return Status::ok();
  }

  Result<TreeSplit> split_at(std::size_t position, std::uint64_t tree) {
    std::int32_t number = splits_[position];
    if (number < 0 || static_cast<std::size_t>(number) >= binary_.size()) {
      return broken("tree " + std::to_string(tree) + " splits on binary feature " + std::to_string(number) + " of " +
                    std::to_string(binary_.size()));
    }
    const BinaryFeature& binary = binary_[static_cast<std::size_t>(number)];
    TreeSplit split;
    split.feature = binary.feature;
    split.threshold = binary.threshold;
    split.one_hot_value = binary.one_hot_value;
    split.binary_feature = static_cast<std::uint64_t>(number);
    ++table_.features[binary.feature].split_count;
    return split;
  }

  Status read_symmetric_tree(std::int32_t depth, std::int32_t start, Tree& tree) {
    Status in_range = check_range(start, depth, splits_.size(), "splits", tree.index);
    if (!in_range.is_ok()) return in_range;
    if (depth > static_cast<std::int32_t>(kMaxSymmetricDepth)) {
      return broken("tree " + std::to_string(tree.index) + " has depth " + std::to_string(depth));
    }
    for (std::int32_t level = 0; level < depth; ++level) {
      Result<TreeSplit> split = split_at(static_cast<std::size_t>(start + level), tree.index);
      if (!split.is_ok()) return split.error();
      tree.splits.push_back(split.take());
    }
    tree.depth = static_cast<std::uint64_t>(depth);
    tree.leaves = std::uint64_t{1} << depth;
    std::uint64_t count = tree.leaves * *table_.approx_dimension;
    if (next_leaf_value_ + count > leaf_values_.size()) {
      return broken("tree " + std::to_string(tree.index) + " needs leaf values past the " +
                    std::to_string(leaf_values_.size()) + " stored");
    }
    tree.leaf_values.assign(leaf_values_.begin() + static_cast<std::ptrdiff_t>(next_leaf_value_),
                            leaf_values_.begin() + static_cast<std::ptrdiff_t>(next_leaf_value_ + count));
    next_leaf_value_ += count;
    return Status::ok();
  }

  // Nodes of a depthwise or lossguide tree: each points forward to its children, so one pass
  // from the last node back computes every depth without following a path twice.
  Status read_node_tree(std::int32_t size, std::int32_t start, Tree& tree) {
    for (auto [available, what] : {std::pair{splits_.size(), "splits"}, std::pair{steps_.size(), "step nodes"},
                                   std::pair{leaf_ids_.size(), "node leaves"}}) {
      Status in_range = check_range(start, size, available, what, tree.index);
      if (!in_range.is_ok()) return in_range;
    }
    if (size == 0) return broken("tree " + std::to_string(tree.index) + " has no nodes");
    auto first = static_cast<std::size_t>(start);
    auto count = static_cast<std::size_t>(size);
    std::vector<std::uint64_t> depth(count, 0);
    std::uint64_t dimension = *table_.approx_dimension;
    for (std::size_t node = count; node-- > 0;) {
      const StepNode& step = steps_[first + node];
      for (std::uint16_t diff : {step.left, step.right}) {
        if (diff == 0) continue;
        if (node + diff >= count) {
          return broken("tree " + std::to_string(tree.index) + " node " + std::to_string(node) +
                        " points past the tree's " + std::to_string(count) + " nodes");
        }
        depth[node] = std::max(depth[node], depth[node + diff] + 1);
      }
    }
    for (std::size_t node = 0; node < count; ++node) {
      const StepNode& step = steps_[first + node];
      std::uint32_t leaf = leaf_ids_[first + node];
      if (step.left != 0 || step.right != 0) {
        Result<TreeSplit> split = split_at(first + node, tree.index);
        if (!split.is_ok()) return split.error();
        tree.splits.push_back(split.take());
      }
      if (leaf == kNotALeaf) {
        if (step.left == 0 || step.right == 0) {
          return broken("tree " + std::to_string(tree.index) + " node " + std::to_string(node) +
                        " ends without a leaf");
        }
        continue;
      }
      if (std::uint64_t{leaf} + dimension > leaf_values_.size()) {
        return broken("tree " + std::to_string(tree.index) + " leaf " + std::to_string(leaf) + " out of range");
      }
      // Leaves own their values: together they cannot take more than are stored.
      next_leaf_value_ += dimension;
      if (next_leaf_value_ > leaf_values_.size()) {
        return broken("tree " + std::to_string(tree.index) + " takes leaf values past the " +
                      std::to_string(leaf_values_.size()) + " stored");
      }
      tree.leaf_values.insert(tree.leaf_values.end(), leaf_values_.begin() + leaf,
                              leaf_values_.begin() + static_cast<std::ptrdiff_t>(leaf + dimension));
      ++tree.leaves;
    }
    tree.depth = depth[0];
    return Status::ok();
  }

  TreeFeature& add_feature(const char* type, std::optional<std::string> name, std::optional<std::int64_t> flat_index) {
    TreeFeature feature;
    feature.index = table_.features.size();
    feature.type = type;
    feature.name = std::move(name);
    feature.flat_index = flat_index;
    table_.features.push_back(std::move(feature));
    return table_.features.back();
  }

  static constexpr std::uint64_t kNoFeature = std::numeric_limits<std::uint64_t>::max();

  const FlatBuffer& buffer_;
  FbTable trees_;
  TreeTable& table_;
  DecodeBudget& budget_;
  std::vector<BinaryFeature> binary_;
  std::vector<std::uint64_t> categorical_by_index_;
  std::vector<std::int32_t> splits_;
  std::vector<double> leaf_values_;
  std::vector<StepNode> steps_;
  std::vector<std::uint32_t> leaf_ids_;
  std::uint64_t next_leaf_value_ = 0;
};

}  // namespace

Result<TreeTable> decode_cbm_trees(const std::string& path, std::string_view bytes) {
  DecodeBudget budget(bytes.size());
  return decode_cbm_trees(path, bytes, budget);
}

Result<TreeTable> decode_cbm_trees(const std::string& path, std::string_view bytes, DecodeBudget& budget) {
  if (bytes.size() < 8 || bytes.substr(0, 4) != "CBM1") {
    return fail(path + " does not look like a CatBoost CBM file: missing CBM1 signature");
  }
  std::uint32_t core_size;
  std::memcpy(&core_size, bytes.data() + 4, 4);
  if (core_size > bytes.size() - 8) {
    return fail(path + ": CatBoost core of " + std::to_string(core_size) + " bytes runs past the end of the file (" +
                std::to_string(bytes.size()) + " bytes)");
  }
  FlatBuffer buffer(bytes.substr(8, core_size), path + ": CatBoost core");
  Result<FbTable> root = buffer.root();
  if (!root.is_ok()) return root.error();
  Result<std::optional<FbTable>> trees = buffer.table_field(root.value(), core::kModelTrees);
  if (!trees.is_ok()) return trees.error();
  if (!trees.value()) return fail(path + ": CatBoost core holds no trees table");
  TreeTable table;
  table.path = path;
  table.format = "catboost";
  Status decoded = CoreDecoder(buffer, *trees.value(), table, budget).decode();
  if (!decoded.is_ok()) return decoded.error();
  return table;
}

Result<TreeTable> read_cbm_trees(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return decode_cbm_trees(path, bytes.value().view());
}

}  // namespace tarnwick
