// Shape validation of a loaded plan and the per-layer facts every tensor-lab report prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "model/model.h"

namespace tarnwick {

struct TextBlock {
  std::string title;
  std::vector<std::string> lines;
  std::size_t position = 0;  // 1-based layer position
};

struct QuizQuestion {
  std::string title;
  std::vector<std::string> prompt;
  std::string answer;  // the output shape text
  std::string reason;
};

struct AttentionCost {
  std::string layer;
  std::uint64_t total = 0, q_projection = 0, k_projection = 0, v_projection = 0, scores = 0, value_mix = 0;
  std::uint64_t tokens = 0, head_dim = 0, value_dim = 0;
};

struct TensorFact {
  std::string label;
  std::string shape;
  std::uint64_t bytes = 0;
};

struct OpFact {
  std::string label;
  std::uint64_t ops = 0;
};

struct LayerCost {
  std::string label;
  std::uint64_t ops = 0;
  std::uint64_t bytes = 0;
};

struct ModelAnalysis {
  std::uint64_t total_params = 0;
  std::uint64_t param_bytes = 0;
  std::uint64_t peak_activation_bytes = 0;
  std::uint64_t total_ops = 0;
  std::vector<std::string> path;
  std::vector<std::pair<std::string, std::string>> shape_flow;
  std::vector<TensorFact> tensors;
  std::vector<OpFact> ops;
  std::vector<LayerCost> layer_costs;
  std::vector<TextBlock> explanations;
  std::vector<TextBlock> walkthrough;
  std::vector<QuizQuestion> quiz;
  std::vector<AttentionCost> attention_costs;
};

// The analysis, or the first failing layer's "Validation failed" report as the message.
Result<ModelAnalysis> analyze_model(const Model& model);

}  // namespace tarnwick
