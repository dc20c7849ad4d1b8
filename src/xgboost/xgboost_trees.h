// The trees of an XGBoost model's gbtree "model" object, into the shared tree table.
#pragma once

#include <cstddef>
#include <string>

#include "base/json_output.h"
#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

// Features a model may number beyond the names it lists (num_feature can claim any count).
inline constexpr std::size_t kMaxUnnamedXgboostFeatures = std::size_t{1} << 16;

// Appends every tree of `trees_model` (its "trees" list) to `table`, whose features are already
// listed. Each tree is read from its root: nodes in id order, a split per inner node (numerical
// splits go left when value < threshold; categorical splits list the categories going right),
// a leaf value per leaf (a multi-target tree: the leaf's vector from base_weights). A child out
// of range, a node reached twice, a split on a feature the table lacks, or arrays of unequal
// lengths fail naming the tree.
Status read_xgboost_tree_list(const std::string& path, const Json& trees_model, TreeTable& table);

}  // namespace tarnwick
