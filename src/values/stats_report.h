// What `contents --stats` adds to the contents report: a statistics table and file totals in
// text, a "stats" object per tensor and for the file in JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "base/json_output.h"
#include "tables/tensor_table.h"
#include "values/value_passes.h"

namespace tarnwick {

OrderedJson stats_json(const ValueStats& stats);
// Adds "stats" and "skipped" to each tensor of a tensor_contents document, and "stats" totals.
void add_stats_json(OrderedJson& document, const std::vector<StatsOutcome>& outcomes);
void print_stats_sections(std::ostream& out, const TensorTable& table, const std::vector<StatsOutcome>& outcomes,
                          std::uint64_t limit);

}  // namespace tarnwick
