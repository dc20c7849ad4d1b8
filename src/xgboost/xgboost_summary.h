// Figures over a whole XGBoost model, shared by inspect, diff, check and explain-diff.
#pragma once

#include <cstdint>
#include <optional>

#include "base/json_output.h"
#include "xgboost/xgboost_model.h"

namespace tarnwick {

struct XgboostFigures {
  std::uint64_t trees = 0;
  std::uint64_t leaves = 0;
  std::uint64_t splits = 0;
  std::optional<std::uint64_t> max_depth;  // absent without trees
  // XXH3-64 over every tree's splits and leaf values, so equal trees read from JSON and UBJSON
  // files fingerprint alike.
  std::uint64_t learned_state_fingerprint = 0;
};

XgboostFigures xgboost_figures(const XgboostModel& model);

// {"kind": "xgboost_summary", ...}: the model's statements and figures, absent values as null.
OrderedJson xgboost_summary_json(const XgboostModel& model);

// Objective, booster, base score, classes, targets and parallel trees all equal.
bool same_xgboost_training_config(const XgboostModel& a, const XgboostModel& b);

}  // namespace tarnwick
