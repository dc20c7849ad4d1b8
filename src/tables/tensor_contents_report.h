// The `contents` report of a tensor table: text in the house style, and the JSON document.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "base/json_output.h"
#include "base/status.h"
#include "tables/architecture.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct TensorTotals {
  std::uint64_t parameters = 0;
  std::uint64_t bytes = 0;
};

// Fails when a sum overflows 64 bits (only possible for tensors of unknown size).
Result<TensorTotals> tensor_totals(const TensorTable& table);
std::string tensor_shape_and_dtype(const TensorEntry& tensor);

Result<OrderedJson> tensor_contents_json(const TensorTable& table);
// With `architecture`, the report has an Architecture section.
Status print_tensor_contents(std::ostream& out, const TensorTable& table, std::uint64_t limit,
                             const std::optional<ArchitectureFacts>& architecture = std::nullopt);

}  // namespace tarnwick
