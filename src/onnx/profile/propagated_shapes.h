// The shapes the profile's propagation gives a model's main graph, for the summary's cost
// estimate where the file itself does not state a shape.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "onnx/onnx_summary.h"

namespace tarnwick {

struct PropagatedShapes {
  ShapeMap shapes;                        // the wanted names that got a static shape
  std::vector<std::string> assumed_dims;  // symbolic dimensions the walk took as 1, ascending
};

// Decodes `model_bytes` again as a whole graph and walks it; only names in `wanted` are kept.
Result<PropagatedShapes> propagate_shapes(std::string_view model_bytes,
                                          const std::set<std::string, std::less<>>& wanted);

}  // namespace tarnwick
