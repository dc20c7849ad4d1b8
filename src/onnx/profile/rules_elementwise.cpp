// Element-wise ops: unary ones keep the shape, the others broadcast; integer arithmetic on
// small tensors is carried out so that computed shapes stay known.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

enum class Arith { Add, Sub, Mul, Div, Equal, Less, Greater, LessOrEqual, GreaterOrEqual, Max, Min, Mod, And, Or, Xor };

std::optional<std::int64_t> apply(Arith op, std::int64_t a, std::int64_t b, bool fmod) {
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
      result = a % b;  // fmod=1 keeps the dividend's sign, fmod=0 takes the divisor's
      if (!fmod && result != 0 && ((result < 0) != (b < 0))) result += b;
      return result;
    case Arith::Equal: return a == b;
    case Arith::Less: return a < b;
    case Arith::Greater: return a > b;
    case Arith::LessOrEqual: return a <= b;
    case Arith::GreaterOrEqual: return a >= b;
    case Arith::Max: return std::max(a, b);
    case Arith::Min: return std::min(a, b);
    case Arith::And: return a != 0 && b != 0;
    case Arith::Or: return a != 0 || b != 0;
    case Arith::Xor: return (a != 0) != (b != 0);
  }
  return std::nullopt;
}

std::optional<double> apply(Arith op, double a, double b, bool fmod) {
  switch (op) {
    case Arith::Add: return a + b;
    case Arith::Sub: return a - b;
    case Arith::Mul: return a * b;
    case Arith::Div: return b == 0 ? std::nullopt : std::optional(a / b);
    case Arith::Mod: {
      if (b == 0) return std::nullopt;
      double result = std::fmod(a, b);
      if (!fmod && result != 0 && ((result < 0) != (b < 0))) result += b;
      return result;
    }
    case Arith::Equal: return a == b;
    case Arith::Less: return a < b;
    case Arith::Greater: return a > b;
    case Arith::LessOrEqual: return a <= b;
    case Arith::GreaterOrEqual: return a >= b;
    case Arith::Max: return std::max(a, b);
    case Arith::Min: return std::min(a, b);
    case Arith::And: return a != 0 && b != 0;
    case Arith::Or: return a != 0 || b != 0;
    case Arith::Xor: return (a != 0) != (b != 0);
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

double real_at(const KnownValue& value, std::size_t k) {
  return value.ints ? static_cast<double>((*value.ints)[k]) : (*value.reals)[k];
}

// Folds the inputs' values left to right, element by element: on integers when every input
// carries integers, else on reals when every input carries numbers.
void fold_values(const RuleInput& in, Arith op, bool to_bool, KnownValue& result) {
  if (in.inputs.empty() || !result.shape) return;
  std::optional<std::size_t> count = trackable_count(*result.shape);
  if (!count) return;
  bool all_ints = true;
  for (std::size_t k = 0; k < in.inputs.size(); ++k) {
    const KnownValue* value = in.input(k);
    if (!value || !value->shape || (!value->ints && !value->reals)) return;
    all_ints = all_ints && value->ints;
  }
  bool fmod = in.int_attribute("fmod", 0) != 0;
  const Dims& shape = *result.shape;
  if (all_ints) {
    std::vector<std::int64_t> values;
    for (std::size_t flat = 0; flat < *count; ++flat) {
      std::int64_t acc = (*in.ints(0))[broadcast_source(flat, shape, *in.shape(0))];
      for (std::size_t k = 1; k < in.inputs.size(); ++k) {
        std::optional<std::int64_t> next = apply(op, acc, (*in.ints(k))[broadcast_source(flat, shape, *in.shape(k))], fmod);
        if (!next) return;
        acc = *next;
      }
      values.push_back(acc);
    }
    result.ints = std::move(values);
    return;
  }
  std::vector<double> values;
  for (std::size_t flat = 0; flat < *count; ++flat) {
    double acc = real_at(*in.input(0), broadcast_source(flat, shape, *in.shape(0)));
    for (std::size_t k = 1; k < in.inputs.size(); ++k) {
      std::optional<double> next = apply(op, acc, real_at(*in.input(k), broadcast_source(flat, shape, *in.shape(k))), fmod);
      if (!next) return;
      acc = *next;
    }
    values.push_back(acc);
  }
  if (to_bool) {
    result.ints = std::vector<std::int64_t>(values.begin(), values.end());
  } else if (!is_integer_type(result.elem_type)) {
    result.reals = std::move(values);
  }
}

Outputs broadcast_rule(const RuleInput& in, std::optional<std::int32_t> elem_type, std::optional<Arith> arith) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  std::optional<Dims> shape = broadcast_inputs(in);
  if (!shape) return outputs;
  outputs[0] = shaped(elem_type, *shape);
  if (arith) fold_values(in, *arith, elem_type == kBool, outputs[0]);
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

// Sum and Mean: Mean's values are not carried (a division of the folded sum).
Outputs sum_rule(const RuleInput& in) { return broadcast_rule(in, common_type(in), Arith::Add); }

Outputs where_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  std::optional<Dims> shape = broadcast_inputs(in);
  if (!shape || in.inputs.size() != 3) return outputs;
  outputs[0] = shaped(in.type(1) ? in.type(1) : in.type(2), *shape);
  std::optional<std::size_t> count = trackable_count(*shape);
  if (!in.ints(0) || !count) return outputs;
  const KnownValue* x = in.input(1);
  const KnownValue* y = in.input(2);
  bool ints = x->ints && y->ints;
  bool reals = (x->ints || x->reals) && (y->ints || y->reals);
  if (!ints && !reals) return outputs;
  std::vector<std::int64_t> int_values;
  std::vector<double> real_values;
  for (std::size_t flat = 0; flat < *count; ++flat) {
    bool take_x = (*in.ints(0))[broadcast_source(flat, *shape, *in.shape(0))] != 0;
    std::size_t from = take_x ? 1 : 2;
    std::size_t source = broadcast_source(flat, *shape, *in.shape(from));
    if (ints) {
      int_values.push_back((*in.ints(from))[source]);
    } else {
      real_values.push_back(real_at(*in.input(from), source));
    }
  }
  if (ints) {
    outputs[0].ints = std::move(int_values);
  } else {
    outputs[0].reals = std::move(real_values);
  }
  return outputs;
}

enum class Unary { Neg, Abs, Not, Sign, Floor, Ceil, Round, Relu, Sqrt, Reciprocal };

std::optional<std::int64_t> apply(Unary op, std::int64_t x) {
  switch (op) {
    case Unary::Neg: return x == INT64_MIN ? std::nullopt : std::optional(-x);
    case Unary::Abs: return x == INT64_MIN ? std::nullopt : std::optional(x < 0 ? -x : x);
    case Unary::Not: return x == 0;
    case Unary::Sign: return (x > 0) - (x < 0);
    case Unary::Floor: case Unary::Ceil: case Unary::Round: return x;
    case Unary::Relu: return std::max<std::int64_t>(x, 0);
    case Unary::Sqrt: case Unary::Reciprocal: return std::nullopt;
  }
  return std::nullopt;
}

double apply(Unary op, double x) {
  switch (op) {
    case Unary::Neg: return -x;
    case Unary::Abs: return std::fabs(x);
    case Unary::Not: return x == 0;
    case Unary::Sign: return (x > 0) - (x < 0);
    case Unary::Floor: return std::floor(x);
    case Unary::Ceil: return std::ceil(x);
    case Unary::Round: return std::nearbyint(x);  // halves to even
    case Unary::Relu: return std::max(x, 0.0);
    case Unary::Sqrt: return std::sqrt(x);
    case Unary::Reciprocal: return 1.0 / x;
  }
  return x;
}

// A unary op that keeps the shape and type, carrying the values it can compute.
template <Unary op>
Outputs unary(const RuleInput& in) {
  Outputs outputs = same_as_first(in);
  if (outputs.empty()) return outputs;
  KnownValue& result = outputs[0];
  if (op == Unary::Not && result.shape) result.elem_type = kBool;
  if (result.ints) {
    for (std::int64_t& value : *result.ints) {
      std::optional<std::int64_t> next = apply(op, value);
      if (!next) {
        result.ints.reset();
        break;
      }
      value = *next;
    }
  }
  if (result.reals) {
    for (double& value : *result.reals) value = apply(op, value);
  }
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

constexpr std::array kElementwiseRules{
    // unary, shape and type kept
    RuleEntry{"Relu", unary<Unary::Relu>}, RuleEntry{"LeakyRelu", keep_shape}, RuleEntry{"Sigmoid", keep_shape},
    RuleEntry{"Tanh", keep_shape}, RuleEntry{"Exp", keep_shape}, RuleEntry{"Log", keep_shape},
    RuleEntry{"Sqrt", unary<Unary::Sqrt>}, RuleEntry{"Neg", unary<Unary::Neg>}, RuleEntry{"Abs", unary<Unary::Abs>},
    RuleEntry{"Elu", keep_shape}, RuleEntry{"Selu", keep_shape},
    RuleEntry{"Celu", keep_shape}, RuleEntry{"Softplus", keep_shape}, RuleEntry{"Softsign", keep_shape},
    RuleEntry{"Gelu", keep_shape}, RuleEntry{"Erf", keep_shape}, RuleEntry{"HardSigmoid", keep_shape},
    RuleEntry{"HardSwish", keep_shape}, RuleEntry{"Mish", keep_shape},
    RuleEntry{"Reciprocal", unary<Unary::Reciprocal>}, RuleEntry{"Floor", unary<Unary::Floor>},
    RuleEntry{"Ceil", unary<Unary::Ceil>}, RuleEntry{"Round", unary<Unary::Round>},
    RuleEntry{"Sign", unary<Unary::Sign>},
    RuleEntry{"Sin", keep_shape}, RuleEntry{"Cos", keep_shape}, RuleEntry{"Tan", keep_shape},
    RuleEntry{"Not", unary<Unary::Not>},
    RuleEntry{"Clip", keep_shape}, RuleEntry{"Shrink", keep_shape}, RuleEntry{"ThresholdedRelu", keep_shape},
    RuleEntry{"LRN", keep_shape}, RuleEntry{"Softmax", keep_shape}, RuleEntry{"LogSoftmax", keep_shape},
    RuleEntry{"Hardmax", keep_shape}, RuleEntry{"BatchNormalization", keep_shape},
    RuleEntry{"InstanceNormalization", keep_shape}, RuleEntry{"GroupNormalization", keep_shape},
    RuleEntry{"LpNormalization", keep_shape}, RuleEntry{"MeanVarianceNormalization", keep_shape},
    RuleEntry{"CumSum", keep_shape}, RuleEntry{"Trilu", keep_shape}, RuleEntry{"IsNaN", keep_shape_as_bool},
    RuleEntry{"IsInf", keep_shape_as_bool}, RuleEntry{"LayerNormalization", layer_norm_rule},
    RuleEntry{"Identity", identity_rule}, RuleEntry{"Dropout", dropout_rule}, RuleEntry{"Cast", cast_rule},
    RuleEntry{"CastLike", cast_like_rule},
    // broadcasting
    RuleEntry{"Add", arithmetic<Arith::Add>}, RuleEntry{"Sub", arithmetic<Arith::Sub>},
    RuleEntry{"Mul", arithmetic<Arith::Mul>}, RuleEntry{"Div", arithmetic<Arith::Div>},
    RuleEntry{"Mod", arithmetic<Arith::Mod>}, RuleEntry{"Max", arithmetic<Arith::Max>},
    RuleEntry{"Min", arithmetic<Arith::Min>}, RuleEntry{"Pow", plain_broadcast}, RuleEntry{"PRelu", prelu_rule},
    RuleEntry{"Sum", sum_rule}, RuleEntry{"Mean", plain_broadcast}, RuleEntry{"BitShift", plain_broadcast},
    RuleEntry{"Equal", comparison<Arith::Equal>}, RuleEntry{"Less", comparison<Arith::Less>},
    RuleEntry{"Greater", comparison<Arith::Greater>}, RuleEntry{"LessOrEqual", comparison<Arith::LessOrEqual>},
    RuleEntry{"GreaterOrEqual", comparison<Arith::GreaterOrEqual>}, RuleEntry{"And", comparison<Arith::And>},
    RuleEntry{"Or", comparison<Arith::Or>}, RuleEntry{"Xor", comparison<Arith::Xor>}, RuleEntry{"Where", where_rule},
};

}  // namespace

ShapeRule find_elementwise_rule(std::string_view op_type) { return find_rule_in(kElementwiseRules, op_type); }

}  // namespace tarnwick
