// The tree table: every tree of a gradient-boosted model, exactly, whatever format stored it.
// The CatBoost core reader, the LightGBM text reader and the XGBoost reader fill it; the tree
// reports read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// One input the trees split on. CatBoost lists its float features (in their own order), then
// its categorical, text and embedding features, then the derived CTR and estimated features;
// LightGBM and XGBoost list the model's features in column order.
struct TreeFeature {
  std::uint64_t index = 0;  // position in TreeTable::features
  std::optional<std::string> name;
  std::string type;  // "float", "categorical", "text", "embedding", "ctr", "estimated"; LightGBM "numerical";
                     // XGBoost its feature_types entry ("q", "c", "int", ...), else "numerical"
  std::optional<std::int64_t> flat_index;  // CatBoost: the column in the input row, when stated
  std::vector<double> borders;             // CatBoost: float32 borders widened exactly
  std::uint64_t split_count = 0;           // splits of all trees on this feature
};

// LightGBM's missing types (decision_type bits 2-3).
inline constexpr std::uint8_t kMissingTypeNone = 0;  // no default direction: NaN is compared as 0
inline constexpr std::uint8_t kMissingTypeZero = 1;  // zero and NaN take the default direction
inline constexpr std::uint8_t kMissingTypeNan = 2;   // NaN takes the default direction

struct TreeSplit {
  std::uint64_t feature = 0;  // index into TreeTable::features
  // Go right when value > threshold (CatBoost), left when value <= threshold (LightGBM), left when
  // value < threshold (XGBoost). Absent for a split on a set of categories.
  std::optional<double> threshold;
  // Categorical split: the categories going left (LightGBM), or going right (XGBoost)
  std::vector<std::uint32_t> categories;
  std::optional<std::int64_t> one_hot_value;  // CatBoost one-hot split: equal to this value
  std::uint64_t binary_feature = 0;           // CatBoost: the model's split number (the export's split_index)
  // Where a missing value goes: left (true) or right. XGBoost: NaN; LightGBM: the values its
  // missing type names. Absent where the model keeps no direction for the split: CatBoost (its
  // nan_mode is per feature) and LightGBM's missing type None (NaN is compared as 0).
  std::optional<bool> default_left;
  std::optional<std::uint8_t> missing_type;  // LightGBM: which values take the default direction
};

struct Tree {
  std::uint64_t index = 0;
  bool symmetric = false;   // CatBoost oblivious trees: one split per level, 2^depth leaves
  std::uint64_t depth = 0;  // levels of splits on the longest path
  std::uint64_t leaves = 0;
  std::vector<TreeSplit> splits;    // symmetric: level order; otherwise node order
  std::vector<double> leaf_values;  // leaves x approx dimension, leaf-major
};

struct TreeTable {
  std::string path;
  std::string format;  // "catboost", "lightgbm", "xgboost"
  std::vector<TreeFeature> features;
  std::vector<Tree> trees;
  // CatBoost
  std::optional<std::uint64_t> approx_dimension;
  std::optional<double> scale;
  std::vector<double> bias;  // one value per approx dimension (a single Bias is one value)
  // LightGBM and XGBoost
  std::optional<std::uint64_t> num_class;
  std::optional<std::string> objective;
};

}  // namespace tarnwick
