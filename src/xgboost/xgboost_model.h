// What an XGBoost model (JSON or UBJSON, as `save_model` writes them) states, read without
// XGBoost: the learner's parameters and every tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

struct XgboostModel {
  std::string path;
  std::uint64_t bytes = 0;
  std::string encoding;                // "JSON" or "UBJSON"
  std::uint64_t file_fingerprint = 0;  // XXH3-64 of the whole file
  std::optional<std::string> version;  // "major.minor.patch" of the library that saved it
  std::optional<std::string> booster;  // "gbtree", "dart", "gblinear"
  std::optional<std::string> objective;
  std::optional<double> base_score;
  std::optional<std::uint64_t> num_class;  // as stated: 0 unless multi-class
  std::optional<std::uint64_t> num_feature;
  std::optional<std::uint64_t> num_target;
  std::optional<std::uint64_t> num_parallel_tree;
  std::optional<std::uint64_t> boosting_rounds;
  std::optional<std::uint64_t> dart_weights;  // dart: one drop weight per tree
  std::vector<std::string> feature_names;
  std::vector<std::string> feature_types;
  TreeTable trees;  // format "xgboost"
};

Result<XgboostModel> read_xgboost_model(const std::string& path);
// The same from bytes already in memory; `path` names the file in messages.
Result<XgboostModel> parse_xgboost_model(const std::string& path, std::string_view bytes);
Result<TreeTable> read_xgboost_trees(const std::string& path);

}  // namespace tarnwick
