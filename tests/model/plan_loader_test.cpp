#include <gtest/gtest.h>

#include "model/model.h"

namespace tarnwick {
namespace {

Result<Model> load(const std::string& text) { return load_model_text("plan.json", text); }

TEST(PlanLoader, ResolvesInputsDefaultsAndShapeOnlyLayers) {
  struct Case {
    std::string plan;
    Shape input;
    std::vector<Shape> parameter_shapes;  // per layer, flattened
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {R"({"input": {"shape": [1, 2], "data": [1, 2]}, "input_shape": [9, 9], "layers": []})", {1, 2}, {}, {}},
      {R"({"input_shape": [3, 4], "layers": []})", {3, 4}, {}, {}},
      {R"({"layers": [{"type": "linear", "in": 4, "out": 3}]})", {1, 4}, {{4, 3}, {3}}, {"layer_1"}},
      {R"({"layers": [{"type": "linear", "weights": {"shape": [4, 3], "data": [0,0,0,0,0,0,0,0,0,0,0,0]}, "out": 3}]})",
       {1, 4},
       {{4, 3}, {3}},
       {"layer_1"}},
      {R"({"layers": [{"type": "self_attention", "tokens": 4, "head_dim": 8}]})",
       {4, 8},
       {{8, 8}, {8, 8}, {8, 8}},
       {"layer_1"}},
      {R"({"input_shape": [2, 5], "layers": [{"type": "relu", "name": "r"}, {"type": "linear", "out_features": 3},
          {"type": "linear", "out": 2, "out_features": 7}, {"type": "self_attention", "head_dim": 4, "value_dim": 6}]})",
       {2, 5},
       {{5, 3}, {3}, {3, 2}, {2}, {2, 4}, {2, 4}, {2, 6}},
       {"r", "layer_2", "layer_3", "layer_4"}},
      {R"({"input_shape": [4, 8], "extra": 1, "layers": [{"type": "gelu", "surprise": [1, 2]}]})",
       {4, 8},
       {},
       {"layer_1"}},
  };
  for (const Case& c : cases) {
    Result<Model> model = load(c.plan);
    ASSERT_TRUE(model.is_ok()) << c.plan << "\n" << model.message();
    EXPECT_EQ(model.value().input.shape, c.input) << c.plan;
    std::vector<Shape> shapes;
    std::vector<std::string> names;
    for (const Layer& layer : model.value().layers) {
      names.push_back(layer.name);
      if (const auto* linear = std::get_if<LinearLayer>(&layer.kind)) {
        shapes.push_back(linear->weights.shape);
        shapes.push_back(linear->bias.shape);
      } else if (const auto* attention = std::get_if<AttentionLayer>(&layer.kind)) {
        shapes.push_back(attention->wq.shape);
        shapes.push_back(attention->wk.shape);
        shapes.push_back(attention->wv.shape);
      }
    }
    EXPECT_EQ(shapes, c.parameter_shapes) << c.plan;
    EXPECT_EQ(names, c.names) << c.plan;
  }
  EXPECT_EQ(load(R"({"layers": [{"type": "relu"}]})").message(),
            "first layer needs input, input_shape, or a shape-bearing linear/self_attention layer");
  Model named = load(R"({"name": "n", "description": "d", "labels": ["a"], "input_shape": [1], "layers": []})").take();
  EXPECT_EQ(named.name, "n");
  EXPECT_EQ(named.description, "d");
  EXPECT_EQ(named.labels, (std::vector<std::string>{"a"}));
  EXPECT_EQ(load(R"({"input_shape": [1], "layers": [], "name": null})").value().name, "model");
}

TEST(PlanLoader, ResolutionFailures) {
  struct Case {
    std::string plan;
    std::string error;
  };
  const Case cases[] = {
      {R"({"layers": []})", "model must define input, input_shape, or at least one layer"},
      {R"({"layers": [{"type": "linear", "out": 3}]})", "shape-only linear first layer needs `in` or weights shape"},
      {R"({"layers": [{"type": "self_attention", "head_dim": 4, "wq": {"shape": [4, 4], "data": []}}]})",
       "shape-only self_attention first layer needs `tokens` or input_shape"},
      {R"({"layers": [{"type": "self_attention", "tokens": 4}]})",
       "shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape"},
      {R"({"input_shape": [1, 2, 3], "layers": [{"type": "linear", "out": 3}]})",
       "shape-only linear layer needs rank-2 input [batch, in_features]"},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear"}]})", "shape-only linear layer needs `out`"},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear", "weights": {"shape": [2, 1], "data": [1, 2]}}]})",
       "shape-only linear layer needs `out`"},
      {R"({"input_shape": [3], "layers": [{"type": "self_attention", "head_dim": 2}]})",
       "shape-only self_attention layer needs rank-2 input [tokens, features]"},
      {R"({"input_shape": [3, 4], "layers": [{"type": "self_attention", "tokens": 5, "head_dim": 2}]})",
       "shape-only self_attention tokens=5 does not match input tokens=3"},
      {R"({"input_shape": [3, 4], "layers": [{"type": "self_attention"}]})",
       "shape-only self_attention layer needs `head_dim`"},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear", "weights": {"shape": [2, 3], "data": [1, 2, 3, 4, 5]}, "out": 3}]})",
       "weights: shape [2, 3] expects 6 values, got 5"},
      {R"({"input": {"shape": [], "data": []}, "layers": []})", "input: shape [] expects 1 values, got 0"},
      // Nothing to take the next layer's dimensions from.
      {R"({"input": {"shape": [], "data": [1]}, "layers": [{"type": "linear", "weights": {"shape": [1, 1], "data": [1]}, "out": 1},
          {"type": "linear", "out": 2}]})",
       "cannot follow the shape after layer `layer_1`: its input [] and weights [1, 1] leave no [rows, columns] to "
       "continue from"},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear", "weights": {"shape": [2], "data": [1, 2]}, "out": 2},
          {"type": "linear", "out": 2}]})",
       "cannot follow the shape after layer `layer_1`: its input [1, 2] and weights [2] leave no [rows, columns] to "
       "continue from"},
      // Shape-only tensors are not allocated, so only shapes whose bytes overflow are refused.
      {R"({"input_shape": [4294967296, 4294967296], "layers": []})",
       "input: shape [4294967296, 4294967296] is too large for the tensor lab (more than 4611686018427387904 values)"},
      {R"({"input_shape": [1, 2], "layers": [{"type": "linear", "out": 18446744073709551615}]})",
       "weights: shape [2, 18446744073709551615] is too large for the tensor lab (more than 4611686018427387904 "
       "values)"},
  };
  for (const Case& c : cases) {
    Result<Model> model = load(c.plan);
    ASSERT_FALSE(model.is_ok()) << c.plan;
    EXPECT_EQ(model.message(), c.error) << c.plan;
  }
  // A numeric plan whose weights disagree with its input loads; validation reports it.
  EXPECT_TRUE(
      load(
          R"({"input_shape": [1, 2], "layers": [{"type": "linear", "weights": {"shape": [3, 1], "data": [1, 2, 3]}, "out": 1}]})")
          .is_ok());
}

TEST(PlanLoader, StrictTypedReadingWithPositions) {
  struct Case {
    std::string plan;
    std::string error;
  };
  const Case cases[] = {
      {R"({"input_shape": [1], "layers": [], "name": "a", "name": "b"})",
       "parse plan.json: duplicate field `name` at line 1 column 59"},
      {"{\"input_shape\": [1]\n}", "parse plan.json: missing field `layers` at line 2 column 1"},
      {R"({"layers": [{"name": "x"}]})", "parse plan.json: missing field `type` at line 1 column 25"},
      {R"({"layers": [{"type": "conv"}]})",
       "parse plan.json: unknown variant `conv`, expected one of `linear`, `self_attention`, `relu`, `gelu`, "
       "`softmax` at line 1 column 27"},
      {R"({"input_shape": [1, -2], "layers": []})",
       "parse plan.json: invalid value: integer `-2`, expected u64 at line 1 column 21"},
      {R"({"input_shape": [1.5], "layers": []})",
       "parse plan.json: invalid type: floating point `1.5`, expected u64 at line 1 column 18"},
      // A number is placed where it starts, wherever it stands.
      {"{\"input_shape\": [\n    -7\n  ], \"layers\": []}",
       "parse plan.json: invalid value: integer `-7`, expected u64 at line 2 column 5"},
      {"{\"layers\": [{\"type\": \"linear\", \"in\": 2.5e+3}]}",
       "parse plan.json: invalid type: floating point `2500`, expected u64 at line 1 column 38"},
      {"{\"layers\": 12}", "parse plan.json: invalid type: integer `12`, expected a sequence at line 1 column 12"},
      {"-1", "parse plan.json: invalid type: integer `-1`, expected struct ModelSpec at line 1 column 1"},
      {R"({"input_shape": "wide", "layers": []})",
       "parse plan.json: invalid type: string \"wide\", expected a sequence at line 1 column 22"},
      {R"({"layers": {}})", "parse plan.json: invalid type: map, expected a sequence at line 1 column 13"},
      {R"({"input": {"shape": [1]}, "layers": []})", "parse plan.json: missing field `data` at line 1 column 24"},
      {R"({"input": {"shape": [1], "data": ["x"]}, "layers": []})",
       "parse plan.json: invalid type: string \"x\", expected f32 at line 1 column 37"},
      {R"([1, 2])", "parse plan.json: invalid type: sequence, expected struct ModelSpec at line 1 column 6"},
      {R"({"layers": [{"type": "linear", "in": true}]})",
       "parse plan.json: invalid type: boolean `true`, expected u64 at line 1 column 41"},
  };
  for (const Case& c : cases) {
    Result<Model> model = load(c.plan);
    ASSERT_FALSE(model.is_ok()) << c.plan;
    EXPECT_EQ(model.message(), c.error) << c.plan;
  }
  // Every parse message, the parser's own included, ends with its position in one form.
  const Case syntax_cases[] = {
      {"{\"layers\": [}",
       "parse plan.json: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal at line "
       "1 column 13"},
      {"{\"layers\": []\n,}",
       "parse plan.json: syntax error while parsing object key - unexpected '}'; expected string literal at line 2 "
       "column 2"},
      {"{\"input_shape\": [1e999], \"layers\": []}",
       "parse plan.json: number overflow parsing '1e999' at line 1 column 23"},
  };
  for (const Case& c : syntax_cases) EXPECT_EQ(load(c.plan).message(), c.error) << c.plan;
  Result<Model> deep = load(std::string(100000, '[') + std::string(100000, ']'));
  ASSERT_FALSE(deep.is_ok());
  EXPECT_TRUE(deep.message().starts_with("parse plan.json: recursion limit exceeded at line 1")) << deep.message();
  EXPECT_EQ(load_model("/nonexistent/plan.json").message(), "read /nonexistent/plan.json: No such file or directory");
}

}  // namespace
}  // namespace tarnwick
