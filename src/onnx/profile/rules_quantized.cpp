// Quantized ops: QuantizeLinear, DequantizeLinear and DynamicQuantizeLinear keep the shape and
// change the type; the integer and QLinear forms of Conv and MatMul take the float ops' shapes
// from their data and weight operands.
#include <array>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

// QuantizeLinear: the zero point's type, uint8 when it is absent (or output_dtype from opset 21).
Outputs quantize_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::int32_t> type = in.has_input(2) ? in.type(2) : std::optional<std::int32_t>(kUint8);
  if (std::int64_t stated = in.int_attribute("output_dtype", 0); stated != 0) type = static_cast<std::int32_t>(stated);
  outputs[0] = shaped(type, *x);
  return outputs;
}

// DequantizeLinear: the scale's type.
Outputs dequantize_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  outputs[0] = shaped(in.type(1) ? in.type(1) : std::optional<std::int32_t>(kFloat), *x);
  return outputs;
}

// DynamicQuantizeLinear: y (uint8, x's shape), y_scale (float scalar), y_zero_point (uint8 scalar).
Outputs dynamic_quantize_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  outputs[0] = shaped(kUint8, *x);
  if (outputs.size() > 1) outputs[1] = shaped(kFloat, Dims{});
  if (outputs.size() > 2) outputs[2] = shaped(kUint8, Dims{});
  return outputs;
}

// Runs the float op's rule on the data operand and the weight operand, then sets the type.
Outputs as_float_op(const RuleInput& in, std::string_view float_op, std::size_t weight, std::optional<std::int32_t> type) {
  ShapeRule rule = find_dense_rule(float_op);
  RuleInput operands{in.node, {in.input(0), in.input(weight)}, in.opset};
  Outputs outputs = rule(operands);
  outputs.resize(in.node.outputs.size());
  if (!outputs.empty() && outputs[0].shape) outputs[0].elem_type = type;
  return outputs;
}

Outputs conv_integer_rule(const RuleInput& in) { return as_float_op(in, "Conv", 1, kInt32); }
Outputs matmul_integer_rule(const RuleInput& in) { return as_float_op(in, "MatMul", 1, kInt32); }
// QLinearConv(x, x_scale, x_zp, w, w_scale, w_zp, y_scale, y_zp, B) and
// QLinearMatMul(a, a_scale, a_zp, b, b_scale, b_zp, y_scale, y_zp): the output's type is y_zp's.
Outputs qlinear_conv_rule(const RuleInput& in) { return as_float_op(in, "Conv", 3, in.type(7) ? in.type(7) : in.type(0)); }
Outputs qlinear_matmul_rule(const RuleInput& in) {
  return as_float_op(in, "MatMul", 3, in.type(7) ? in.type(7) : in.type(0));
}

constexpr std::array kQuantizedRules{
    RuleEntry{"QuantizeLinear", quantize_rule},        RuleEntry{"DequantizeLinear", dequantize_rule},
    RuleEntry{"DynamicQuantizeLinear", dynamic_quantize_rule}, RuleEntry{"ConvInteger", conv_integer_rule},
    RuleEntry{"MatMulInteger", matmul_integer_rule},   RuleEntry{"QLinearConv", qlinear_conv_rule},
    RuleEntry{"QLinearMatMul", qlinear_matmul_rule},
};

}  // namespace

ShapeRule find_quantized_rule(std::string_view op_type) { return find_rule_in(kQuantizedRules, op_type); }

}  // namespace tarnwick
