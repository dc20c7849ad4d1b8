// The explain-diff lists of a tensor checkpoint pair: the tensors added, removed and changed,
// each list cut after its first 20 names.
#pragma once

#include <ostream>

#include "tables/tensor_file_changes.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

inline constexpr std::size_t kExplainedTensors = 20;

void print_tensor_change_lists(std::ostream& out, const TensorFileSummary& old_model,
                               const TensorFileSummary& new_model, const TensorFileChanges& changes);

}  // namespace tarnwick
