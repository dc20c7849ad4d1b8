// What `diff --contents --values` adds: how the values of each changed tensor moved
// (max_abs, mean_abs, rel_l2, cosine), across dtypes and formats.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "base/json_output.h"
#include "tables/tensor_contents_diff.h"
#include "values/value_passes.h"

namespace tarnwick {

// One outcome per entry of `diff.changed`; a change of shape is skipped, as its elements do
// not correspond.
std::vector<DeltaOutcome> changed_value_deltas(const TensorContentsDiff& diff);

OrderedJson delta_json(const ValueDelta& delta);
// Adds "values" and "values_skipped" to each entry of a contents_diff document's "changed".
void add_delta_json(OrderedJson& document, const std::vector<DeltaOutcome>& deltas);
void print_delta_section(std::ostream& out, const TensorContentsDiff& diff, const std::vector<DeltaOutcome>& deltas,
                         std::uint64_t limit);

}  // namespace tarnwick
