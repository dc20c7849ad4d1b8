#include "onnx/profile/shape_rules.h"

namespace tarnwick {

const Dims* RuleInput::shape(std::size_t k) const {
  const KnownValue* value = input(k);
  return value && value->shape ? &*value->shape : nullptr;
}

const std::vector<std::int64_t>* RuleInput::ints(std::size_t k) const {
  const KnownValue* value = input(k);
  return value && value->ints ? &*value->ints : nullptr;
}

std::optional<std::int32_t> RuleInput::type(std::size_t k) const {
  const KnownValue* value = input(k);
  return value ? value->elem_type : std::nullopt;
}

std::int64_t RuleInput::int_attribute(std::string_view name, std::int64_t fallback) const {
  const OnnxAttribute* attribute = node.attribute(name);
  return attribute && attribute->i ? *attribute->i : fallback;
}

const std::vector<std::int64_t>* RuleInput::ints_attribute(std::string_view name) const {
  const OnnxAttribute* attribute = node.attribute(name);
  return attribute ? &attribute->ints : nullptr;
}

std::optional<std::string> RuleInput::string_attribute(std::string_view name) const {
  const OnnxAttribute* attribute = node.attribute(name);
  return attribute ? attribute->s : std::nullopt;
}

Outputs same_as_first(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (!outputs.empty() && in.input(0)) {
    outputs[0] = *in.input(0);
  }
  return outputs;
}

ShapeRule find_shape_rule(std::string_view op_type) {
  for (auto finder : {find_elementwise_rule, find_dense_rule, find_layout_rule, find_value_rule, find_sequence_rule,
                        find_quantized_rule}) {
    if (ShapeRule rule = finder(op_type)) return rule;
  }
  return nullptr;
}

std::optional<WindowParams> window_params(const RuleInput& in, const Dims& kernel) {
  WindowParams params;
  std::size_t spatial = kernel.size();
  params.kernel = kernel;
  auto list = [&](std::string_view name, std::size_t size, std::int64_t fallback) -> std::optional<Dims> {
    const std::vector<std::int64_t>* stored = in.ints_attribute(name);
    if (!stored || stored->empty()) return Dims(size, fallback);
    if (stored->size() != size) return std::nullopt;
    return *stored;
  };
  auto strides = list("strides", spatial, 1);
  auto dilations = list("dilations", spatial, 1);
  auto pads = list("pads", 2 * spatial, 0);
  if (!strides || !dilations || !pads) return std::nullopt;
  for (std::size_t k = 0; k < spatial; ++k) {
    if ((*strides)[k] <= 0 || (*dilations)[k] <= 0 || kernel[k] <= 0) return std::nullopt;
  }
  params.strides = *strides;
  params.dilations = *dilations;
  params.pads = *pads;
  if (auto pad = in.string_attribute("auto_pad")) params.auto_pad = *pad;
  params.ceil_mode = in.int_attribute("ceil_mode", 0) != 0;
  return params;
}

// Wide arithmetic: every operand comes from the file and may be near the 64-bit limits.
std::optional<std::int64_t> window_output(std::int64_t input, std::size_t axis, const WindowParams& params) {
  WideInt stride = params.strides[axis];
  WideInt effective_kernel = (WideInt(params.kernel[axis]) - 1) * params.dilations[axis] + 1;
  WideInt result;
  if (params.auto_pad == "SAME_UPPER" || params.auto_pad == "SAME_LOWER") {
    result = (WideInt(input) + stride - 1) / stride;
  } else if (params.auto_pad == "VALID" || params.auto_pad == "NOTSET" || params.auto_pad.empty()) {
    WideInt padded = input;
    if (params.auto_pad != "VALID") padded += WideInt(params.pads[axis]) + params.pads[axis + params.kernel.size()];
    WideInt span = padded - effective_kernel;
    if (span < 0) return std::nullopt;
    result = (params.ceil_mode ? (span + stride - 1) / stride : span / stride) + 1;
  } else {
    return std::nullopt;
  }
  if (result < 0 || result > INT64_MAX) return std::nullopt;
  return static_cast<std::int64_t>(result);
}

}  // namespace tarnwick
