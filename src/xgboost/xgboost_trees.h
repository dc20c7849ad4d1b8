// The trees of an XGBoost model's gbtree "model" object, into the shared tree table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json_output.h"
#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

// Features a model may number beyond the names it lists (num_feature can claim any count).
inline constexpr std::size_t kMaxUnnamedXgboostFeatures = std::size_t{1} << 16;

// One of a stored tree's arrays as the file states it: present only when the key held an array,
// and unreadable when an element of it was not of the array's kind.
template <class T>
struct StoredArray {
  std::vector<T> values;
  bool present = false;
  bool unreadable = false;

  void restart(bool is_array) {
    values.clear();
    present = is_array;
    unreadable = false;
  }
};

// The arrays of one element of a "trees" list that the tree table needs. Integers keep the
// stored 64-bit value; reals are float32 values widened.
struct StoredTree {
  bool is_object = true;
  StoredArray<std::int64_t> left_children, right_children, split_indices, split_type, default_left;
  StoredArray<std::int64_t> categories, categories_nodes, categories_segments, categories_sizes;
  StoredArray<double> split_conditions, base_weights;
  Json tree_param;

  void restart();
};

// Reads the elements of a "trees" list one by one as they are stored, keeping the first fault.
// Each tree is read from its root: nodes in id order, a split per inner node (numerical splits go
// left when value < threshold, a missing value the way default_left says; categorical splits
// list the categories going right), a leaf value per leaf (a multi-target tree: the leaf's vector
// from base_weights). A child out of range, a node reached twice, or arrays of unequal lengths
// fail naming the tree. Splits on features the model lacks are found by finish, once the
// features are known.
class XgboostTreeList {
 public:
  explicit XgboostTreeList(std::string path) : path_(std::move(path)) {}

  // The list starts again (a repeated key replaces the earlier list).
  void restart();
  void add(const StoredTree& stored);

  // Appends the trees to `table`, whose features are listed, and counts each feature's splits;
  // or fails with the first fault in tree and node order.
  Status finish(TreeTable& table);

 private:
  struct ReadTree {
    Tree tree;
    std::vector<std::uint64_t> split_nodes;  // the node id of each split, for messages
  };

  Status check_features(const ReadTree& read, std::size_t feature_count) const;

  std::string path_;
  std::vector<ReadTree> trees_;
  std::optional<Error> fault_;
  // The tree that failed, with the splits of the nodes before its failing node (its own split
  // included when only its categories failed), as a fault on an earlier node comes first.
  std::optional<ReadTree> failed_;
};

}  // namespace tarnwick
