// What a CatBoost binary model (.cbm) shows in plain bytes, read without CatBoost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tarnwick {

struct CbmSummary {
  std::string name;
  std::uint64_t file_size_bytes = 0;
  std::optional<std::uint64_t> iterations;
  std::optional<std::uint64_t> depth;
  std::optional<double> learning_rate;
  std::optional<double> l2_leaf_reg;
  std::optional<std::string> loss_function;
  std::optional<std::string> eval_metric;
  std::optional<std::string> grow_policy;
  std::optional<std::string> bootstrap_type;
  std::optional<std::string> train_finish_time;
  std::optional<double> best_learn_rmse;
  std::vector<std::string> feature_names;  // ascending, without duplicates
  std::uint64_t full_artifact_fingerprint = 0;
  std::optional<std::uint64_t> metadata_fingerprint;
  std::uint64_t learned_state_fingerprint = 0;
};

Result<CbmSummary> read_cbm_summary(const std::string& path);
// The same from bytes already in memory; `path` names the file in messages.
Result<CbmSummary> summarize_cbm_bytes(const std::string& path, std::string_view bytes);

// Loss, eval metric, learning rate, L2, grow policy and bootstrap all equal (absent equals absent).
bool same_catboost_training_config(const CbmSummary& a, const CbmSummary& b);

// Trees x depth, when both are known and the product fits.
std::optional<std::uint64_t> cbm_split_checks_per_row(const CbmSummary& summary);
// Trees x 2^depth, when both are known, depth < 64 and the product fits.
std::optional<std::uint64_t> cbm_leaf_slots(const CbmSummary& summary);

}  // namespace tarnwick
