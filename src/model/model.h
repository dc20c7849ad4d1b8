// A loaded tensor-lab plan: an input tensor and layers whose parameters are all tensors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/status.h"
#include "tensor/tensor.h"

namespace tarnwick {

// Sizes and counts in the plan reports, as unsigned decimals.
inline std::string count_text(std::uint64_t value) { return std::to_string(value); }

struct LinearLayer {
  Tensor weights;  // [in_features, out_features]
  Tensor bias;     // [out_features]
};

struct AttentionLayer {
  Tensor wq, wk, wv;  // [features, head_dim], [features, head_dim], [features, value_dim]
};

struct ReluLayer {};
struct GeluLayer {};
struct SoftmaxLayer {};

using LayerKind = std::variant<LinearLayer, AttentionLayer, ReluLayer, GeluLayer, SoftmaxLayer>;

struct Layer {
  std::string name;
  std::optional<std::string> explain;
  LayerKind kind;
};

struct Model {
  std::string name = "model";
  std::optional<std::string> description;
  Tensor input;
  std::vector<Layer> layers;
  std::optional<std::vector<std::string>> labels;
};

// The layer's report lines, with its author's note first (behind `prefix`) when it has one.
inline std::vector<std::string> with_note(const Layer& layer, const char* prefix, std::vector<std::string> lines) {
  if (layer.explain) lines.insert(lines.begin(), prefix + *layer.explain);
  return lines;
}

// Reads and resolves a plan; every failure is one message ("read {}: {}", "parse {}: {}", ...).
Result<Model> load_model(const std::string& path);
// The same from plan text; `path` names the file in messages.
Result<Model> load_model_text(const std::string& path, std::string_view text);

}  // namespace tarnwick
