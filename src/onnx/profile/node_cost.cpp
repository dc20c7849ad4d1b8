#include "onnx/profile/node_cost.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "base/checked_math.h"
#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

using Count = std::optional<std::uint64_t>;

Count product(std::initializer_list<Count> factors) {
  std::uint64_t result = 1;
  for (const Count& factor : factors) {
    if (!factor) return std::nullopt;
    std::optional<std::uint64_t> next = checked_multiply(result, *factor);
    if (!next) return std::nullopt;
    result = *next;
  }
  return result;
}

Count numel(const Dims* dims) {
  if (!dims) return std::nullopt;
  std::optional<std::int64_t> count = dims_product(*dims);
  if (!count) return std::nullopt;
  return static_cast<std::uint64_t>(*count);
}

Count numel_from(const Dims* dims, std::size_t first) {
  if (!dims || dims->size() < first) return std::nullopt;
  Dims tail(dims->begin() + static_cast<std::ptrdiff_t>(first), dims->end());
  return numel(&tail);
}

Count dim_at(const Dims* dims, std::size_t k) {
  if (!dims || k >= dims->size()) return std::nullopt;
  return static_cast<std::uint64_t>((*dims)[k]);
}

bool one_of(std::string_view op, std::initializer_list<std::string_view> ops) {
  return std::find(ops.begin(), ops.end(), op) != ops.end();
}

// One op per output element.
bool is_one_op_per_element(std::string_view op) {
  return one_of(op, {"Relu", "LeakyRelu", "PRelu", "Sigmoid", "Tanh", "Exp", "Log", "Sqrt", "Neg", "Abs", "Elu", "Selu",
                     "Celu", "Softplus", "Softsign", "Gelu", "Erf", "HardSigmoid", "HardSwish", "Mish", "Reciprocal",
                     "Floor", "Ceil", "Round", "Sign", "Sin", "Cos", "Tan", "Not", "Clip", "Shrink", "ThresholdedRelu",
                     "IsNaN", "IsInf", "Add", "Sub", "Mul", "Div", "Mod", "Pow", "Max", "Min", "Sum", "Mean",
                     "BitShift", "Equal", "Less", "Greater", "LessOrEqual", "GreaterOrEqual", "And", "Or", "Xor",
                     "Where", "LRN", "Softmax", "LogSoftmax", "Hardmax", "BatchNormalization",
                     "InstanceNormalization", "LayerNormalization", "GroupNormalization", "LpNormalization",
                     "MeanVarianceNormalization", "CumSum", "Resize", "Upsample", "QuantizeLinear", "DequantizeLinear",
                     "DynamicQuantizeLinear"});
}

// Reductions read every input element once.
bool is_reduction(std::string_view op) {
  return op.substr(0, 6) == "Reduce" || one_of(op, {"ArgMax", "ArgMin", "TopK"});
}

Count einsum_macs(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs) {
  const OnnxAttribute* equation = node.attribute("equation");
  if (!equation || !equation->s || inputs.size() != 2) return std::nullopt;
  std::string left = equation->s->substr(0, equation->s->find("->"));
  std::map<char, std::uint64_t> sizes;
  std::size_t operand = 0, axis = 0;
  for (char c : left) {
    if (c == ',') {
      ++operand;
      axis = 0;
    } else if (c != ' ') {
      if (operand >= inputs.size() || !inputs[operand] || !inputs[operand]->shape) return std::nullopt;
      Count size = dim_at(&*inputs[operand]->shape, axis++);
      if (!size) return std::nullopt;
      sizes[c] = std::max(sizes[c], *size);
    }
  }
  std::uint64_t macs = 1;
  for (const auto& [letter, size] : sizes) {
    std::optional<std::uint64_t> next = checked_multiply(macs, size);
    if (!next) return std::nullopt;
    macs = *next;
  }
  return macs;
}

Count kernel_size(const OnnxGraphNode& node) {
  const OnnxAttribute* kernel = node.attribute("kernel_shape");
  if (!kernel || kernel->ints.empty()) return std::nullopt;
  return numel(&kernel->ints);
}

Count recurrent_macs(const OnnxGraphNode& node, const Dims* x, const Dims* y) {
  std::uint64_t gates = node.op_type == "LSTM" ? 4 : node.op_type == "GRU" ? 3 : 1;
  if (!x || !y || x->size() != 3 || y->size() != 4) return std::nullopt;
  const OnnxAttribute* layout = node.attribute("layout");
  bool batch_first = layout && layout->i && *layout->i != 0;
  Count seq = dim_at(x, batch_first ? 1 : 0), batch = dim_at(x, batch_first ? 0 : 1), input = dim_at(x, 2);
  Count dirs = dim_at(y, batch_first ? 2 : 1), hidden = dim_at(y, 3);
  if (!input || !hidden) return std::nullopt;
  return product({gates, checked_add(*input, *hidden), hidden, seq, batch, dirs});
}

bool is_dense(std::string_view op) {
  return one_of(op, {"MatMul", "MatMulInteger", "QLinearMatMul", "Gemm", "Conv", "ConvInteger", "QLinearConv",
                     "ConvTranspose", "LSTM", "GRU", "RNN", "Einsum", "MaxPool", "AveragePool", "LpPool",
                     "GlobalAveragePool", "GlobalMaxPool", "GlobalLpPool"});
}

}  // namespace

bool costs_nothing(const OnnxGraphNode& node) {
  const std::string& op = node.op_type;
  bool default_domain = node.domain.empty() || node.domain == "ai.onnx";
  if (!default_domain || one_of(op, {"If", "Loop", "Scan"}) || !find_shape_rule(op)) return false;
  return !is_dense(op) && !is_reduction(op) && !is_one_op_per_element(op) && op != "NonZero";
}

NodeCost node_cost(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs,
                   const std::vector<KnownValue>& outputs) {
  auto shape_in = [&](std::size_t k) -> const Dims* {
    return k < inputs.size() && inputs[k] && inputs[k]->shape ? &*inputs[k]->shape : nullptr;
  };
  const Dims* y = !outputs.empty() && outputs[0].shape ? &*outputs[0].shape : nullptr;
  const std::string& op = node.op_type;
  NodeCost cost;
  if (op == "MatMul" || op == "MatMulInteger" || op == "QLinearMatMul") {
    const Dims* a = shape_in(0);
    cost.macs = product({numel(y), a && !a->empty() ? dim_at(a, a->size() - 1) : std::nullopt});
    cost.other_ops = 0;
  } else if (op == "Gemm") {
    const OnnxAttribute* trans = node.attribute("transA");
    bool trans_a = trans && trans->i && *trans->i != 0;
    cost.macs = product({numel(y), dim_at(shape_in(0), trans_a ? 0 : 1)});
    bool has_bias = node.inputs.size() > 2 && !node.inputs[2].empty();
    cost.other_ops = has_bias ? numel(y) : Count(0);  // the bias add
  } else if (op == "Conv" || op == "ConvInteger" || op == "QLinearConv") {
    cost.macs = product({numel(y), numel_from(shape_in(op == "QLinearConv" ? 3 : 1), 1)});
    cost.other_ops = 0;
  } else if (op == "ConvTranspose") {
    cost.macs = y ? product({numel(shape_in(0)), numel_from(shape_in(1), 1)}) : std::nullopt;
    cost.other_ops = 0;
  } else if (op == "LSTM" || op == "GRU" || op == "RNN") {
    cost.macs = recurrent_macs(node, shape_in(0), y);
    cost.other_ops = 0;
  } else if (op == "Einsum") {
    cost.macs = y ? einsum_macs(node, inputs) : std::nullopt;
    cost.other_ops = 0;
  } else if (op == "MaxPool" || op == "AveragePool" || op == "LpPool") {
    cost.macs = 0;
    cost.other_ops = product({numel(y), kernel_size(node)});
  } else if (op == "GlobalAveragePool" || op == "GlobalMaxPool" || op == "GlobalLpPool") {
    cost.macs = 0;
    cost.other_ops = y ? numel(shape_in(0)) : std::nullopt;
  } else if (op == "NonZero") {  // reads every element; how many it finds depends on the data
    cost.macs = 0;
    cost.other_ops = numel(shape_in(0));
  } else if (is_reduction(op)) {
    cost.macs = 0;
    cost.other_ops = y ? numel(shape_in(0)) : std::nullopt;
  } else if (is_one_op_per_element(op)) {
    cost.macs = 0;
    cost.other_ops = numel(y);
  } else {
    bool all_known = !outputs.empty();
    for (const KnownValue& output : outputs) all_known = all_known && (output.shape || output.is_sequence);
    if (all_known) {
      cost.macs = 0;
      cost.other_ops = 0;
    }
  }
  if (!cost.macs || !cost.other_ops) return NodeCost{};
  return cost;
}

}  // namespace tarnwick
