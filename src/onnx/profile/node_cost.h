// What one node costs: multiply-accumulates of the dense ops and one op per element of the
// others, from the shapes the propagation found. Unknown when a shape it needs is unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "onnx/onnx_graph.h"
#include "onnx/profile/known_value.h"

namespace tarnwick {

struct NodeCost {
  std::optional<std::uint64_t> macs;
  std::optional<std::uint64_t> other_ops;
};

NodeCost node_cost(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs,
                   const std::vector<KnownValue>& outputs);

// Ops of the default domain that only move, select or describe data (Reshape, Shape, Gather,
// Constant, ...): they cost nothing whatever their shapes.
bool costs_nothing(const OnnxGraphNode& node);

}  // namespace tarnwick
