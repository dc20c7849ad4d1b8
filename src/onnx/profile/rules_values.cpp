// Ops whose outputs are values computed from shapes or attributes: Shape, Size, Constant,
// ConstantOfShape, Range.
#include <algorithm>
#include <array>
#include <cmath>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {


KnownValue known_tensor(const OnnxTensor& tensor) {
  KnownValue value;
  value.elem_type = tensor.data_type;
  for (std::int64_t dim : tensor.dims)
    if (dim < 0) return value;
  value.shape = tensor.dims;
  if (is_integer_type(tensor.data_type)) {
    value.ints = tensor_int_values(tensor, kMaxTrackedValues);
  } else if (tensor.data_type == kFloat || tensor.data_type == kDouble) {
    value.reals = tensor_real_values(tensor, kMaxTrackedValues);
  }
  return value;
}

namespace {

Outputs shape_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  auto rank = static_cast<std::int64_t>(x->size());
  std::int64_t start = in.opset >= 15 ? in.int_attribute("start", 0) : 0;
  std::int64_t end = in.opset >= 15 ? in.int_attribute("end", rank) : rank;
  if (start < 0) start += rank;
  if (end < 0) end += rank;
  start = std::clamp<std::int64_t>(start, 0, rank);
  end = std::clamp<std::int64_t>(end, 0, rank);
  std::vector<std::int64_t> dims;
  for (std::int64_t k = start; k < end; ++k) dims.push_back((*x)[static_cast<std::size_t>(k)]);
  outputs[0] = int_vector(dims);
  return outputs;
}

Outputs size_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::int64_t> count = dims_product(*x);
  if (!count) return outputs;
  outputs[0] = int_tensor(Dims{}, {*count});
  return outputs;
}

Outputs constant_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty() || in.node.attributes.size() != 1) return outputs;
  const OnnxAttribute& attribute = in.node.attributes[0];
  if (attribute.name == "value" && attribute.t) {
    outputs[0] = known_tensor(*attribute.t);
  } else if (attribute.name == "value_int" && attribute.i) {
    outputs[0] = int_tensor(Dims{}, {*attribute.i});
  } else if (attribute.name == "value_ints") {
    outputs[0] = int_vector(attribute.ints);
  } else if (attribute.name == "value_float" && attribute.f) {
    outputs[0] = shaped(kFloat, Dims{});
    outputs[0].reals = std::vector<double>{*attribute.f};
  } else if (attribute.name == "value_floats") {
    outputs[0] = shaped(kFloat, Dims{static_cast<std::int64_t>(attribute.floats.size())});
    if (attribute.floats.size() <= kMaxTrackedValues)
      outputs[0].reals = std::vector<double>(attribute.floats.begin(), attribute.floats.end());
  }
  return outputs;
}

Outputs constant_of_shape_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const std::vector<std::int64_t>* dims = in.ints(0);
  if (outputs.empty() || !dims) return outputs;
  for (std::int64_t dim : *dims)
    if (dim < 0) return outputs;
  const OnnxAttribute* value = in.node.attribute("value");
  KnownValue fill = value && value->t ? known_tensor(*value->t) : KnownValue{};
  std::optional<std::int32_t> elem_type = value && value->t ? value->t->data_type : std::optional<std::int32_t>(kFloat);
  outputs[0] = shaped(elem_type, *dims);
  std::optional<std::int64_t> count = dims_product(*dims);
  if (count && static_cast<std::size_t>(*count) <= kMaxTrackedValues) {
    if (fill.ints && fill.ints->size() == 1) {
      outputs[0].ints = std::vector<std::int64_t>(static_cast<std::size_t>(*count), (*fill.ints)[0]);
    } else if (fill.reals && fill.reals->size() == 1) {
      outputs[0].reals = std::vector<double>(static_cast<std::size_t>(*count), (*fill.reals)[0]);
    } else if (!value) {
      outputs[0].reals = std::vector<double>(static_cast<std::size_t>(*count), 0.0);
    }
  }
  return outputs;
}

std::optional<double> scalar_of(const RuleInput& in, std::size_t k) {
  const KnownValue* value = in.input(k);
  if (!value) return std::nullopt;
  if (value->ints && value->ints->size() == 1) return static_cast<double>((*value->ints)[0]);
  if (value->reals && value->reals->size() == 1) return (*value->reals)[0];
  return std::nullopt;
}

Outputs range_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  std::optional<double> start = scalar_of(in, 0), limit = scalar_of(in, 1), delta = scalar_of(in, 2);
  if (outputs.empty() || !start || !limit || !delta || *delta == 0) return outputs;
  double steps = std::ceil((*limit - *start) / *delta);
  if (!(steps < 9.0e18)) return outputs;
  auto count = static_cast<std::int64_t>(std::max(0.0, steps));
  outputs[0] = shaped(in.type(0), Dims{count});
  if (in.ints(0) && in.ints(1) && in.ints(2) && static_cast<std::size_t>(count) <= kMaxTrackedValues) {
    std::vector<std::int64_t> values;
    for (std::int64_t k = 0; k < count; ++k) values.push_back((*in.ints(0))[0] + k * (*in.ints(2))[0]);
    outputs[0].ints = std::move(values);
  }
  return outputs;
}

constexpr std::array kValueRules{
    RuleEntry{"Shape", shape_rule},
    RuleEntry{"Size", size_rule},
    RuleEntry{"Constant", constant_rule},
    RuleEntry{"ConstantOfShape", constant_of_shape_rule},
    RuleEntry{"Range", range_rule},
};

}  // namespace

ShapeRule find_value_rule(std::string_view op_type) { return find_rule_in(kValueRules, op_type); }

}  // namespace tarnwick
