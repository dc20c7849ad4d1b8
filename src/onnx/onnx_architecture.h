// Static architecture heuristics over an ONNX summary, shared by explain and explain-diff.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "onnx/onnx_summary.h"

namespace tarnwick {

std::uint64_t count_of(const OnnxSummary& summary, std::string_view op_type);
// The distinct operator types of the graph, in byte order.
std::set<std::string> operator_types(const OnnxSummary& summary);
// Attention nodes, else Softmax nodes, else LayerNormalization nodes / 2 (known from 2 up).
std::optional<std::uint64_t> estimate_attention_layers(const OnnxSummary& summary);
// The most common weight dimension between 2 and 8192 over initializers of rank 2 or more.
std::optional<std::uint64_t> estimate_hidden_size(const OnnxSummary& summary);

}  // namespace tarnwick
