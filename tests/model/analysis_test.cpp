#include "model/analysis.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

ModelAnalysis analyse(const std::string& plan) {
  Result<Model> model = load_model_text("plan.json", plan);
  EXPECT_TRUE(model.is_ok()) << model.message();
  Result<ModelAnalysis> analysis = analyze_model(model.value());
  EXPECT_TRUE(analysis.is_ok()) << analysis.message();
  return analysis.is_ok() ? analysis.take() : ModelAnalysis{};
}

std::string report_of(const std::string& plan) {
  Result<Model> model = load_model_text("plan.json", plan);
  EXPECT_TRUE(model.is_ok()) << model.message();
  Result<ModelAnalysis> analysis = analyze_model(model.value());
  EXPECT_FALSE(analysis.is_ok());
  return analysis.is_ok() ? "" : analysis.message();
}

std::string zeros(int count) {
  std::string text = "[";
  for (int i = 0; i < count; ++i) text += i ? ",0" : "0";
  return text + "]";
}

std::string tensor(const std::string& shape, int values) {
  return R"({"shape": )" + shape + R"(, "data": )" + zeros(values) + "}";
}

TEST(Analysis, CountsOfLinearAndAttentionLayers) {
  ModelAnalysis linear = analyse(R"({"input_shape": [2, 4], "layers": [{"type": "linear", "name": "fc", "out": 3}]})");
  EXPECT_EQ(linear.total_ops, 54u);
  EXPECT_EQ(linear.total_params, 15u);
  EXPECT_EQ(linear.param_bytes, 60u);
  EXPECT_EQ(linear.tensors.size(), 1u);
  EXPECT_EQ(linear.ops[0].label, "fc: input @ weights + bias");
  EXPECT_EQ(linear.layer_costs[0].label, "fc (linear)");

  ModelAnalysis attention = analyse(R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "name": "att",
      "wq": )" + tensor("[8, 4]", 32) +
                                    R"(, "wk": )" + tensor("[8, 4]", 32) + R"(, "wv": )" + tensor("[8, 6]", 48) +
                                    "}]}");
  EXPECT_EQ(attention.total_ops, 1216u);
  EXPECT_EQ(attention.shape_flow.back(), (std::pair<std::string, std::string>{"att", "[4, 6]"}));
  ASSERT_EQ(attention.attention_costs.size(), 1u);
  const AttentionCost& cost = attention.attention_costs[0];
  EXPECT_EQ(cost.q_projection, 256u);
  EXPECT_EQ(cost.v_projection, 384u);
  EXPECT_EQ(cost.scores, 128u);
  EXPECT_EQ(cost.value_mix, 192u);
  EXPECT_EQ(attention.tensors.size(), 6u);
  EXPECT_EQ(attention.tensors[3].label, "att.scores");

  ModelAnalysis peak =
      analyse(R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 3, "value_dim": 2}]})");
  EXPECT_EQ(peak.peak_activation_bytes, 128u) << "the input is larger than the scores and the output";

  ModelAnalysis empty = analyse(R"({"input_shape": [1, 3], "layers": []})");
  EXPECT_EQ(empty.total_ops, 0u);
  EXPECT_EQ(empty.shape_flow.size(), 1u);
  EXPECT_TRUE(empty.quiz.empty());
  EXPECT_EQ(empty.path, (std::vector<std::string>{"input"}));

  ModelAnalysis noted = analyse(R"({"input_shape": [], "layers": [{"type": "softmax", "explain": "normalise"}]})");
  EXPECT_EQ(noted.explanations[0].lines.front(), "why: normalise");
  EXPECT_EQ(noted.walkthrough[0].lines.front(), "Purpose: normalise");
  EXPECT_EQ(noted.total_ops, 1u);
}

TEST(Analysis, ValidationReports) {
  struct Case {
    std::string plan;
    std::string report;
  };
  const Case cases[] = {
      {R"({"input_shape": [1, 4], "layers": [{"type": "linear", "name": "fc", "weights": )" + tensor("[3, 8]", 24) +
           R"(, "out": 8}]})",
       "Validation failed\n\nLayer: fc\nProblem:\n  Cannot multiply input [1, 4] by weights [3, 8].\n\nWhy:\n"
       "  Linear uses input @ weights.\n  For A @ B, A columns must equal B rows.\n  Got 4 and 3.\n\nFix:\n"
       "  Change weights shape to [4, 8], or change the previous layer output to [batch, 3]."},
      {R"({"input_shape": [1, 4], "layers": [{"type": "linear", "name": "fc", "weights": )" + tensor("[4, 3]", 12) +
           R"(, "bias": )" + tensor("[4]", 4) + "}]}",
       "Validation failed\n\nLayer: fc\nProblem:\n  Bias shape [4] does not match output features [3].\n\nWhy:\n"
       "  Linear computes input @ weights + bias.\n  Bias must have one value per output feature.\n\nFix:\n"
       "  Change bias shape to [3]."},
      {R"({"input_shape": [2, 2, 2], "layers": [{"type": "linear", "name": "fc", "weights": )" + tensor("[2, 2]", 4) +
           R"(, "out": 2}]})",
       "Validation failed\n\nLayer: fc\nProblem:\n  Linear expects rank-2 input [batch, in_features].\n  Got input [2, "
       "2, 2]."},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear", "name": "fc", "weights": )" + tensor("[2, 2, 1]", 4) +
           R"(, "out": 2}]})",
       "Validation failed\n\nLayer: fc\nProblem:\n  Linear weights must be rank-2 [in_features, out_features].\n"
       "  Got weights [2, 2, 1]."},
      {R"({"input_shape": [4], "layers": [{"type": "self_attention", "name": "att", "wq": )" + tensor("[8, 4]", 32) +
           R"(, "wk": )" + tensor("[8, 4]", 32) + R"(, "wv": )" + tensor("[8, 4]", 32) + "}]}",
       "Validation failed\n\nLayer: att\nProblem:\n  Self-attention expects rank-2 input [tokens, features].\n  Got "
       "input [4]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "name": "att", "wq": )" + tensor("[8, 4]", 32) +
           R"(, "wk": )" + tensor("[8, 5]", 40) + R"(, "wv": )" + tensor("[8, 4]", 32) + "}]}",
       "Validation failed\n\nLayer: att\nProblem:\n  Q shape [tokens, 4] cannot score against K shape [tokens, 5].\n\n"
       "Why:\n  Attention scores use Q @ K^T, so Q and K must share head_dim.\n\nFix:\n"
       "  Make Wq and Wk output the same head_dim."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "name": "att", "wq": )" + tensor("[8, 4]", 32) +
           R"(, "wk": )" + tensor("[8, 4]", 32) + R"(, "wv": )" + tensor("[8]", 8) + "}]}",
       "Validation failed\n\nLayer: att\nProblem:\n  Wv must be rank-2 [features, projection_dim].\n  Got Wv [8]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "name": "att", "wq": )" + tensor("[8, 4]", 32) +
           R"(, "wk": )" + tensor("[6, 4]", 24) + R"(, "wv": )" + tensor("[8, 4]", 32) + "}]}",
       "Validation failed\n\nLayer: att\nProblem:\n  Input [4, 8] cannot multiply Wk [6, 4].\n\nWhy:\n"
       "  Self-attention starts with X @ Wk.\n  X columns must equal Wk rows.\n  Got 8 and 6.\n\nFix:\n"
       "  Change Wk shape to [8, projection_dim]."},
  };
  for (const Case& c : cases) EXPECT_EQ(report_of(c.plan), c.report);
}

}  // namespace
}  // namespace tarnwick
