#include <array>

#include "base/checked_math.h"
#include "onnx/onnx_summary.h"

namespace tarnwick {

namespace {

struct DataType {
  const char* name;
  std::uint64_t size;
};

DataType data_type(std::optional<std::int32_t> code) {
  static constexpr std::array<DataType, 17> kTable = {{
      {"unknown", 4},
      {"float32", 4},
      {"uint8", 1},
      {"int8", 1},
      {"uint16", 2},
      {"int16", 2},
      {"int32", 4},
      {"int64", 8},
      {"unknown", 4},
      {"bool", 1},
      {"float16", 2},
      {"float64", 8},
      {"uint32", 4},
      {"uint64", 8},
      {"unknown", 4},
      {"unknown", 4},
      {"bfloat16", 2},
  }};
  if (!code || *code < 0 || *code >= static_cast<std::int32_t>(kTable.size())) return kTable[0];
  return kTable[static_cast<std::size_t>(*code)];
}

using DimSizes = std::vector<std::uint64_t>;

const DimSizes* shape_of(const std::vector<std::string>& names, std::size_t position, const ShapeMap& shapes) {
  if (position >= names.size()) return nullptr;
  auto found = shapes.find(names[position]);
  return found == shapes.end() ? nullptr : &found->second;
}

std::optional<std::uint64_t> guarded_product(std::initializer_list<std::uint64_t> factors) {
  std::optional<std::uint64_t> product = 1;
  for (std::uint64_t factor : factors) {
    product = checked_multiply(*product, factor);
    if (!product) return std::nullopt;
  }
  return product;
}

std::uint64_t wrapping_product(DimSizes::const_iterator begin, DimSizes::const_iterator end) {
  std::uint64_t product = 1;
  for (auto it = begin; it != end; ++it) product *= *it;
  return product;
}

std::optional<std::uint64_t> matmul_ops(const DimSizes& a, const DimSizes& b) {
  if (a.size() < 2 || b.size() < 2) return std::nullopt;
  std::uint64_t k = a[a.size() - 1], m = a[a.size() - 2];
  std::uint64_t n = b[b.size() - 1];
  if (k != b[b.size() - 2]) return std::nullopt;
  std::size_t batch_a = a.size() - 2, batch_b = b.size() - 2;
  std::optional<std::uint64_t> batch = 1;
  for (std::size_t from_right = 0; from_right < std::max(batch_a, batch_b); ++from_right) {
    std::uint64_t da = from_right < batch_a ? a[batch_a - 1 - from_right] : 1;
    std::uint64_t db = from_right < batch_b ? b[batch_b - 1 - from_right] : 1;
    std::uint64_t dim;
    if (da == db || db == 1) {
      dim = da;
    } else if (da == 1) {
      dim = db;
    } else {
      return std::nullopt;
    }
    batch = checked_multiply(*batch, dim);
    if (!batch) return std::nullopt;
  }
  return guarded_product({2, *batch, m, n, k});
}

std::optional<std::uint64_t> gemm_ops(const OnnxNode& node, const DimSizes& a, const DimSizes& b) {
  if (a.size() != 2 || b.size() != 2) return std::nullopt;
  auto flag = [&](const char* name) {
    auto found = node.int_attributes.find(name);
    return found != node.int_attributes.end() && found->second != 0;
  };
  bool trans_a = flag("transA"), trans_b = flag("transB");
  std::uint64_t m = trans_a ? a[1] : a[0], k = trans_a ? a[0] : a[1];
  std::uint64_t k2 = trans_b ? b[1] : b[0], n = trans_b ? b[0] : b[1];
  if (k != k2) return std::nullopt;
  return guarded_product({2, m, n, k});
}

std::optional<std::uint64_t> conv_ops(const DimSizes& w, const DimSizes& y) {
  if (w.size() < 3 || y.size() < 3) return std::nullopt;
  std::uint64_t output_spatial = wrapping_product(y.begin() + 2, y.end());
  std::uint64_t kernel_spatial = wrapping_product(w.begin() + 2, w.end());
  return guarded_product({2, y[0], y[1], output_spatial, w[1], kernel_spatial});
}

bool is_elementwise(const std::string& op) {
  static const std::array<const char*, 11> kOps = {"Add",
                                                   "Sub",
                                                   "Mul",
                                                   "Div",
                                                   "Relu",
                                                   "Gelu",
                                                   "Tanh",
                                                   "Sigmoid",
                                                   "Softmax",
                                                   "BatchNormalization",
                                                   "LayerNormalization"};
  for (const char* candidate : kOps) {
    if (op == candidate) return true;
  }
  return false;
}

}  // namespace

bool has_cost_formula(const std::string& op_type) {
  return op_type == "MatMul" || op_type == "Gemm" || op_type == "Conv" || is_elementwise(op_type);
}

std::optional<std::uint64_t> estimate_node_ops(const OnnxNode& node, const ShapeMap& shapes, EstimateMemo* memo) {
  // Looks the shapes' estimate up in the memo, working it out (and counting the dimensions
  // visited) only the first time.
  auto remembered = [&](int formula, const DimSizes* first, const DimSizes* second, auto compute) {
    if (memo == nullptr) return compute();
    auto key = std::make_tuple(formula, static_cast<const void*>(first), static_cast<const void*>(second));
    auto found = memo->known.find(key);
    if (found != memo->known.end()) return found->second;
    memo->dimension_steps += first->size() + (second != nullptr ? second->size() : 0);
    return memo->known.emplace(key, compute()).first->second;
  };
  const std::string& op = node.op_type;
  if (op == "MatMul" || op == "Gemm") {
    const DimSizes* a = shape_of(node.inputs, 0, shapes);
    if (a == nullptr || node.inputs.size() < 2) return std::nullopt;
    const DimSizes* b = shape_of(node.inputs, 1, shapes);
    if (b == nullptr) return std::nullopt;
    if (op == "Gemm") return gemm_ops(node, *a, *b);
    return remembered(1, a, b, [&] { return matmul_ops(*a, *b); });
  }
  if (op == "Conv") {
    if (node.inputs.size() < 2 || node.outputs.empty()) return std::nullopt;
    const DimSizes* w = shape_of(node.inputs, 1, shapes);
    const DimSizes* y = shape_of(node.outputs, 0, shapes);
    if (w == nullptr || y == nullptr) return std::nullopt;
    return remembered(2, w, y, [&] { return conv_ops(*w, *y); });
  }
  if (is_elementwise(op)) {
    const DimSizes* y = shape_of(node.outputs, 0, shapes);
    if (y == nullptr) return std::nullopt;
    return remembered(3, y, nullptr,
                      [&] { return std::optional<std::uint64_t>(wrapping_product(y->begin(), y->end())); });
  }
  return std::nullopt;
}

bool cost_shapes_known(const OnnxNode& node, const ShapeMap& shapes) {
  auto known = [&](const std::vector<std::string>& names, std::size_t position) {
    return position >= names.size() || shapes.count(names[position]) != 0;
  };
  const std::string& op = node.op_type;
  if (op == "MatMul" || op == "Gemm") return known(node.inputs, 0) && known(node.inputs, 1);
  if (op == "Conv") return known(node.inputs, 1) && known(node.outputs, 0);
  if (is_elementwise(op)) return known(node.outputs, 0);
  return true;
}

std::string opset_label(const OpsetImport& opset) {
  std::string domain = opset.domain.empty() ? "ai.onnx" : opset.domain;
  return domain + "=" + (opset.version ? std::to_string(*opset.version) : "?");
}

std::string data_type_name(std::optional<std::int32_t> code) { return data_type(code).name; }
std::uint64_t data_type_size(std::optional<std::int32_t> code) { return data_type(code).size; }

std::uint64_t element_count(const OnnxInitializer& initializer) {
  std::uint64_t product = 1;
  for (std::uint64_t dim : initializer.dims) product *= dim;
  return product;
}

std::uint64_t estimated_bytes(const OnnxInitializer& initializer) {
  return element_count(initializer) * data_type_size(initializer.data_type);
}

bool is_external(const OnnxInitializer& initializer) {
  return initializer.external_data_entries > 0 || initializer.data_location == 1;
}

}  // namespace tarnwick
