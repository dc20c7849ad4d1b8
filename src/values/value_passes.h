// One read of the values of many tensors, shared by two threads: every tensor is cut into
// spans of elements, the spans are taken in turn by whichever thread is free, and each tensor's
// figures are joined span by span in order, so the result does not depend on the scheduling.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "tables/tensor_table.h"
#include "values/value_stats.h"

namespace tarnwick {

// A tensor's figures, or why its values could not be read.
template <class Figures>
struct ValueOutcome {
  std::optional<Figures> figures;
  std::string skipped;
};

using StatsOutcome = ValueOutcome<ValueStats>;
using DeltaOutcome = ValueOutcome<ValueDelta>;

// Statistics of every tensor of the table, in table order; a tensor whose values cannot be read
// (its file missing included) is skipped with the reason.
std::vector<StatsOutcome> tensor_statistics(const TensorTable& table);

// How each pair's values differ; the two tensors of a pair have the same element count.
using TensorPair = std::pair<const TensorEntry*, const TensorEntry*>;
std::vector<DeltaOutcome> tensor_deltas(const std::vector<TensorPair>& pairs);

// File totals over the tensors whose statistics were read.
struct StatsTotals {
  ValueStats values;
  std::uint64_t tensors = 0;
  std::uint64_t skipped = 0;
};
StatsTotals total_statistics(const std::vector<StatsOutcome>& outcomes);

}  // namespace tarnwick
