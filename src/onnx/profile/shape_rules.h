// Output shapes (and small integer values) of one node from what is known about its inputs.
// A rule never guesses: whatever it cannot derive stays unknown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "onnx/onnx_graph.h"
#include "onnx/profile/known_value.h"

namespace tarnwick {

struct RuleInput {
  const OnnxGraphNode& node;
  std::vector<const KnownValue*> inputs;  // nullptr for an absent (empty-named) input
  std::int64_t opset = 0;

  const KnownValue* input(std::size_t k) const { return k < inputs.size() ? inputs[k] : nullptr; }
  const Dims* shape(std::size_t k) const;
  const std::vector<std::int64_t>* ints(std::size_t k) const;
  std::optional<std::int32_t> type(std::size_t k) const;
  bool has_input(std::size_t k) const { return input(k) != nullptr; }
  std::int64_t int_attribute(std::string_view name, std::int64_t fallback) const;
  const std::vector<std::int64_t>* ints_attribute(std::string_view name) const;
  std::optional<std::string> string_attribute(std::string_view name) const;
};

using Outputs = std::vector<KnownValue>;  // one per node output; unknown ones left empty
using ShapeRule = Outputs (*)(const RuleInput&);

// The rule for an op of the default domain, or nullptr.
ShapeRule find_shape_rule(std::string_view op_type);

// Rule families, one file each, each a table of these.
struct RuleEntry {
  std::string_view op;
  ShapeRule rule;
};
template <std::size_t N>
ShapeRule find_rule_in(const std::array<RuleEntry, N>& rules, std::string_view op_type) {
  for (const RuleEntry& entry : rules) {
    if (entry.op == op_type) return entry.rule;
  }
  return nullptr;
}

Outputs same_as_first(const RuleInput& in);
ShapeRule find_elementwise_rule(std::string_view op_type);
ShapeRule find_dense_rule(std::string_view op_type);
ShapeRule find_layout_rule(std::string_view op_type);
ShapeRule find_value_rule(std::string_view op_type);
ShapeRule find_sequence_rule(std::string_view op_type);
ShapeRule find_quantized_rule(std::string_view op_type);

// A tensor (initializer or attribute) as a known value: type, shape and small values.
KnownValue known_tensor(const OnnxTensor& tensor);

// Shared by the rule files and the cost: the spatial output size of Conv and the pools.
struct WindowParams {
  Dims kernel, strides, dilations, pads;  // pads: begins then ends
  std::string auto_pad = "NOTSET";
  bool ceil_mode = false;
};
std::optional<WindowParams> window_params(const RuleInput& in, const Dims& kernel);
std::optional<std::int64_t> window_output(std::int64_t input, std::size_t axis, const WindowParams& params);

}  // namespace tarnwick
