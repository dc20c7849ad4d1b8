// Element-wise ops: unary ones keep the shape, the others broadcast; integer arithmetic on
// small tensors is carried out so that computed shapes stay known.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

// Row-major position in `from` of the element at `flat` in the broadcast result `to`.
std::size_t broadcast_source(std::size_t flat, const Dims& to, const Dims& from) {
  std::size_t source = 0, stride = 1;
  for (std::size_t k = 0; k < to.size(); ++k) {
    std::size_t axis = to.size() - 1 - k;
    std::size_t index = flat % static_cast<std::size_t>(to[axis]);
    flat /= static_cast<std::size_t>(to[axis]);
    if (k < from.size()) {
      std::size_t from_axis = from.size() - 1 - k;
      std::size_t dim = static_cast<std::size_t>(from[from_axis]);
      source += (dim == 1 ? 0 : index) * stride;
      stride *= dim;
    }
  }
  return source;
}

enum class Arith { Add, Sub, Mul, Div, Equal, Less, Greater, Max, Min, Mod };

std::optional<std::int64_t> apply(Arith op, std::int64_t a, std::int64_t b) {
  std::int64_t result;
  switch (op) {
    case Arith::Add: return __builtin_add_overflow(a, b, &result) ? std::nullopt : std::optional(result);
    case Arith::Sub: return __builtin_sub_overflow(a, b, &result) ? std::nullopt : std::optional(result);
    case Arith::Mul: return __builtin_mul_overflow(a, b, &result) ? std::nullopt : std::optional(result);
    case Arith::Div:
      if (b == 0 || (a == INT64_MIN && b == -1)) return std::nullopt;
      return a / b;
    case Arith::Mod:
      if (b == 0 || (a == INT64_MIN && b == -1)) return std::nullopt;
      result = a % b;  // fmod=0 takes the divisor's sign
      if (result != 0 && ((result < 0) != (b < 0))) result += b;
      return result;
    case Arith::Equal: return a == b ? 1 : 0;
    case Arith::Less: return a < b ? 1 : 0;
    case Arith::Greater: return a > b ? 1 : 0;
    case Arith::Max: return std::max(a, b);
    case Arith::Min: return std::min(a, b);
  }
  return std::nullopt;
}

std::optional<std::int32_t> common_type(const RuleInput& in) {
  for (std::size_t k = 0; k < in.inputs.size(); ++k) {
    if (in.type(k)) return in.type(k);
  }
  return std::nullopt;
}

// The broadcast shape of every input, or nullopt when one is unknown or they do not broadcast.
std::optional<Dims> broadcast_inputs(const RuleInput& in, std::size_t first = 0) {
  if (in.inputs.size() <= first) return std::nullopt;
  Dims result;
  for (std::size_t k = first; k < in.inputs.size(); ++k) {
    const Dims* shape = in.shape(k);
    if (!shape) return std::nullopt;
    std::optional<Dims> joined = k == first ? std::optional(*shape) : broadcast(result, *shape);
    if (!joined) return std::nullopt;
    result = *joined;
  }
  return result;
}

Outputs broadcast_rule(const RuleInput& in, std::optional<std::int32_t> elem_type, std::optional<Arith> arith) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  std::optional<Dims> shape = broadcast_inputs(in);
  if (!shape) return outputs;
  outputs[0] = shaped(elem_type, *shape);
  if (!arith || in.inputs.size() != 2 || !in.ints(0) || !in.ints(1)) return outputs;
  std::optional<std::int64_t> count = dims_product(*shape);
  if (!count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return outputs;
  std::vector<std::int64_t> values;
  for (std::size_t flat = 0; flat < static_cast<std::size_t>(*count); ++flat) {
    std::int64_t a = (*in.ints(0))[broadcast_source(flat, *shape, *in.shape(0))];
    std::int64_t b = (*in.ints(1))[broadcast_source(flat, *shape, *in.shape(1))];
    std::optional<std::int64_t> result = apply(*arith, a, b);
    if (!result) return outputs;
    values.push_back(*result);
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

template <Arith op>
Outputs arithmetic(const RuleInput& in) {
  return broadcast_rule(in, common_type(in), op);
}

template <Arith op>
Outputs comparison(const RuleInput& in) {
  return broadcast_rule(in, kBool, op);
}

Outputs plain_broadcast(const RuleInput& in) { return broadcast_rule(in, common_type(in), std::nullopt); }
Outputs logical_broadcast(const RuleInput& in) { return broadcast_rule(in, kBool, std::nullopt); }

Outputs where_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  std::optional<Dims> shape = broadcast_inputs(in);
  if (!shape || in.inputs.size() != 3) return outputs;
  outputs[0] = shaped(in.type(1) ? in.type(1) : in.type(2), *shape);
  if (!in.ints(0) || !in.ints(1) || !in.ints(2)) return outputs;
  std::optional<std::int64_t> count = dims_product(*shape);
  if (!count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return outputs;
  std::vector<std::int64_t> values;
  for (std::size_t flat = 0; flat < static_cast<std::size_t>(*count); ++flat) {
    bool take_x = (*in.ints(0))[broadcast_source(flat, *shape, *in.shape(0))] != 0;
    std::size_t from = take_x ? 1 : 2;
    values.push_back((*in.ints(from))[broadcast_source(flat, *shape, *in.shape(from))]);
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs keep_shape(const RuleInput& in) {
  Outputs outputs = same_as_first(in);
  if (!outputs.empty()) {
    outputs[0].ints.reset();
    outputs[0].reals.reset();
  }
  return outputs;
}

Outputs keep_shape_as_bool(const RuleInput& in) {
  Outputs outputs = keep_shape(in);
  if (!outputs.empty() && outputs[0].shape) outputs[0].elem_type = kBool;
  return outputs;
}

Outputs identity_rule(const RuleInput& in) { return same_as_first(in); }

// The slope broadcasts to X (one way); before opset 7 a slope of [C] follows the channel axis.
Outputs prelu_rule(const RuleInput& in) {
  const Dims* x = in.shape(0);
  const Dims* slope = in.shape(1);
  if (!x || !slope) return Outputs(in.node.outputs.size());
  if (in.opset >= 7 && broadcast(*x, *slope) != *x) return Outputs(in.node.outputs.size());
  return keep_shape(in);
}

// Dropout: the output, and an optional boolean mask of the same shape.
Outputs dropout_rule(const RuleInput& in) {
  Outputs outputs = same_as_first(in);
  if (outputs.size() > 1 && outputs[0].shape) outputs[1] = shaped(kBool, *outputs[0].shape);
  return outputs;
}

// LayerNormalization's optional Mean and InvStdDev keep the leading dims and 1 from `axis` on.
Outputs layer_norm_rule(const RuleInput& in) {
  Outputs outputs = keep_shape(in);
  const Dims* x = in.shape(0);
  if (!x || outputs.size() < 2) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", -1), x->size());
  if (!axis) return Outputs(in.node.outputs.size());
  Dims reduced = *x;
  for (std::size_t k = *axis; k < reduced.size(); ++k) reduced[k] = 1;
  std::int32_t stash = static_cast<std::int32_t>(in.int_attribute("stash_type", kFloat));
  for (std::size_t k = 1; k < outputs.size() && k < 3; ++k) outputs[k] = shaped(stash, reduced);
  return outputs;
}

std::optional<std::int64_t> truncate_real(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

Outputs cast_to(const KnownValue& source, std::int32_t to, std::size_t output_count) {
  Outputs outputs(output_count);
  if (outputs.empty() || !source.shape) return outputs;
  outputs[0] = shaped(to, *source.shape);
  if (is_integer_type(to)) {
    if (source.ints) {
      outputs[0].ints = source.ints;
      if (to == kBool)
        for (std::int64_t& value : *outputs[0].ints) value = value != 0 ? 1 : 0;
    } else if (source.reals) {
      std::vector<std::int64_t> ints;
      for (double value : *source.reals) {
        std::optional<std::int64_t> truncated = truncate_real(value);
        if (!truncated) return outputs;
        ints.push_back(to == kBool ? *truncated != 0 : *truncated);
      }
      outputs[0].ints = std::move(ints);
    }
    // Narrow integer types would wrap; keep values only where they are representable as is.
    if (outputs[0].ints && to != kInt64 && to != kBool) {
      for (std::int64_t value : *outputs[0].ints) {
        if (value < INT32_MIN || value > INT32_MAX || (to != kInt32 && (value < -128 || value > 255))) {
          outputs[0].ints.reset();
          break;
        }
      }
    }
  } else if (to == kFloat || to == kDouble) {
    if (source.reals) outputs[0].reals = source.reals;
    if (source.ints) outputs[0].reals = std::vector<double>(source.ints->begin(), source.ints->end());
  }
  return outputs;
}

Outputs cast_rule(const RuleInput& in) {
  const OnnxAttribute* to = in.node.attribute("to");
  if (!in.input(0) || !to || !to->i) return Outputs(in.node.outputs.size());
  return cast_to(*in.input(0), static_cast<std::int32_t>(*to->i), in.node.outputs.size());
}

Outputs cast_like_rule(const RuleInput& in) {
  if (!in.input(0) || !in.type(1)) return Outputs(in.node.outputs.size());
  return cast_to(*in.input(0), *in.type(1), in.node.outputs.size());
}

struct Entry {
  std::string_view op;
  ShapeRule rule;
};

constexpr std::array kRules{
    // unary, shape and type kept
    Entry{"Relu", keep_shape}, Entry{"LeakyRelu", keep_shape}, Entry{"Sigmoid", keep_shape},
    Entry{"Tanh", keep_shape}, Entry{"Exp", keep_shape}, Entry{"Log", keep_shape}, Entry{"Sqrt", keep_shape},
    Entry{"Neg", keep_shape}, Entry{"Abs", keep_shape}, Entry{"Elu", keep_shape}, Entry{"Selu", keep_shape},
    Entry{"Celu", keep_shape}, Entry{"Softplus", keep_shape}, Entry{"Softsign", keep_shape},
    Entry{"Gelu", keep_shape}, Entry{"Erf", keep_shape}, Entry{"HardSigmoid", keep_shape},
    Entry{"HardSwish", keep_shape}, Entry{"Mish", keep_shape}, Entry{"Reciprocal", keep_shape},
    Entry{"Floor", keep_shape}, Entry{"Ceil", keep_shape}, Entry{"Round", keep_shape}, Entry{"Sign", keep_shape},
    Entry{"Sin", keep_shape}, Entry{"Cos", keep_shape}, Entry{"Tan", keep_shape}, Entry{"Not", keep_shape},
    Entry{"Clip", keep_shape}, Entry{"Shrink", keep_shape}, Entry{"ThresholdedRelu", keep_shape},
    Entry{"LRN", keep_shape}, Entry{"Softmax", keep_shape}, Entry{"LogSoftmax", keep_shape},
    Entry{"Hardmax", keep_shape}, Entry{"BatchNormalization", keep_shape},
    Entry{"InstanceNormalization", keep_shape}, Entry{"GroupNormalization", keep_shape},
    Entry{"LpNormalization", keep_shape}, Entry{"MeanVarianceNormalization", keep_shape},
    Entry{"CumSum", keep_shape}, Entry{"Trilu", keep_shape}, Entry{"IsNaN", keep_shape_as_bool},
    Entry{"IsInf", keep_shape_as_bool}, Entry{"LayerNormalization", layer_norm_rule},
    Entry{"Identity", identity_rule}, Entry{"Dropout", dropout_rule}, Entry{"Cast", cast_rule},
    Entry{"CastLike", cast_like_rule},
    // broadcasting
    Entry{"Add", arithmetic<Arith::Add>}, Entry{"Sub", arithmetic<Arith::Sub>},
    Entry{"Mul", arithmetic<Arith::Mul>}, Entry{"Div", arithmetic<Arith::Div>},
    Entry{"Mod", arithmetic<Arith::Mod>}, Entry{"Max", arithmetic<Arith::Max>},
    Entry{"Min", arithmetic<Arith::Min>}, Entry{"Pow", plain_broadcast}, Entry{"PRelu", prelu_rule},
    Entry{"Sum", plain_broadcast}, Entry{"Mean", plain_broadcast}, Entry{"BitShift", plain_broadcast},
    Entry{"Equal", comparison<Arith::Equal>}, Entry{"Less", comparison<Arith::Less>},
    Entry{"Greater", comparison<Arith::Greater>}, Entry{"LessOrEqual", logical_broadcast},
    Entry{"GreaterOrEqual", logical_broadcast}, Entry{"And", logical_broadcast}, Entry{"Or", logical_broadcast},
    Entry{"Xor", logical_broadcast}, Entry{"Where", where_rule},
};

}  // namespace

ShapeRule find_elementwise_rule(std::string_view op_type) {
  for (const Entry& entry : kRules) {
    if (entry.op == op_type) return entry.rule;
  }
  return nullptr;
}

}  // namespace tarnwick
