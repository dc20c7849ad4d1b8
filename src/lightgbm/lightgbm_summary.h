// What a LightGBM text model states, read without LightGBM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json_output.h"
#include "base/status.h"
#include "base/word_list.h"

namespace tarnwick {

// Field order is the key order of the record's own JSON form.
struct LightgbmSummary {
  std::string path;
  std::uint64_t bytes = 0;
  bool is_lgbm = true;
  std::uint64_t file_fingerprint = 0;
  std::uint64_t learned_state_fingerprint = 0;
  std::optional<std::uint64_t> metadata_fingerprint;
  std::optional<std::string> version;
  std::optional<std::uint64_t> num_class;
  std::uint64_t num_trees = 0;
  std::optional<std::uint64_t> num_features;
  std::optional<std::string> objective;
  std::optional<std::string> boosting;
  std::optional<std::uint64_t> num_leaves;
  std::optional<double> learning_rate;
  std::optional<std::int64_t> max_depth;
  std::optional<std::uint64_t> num_iterations;
  std::optional<std::string> metric;
  WordList feature_names;
};

Result<LightgbmSummary> read_lightgbm_summary(const std::string& path);
// Reads a summary from bytes already in memory; `path` names the file in messages.
Result<LightgbmSummary> summarize_lightgbm_text(const std::string& path, std::string_view bytes);

// The record in field order, fingerprints as integers, absent values as null.
OrderedJson lightgbm_summary_json(const LightgbmSummary& summary);
// Objective, boosting, learning rate, leaves, max depth and metric all equal (absent equals absent).
bool same_lightgbm_training_config(const LightgbmSummary& a, const LightgbmSummary& b);
// Leaf slots = trees x configured leaves, when known and without overflow.
std::optional<std::uint64_t> lightgbm_leaf_slots(const LightgbmSummary& summary);

}  // namespace tarnwick
