#include "onnx/onnx_architecture.h"

#include <map>

namespace tarnwick {

std::uint64_t count_of(const OnnxSummary& summary, std::string_view op_type) {
  for (const auto& [op, count] : summary.op_counts) {
    if (op == op_type) return count;
  }
  return 0;
}

std::set<std::string> operator_types(const OnnxSummary& summary) {
  std::set<std::string> types;
  for (const auto& [op, count] : summary.op_counts) types.insert(op);
  return types;
}

std::optional<std::uint64_t> estimate_attention_layers(const OnnxSummary& summary) {
  std::uint64_t attention = count_of(summary, "Attention");
  std::uint64_t softmax = count_of(summary, "Softmax");
  std::uint64_t layer_norms = count_of(summary, "LayerNormalization");
  if (attention > 0) return attention;
  if (softmax > 0) return softmax;
  if (layer_norms >= 2) return layer_norms / 2;
  return std::nullopt;
}

std::optional<std::uint64_t> estimate_hidden_size(const OnnxSummary& summary) {
  std::map<std::uint64_t, std::uint64_t> counts;
  for (const OnnxInitializer& initializer : summary.initializers) {
    if (initializer.dims.size() < 2) continue;
    for (std::uint64_t dim : initializer.dims) {
      if (dim >= 2 && dim <= 8192) ++counts[dim];
    }
  }
  std::optional<std::uint64_t> best;
  std::uint64_t best_count = 0;
  for (const auto& [dim, count] : counts) {  // ascending, so ">=" lets the larger value win ties
    if (count >= best_count) {
      best = dim;
      best_count = count;
    }
  }
  return best;
}

}  // namespace tarnwick
