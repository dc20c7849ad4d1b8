// The declarative plan as written in JSON, read with strict types and field names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/plan_json.h"
#include "tensor/tensor.h"

namespace tarnwick {

struct TensorSpec {
  Shape shape;
  std::vector<float> data;
};

enum class LayerType { Linear, SelfAttention, Relu, Gelu, Softmax };

struct LayerSpec {
  LayerType type = LayerType::Relu;
  std::optional<std::string> name, explain;
  std::optional<TensorSpec> weights, bias, wq, wk, wv;
  std::optional<std::uint64_t> in, out, out_features, tokens, features, head_dim, value_dim;
};

struct ModelSpec {
  std::optional<std::string> name, description;
  std::optional<TensorSpec> input;
  std::optional<Shape> input_shape;
  std::vector<LayerSpec> layers;
  std::optional<std::vector<std::string>> labels;
};

// Messages end with the line and column of the offending value.
Result<ModelSpec> read_model_spec(const PlanValue& root);

}  // namespace tarnwick
