// What running a plan would cost, worked out from shapes alone, and the budget `run` and
// `bench` hold plans to before they allocate anything.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "model/model.h"

namespace tarnwick {

struct RunCost {
  std::uint64_t multiply_adds = 0;  // saturating at 2^64 - 1
  std::uint64_t tensor_bytes = 0;   // parameters, input and every layer's results, saturating
};

// One run computes at most this many multiply-adds (about a second of the naive kernels) and
// holds at most this many bytes of tensors.
inline constexpr std::uint64_t kRunWorkBudget = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kRunMemoryBudget = std::uint64_t{256} << 20;
// All iterations of `bench` together.
inline constexpr std::uint64_t kBenchWorkBudget = std::uint64_t{1} << 34;

// Follows the shapes the way execution would; stops at the first layer whose shapes do not
// fit, leaving that layer's error to the execution itself.
RunCost estimate_run_cost(const Model& model);
// Refuses a plan whose estimated cost for `iterations` runs exceeds the budgets, with the figures.
Status check_run_budget(const Model& model, std::uint64_t iterations, std::uint64_t work_budget);

}  // namespace tarnwick
