// The `check` rules on tensor values: --fail-on-nonfinite (the new file holds no NaN or
// infinity), --max-tensor-change REL (no tensor's rel_l2 exceeds REL), --frozen GLOB (the
// tensors it names are bit-identical). A value a rule needs but cannot read is an error naming
// the tensor.
#pragma once

#include <vector>

#include "base/check_rules.h"
#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

bool has_tensor_value_rules(const CheckOptions& options);
Result<std::vector<CheckResult>> tensor_value_checks(const CheckOptions& options, TensorTable& old_table,
                                                     TensorTable& new_table);

}  // namespace tarnwick
