#include <gtest/gtest.h>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {
namespace {

OnnxAttribute int_attr(const std::string& name, std::int64_t value) {
  OnnxAttribute attribute;
  attribute.name = name;
  attribute.i = value;
  return attribute;
}

OnnxAttribute ints_attr(const std::string& name, std::vector<std::int64_t> values) {
  OnnxAttribute attribute;
  attribute.name = name;
  attribute.ints = std::move(values);
  return attribute;
}

OnnxAttribute text_attr(const std::string& name, const std::string& value) {
  OnnxAttribute attribute;
  attribute.name = name;
  attribute.s = value;
  return attribute;
}

KnownValue f32(Dims shape) { return shaped(kFloat, std::move(shape)); }
KnownValue ints(std::vector<std::int64_t> values) { return int_vector(std::move(values)); }
KnownValue reals(std::vector<double> values) {
  KnownValue value = shaped(kFloat, Dims{static_cast<std::int64_t>(values.size())});
  value.reals = std::move(values);
  return value;
}
KnownValue unknown() { return KnownValue{}; }

struct RuleCase {
  std::string label;
  std::string op;
  std::int64_t opset;
  std::vector<std::optional<KnownValue>> inputs;  // nullopt: an absent optional input
  std::vector<OnnxAttribute> attributes;
  std::size_t output_count;
  std::vector<std::optional<Dims>> expected;  // per output; nullopt: must stay unknown
  std::optional<std::vector<std::int64_t>> expected_values = std::nullopt;
};

// Marks a case whose values must be dropped (the shape stays known).
const std::vector<std::int64_t> kValuesDropped{INT64_MIN, INT64_MIN};

Outputs run_rule(const RuleCase& c) {
  OnnxGraphNode node;
  node.op_type = c.op;
  node.attributes = c.attributes;
  for (std::size_t k = 0; k < c.inputs.size(); ++k) node.inputs.push_back(c.inputs[k] ? "in" + std::to_string(k) : "");
  for (std::size_t k = 0; k < c.output_count; ++k) node.outputs.push_back("out" + std::to_string(k));
  std::vector<const KnownValue*> inputs;
  for (const auto& input : c.inputs) inputs.push_back(input ? &*input : nullptr);
  ShapeRule rule = find_shape_rule(c.op);
  if (!rule) return Outputs(c.output_count);
  return rule(RuleInput{node, inputs, c.opset});
}

void check(const std::vector<RuleCase>& cases) {
  for (const RuleCase& c : cases) {
    Outputs outputs = run_rule(c);
    ASSERT_EQ(outputs.size(), c.output_count) << c.label;
    for (std::size_t k = 0; k < c.expected.size(); ++k) {
      EXPECT_EQ(outputs[k].shape, c.expected[k]) << c.label << " output " << k;
    }
    if (c.expected_values == kValuesDropped) {
      EXPECT_EQ(outputs[0].ints, std::nullopt) << c.label;
    } else if (c.expected_values) {
      EXPECT_EQ(outputs[0].ints, c.expected_values) << c.label;
    }
  }
}

const std::optional<Dims> kUnknown = std::nullopt;

TEST(ProfileRules, Broadcasting) {
  check({
      {"same", "Add", 17, {f32({2, 3}), f32({2, 3})}, {}, 1, {Dims{2, 3}}},
      {"from the right", "Mul", 17, {f32({4, 1, 3}), f32({5, 1})}, {}, 1, {Dims{4, 5, 3}}},
      {"scalar", "Sub", 17, {f32({}), f32({7})}, {}, 1, {Dims{7}}},
      {"zero dim", "Add", 17, {f32({0, 3}), f32({1, 3})}, {}, 1, {Dims{0, 3}}},
      {"mismatch stays unknown", "Add", 17, {f32({2, 3}), f32({4, 3})}, {}, 1, {kUnknown}},
      {"unknown operand", "Add", 17, {f32({2, 3}), unknown()}, {}, 1, {kUnknown}},
      {"variadic", "Sum", 17, {f32({3, 1}), f32({1, 4}), f32({4})}, {}, 1, {Dims{3, 4}}},
      {"variadic mismatch", "Max", 17, {f32({3}), f32({4}), f32({3})}, {}, 1, {kUnknown}},
      {"where", "Where", 17, {shaped(kBool, {2, 1}), f32({1, 5}), f32({5})}, {}, 1, {Dims{2, 5}}},
      {"values add", "Add", 17, {ints({2, 3}), ints({10})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{12, 13}},
      {"values div", "Div", 17, {ints({12, 7}), ints({2})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{6, 3}},
      {"div by zero drops values", "Div", 17, {ints({1}), ints({0})}, {}, 1, {Dims{1}}, kValuesDropped},
      {"equal", "Equal", 17, {ints({1, 2}), ints({2})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{0, 1}},
      {"unary keeps", "Relu", 17, {f32({1, 8})}, {}, 1, {Dims{1, 8}}},
      {"cast", "Cast", 17, {reals({2.9, -1.5})}, {int_attr("to", kInt64)}, 1, {Dims{2}}, std::vector<std::int64_t>{2, -1}},
      {"dropout mask", "Dropout", 12, {f32({3})}, {}, 2, {Dims{3}, Dims{3}}},
      {"layer norm stats", "LayerNormalization", 17, {f32({2, 5, 8})}, {int_attr("axis", -1)}, 3,
       {Dims{2, 5, 8}, Dims{2, 5, 1}, Dims{2, 5, 1}}},
  });
}

TEST(ProfileRules, DenseAndWindows) {
  check({
      {"matmul batched", "MatMul", 17, {f32({8, 1, 4, 5}), f32({3, 5, 6})}, {}, 1, {Dims{8, 3, 4, 6}}},
      {"matmul vector left", "MatMul", 17, {f32({5}), f32({2, 5, 6})}, {}, 1, {Dims{2, 6}}},
      {"matmul vector right", "MatMul", 17, {f32({2, 4, 5}), f32({5})}, {}, 1, {Dims{2, 4}}},
      {"matmul vectors", "MatMul", 17, {f32({5}), f32({5})}, {}, 1, {Dims{}}},
      {"matmul inner mismatch", "MatMul", 17, {f32({4, 5}), f32({4, 5})}, {}, 1, {kUnknown}},
      {"gemm trans", "Gemm", 17, {f32({5, 4}), f32({6, 5}), f32({6})}, {int_attr("transA", 1), int_attr("transB", 1)}, 1,
       {Dims{4, 6}}},
      {"gemm bad bias", "Gemm", 17, {f32({4, 5}), f32({5, 6}), f32({5})}, {}, 1, {kUnknown}},
      {"conv pads strides", "Conv", 17, {f32({1, 3, 224, 224}), f32({64, 3, 7, 7})},
       {ints_attr("pads", {3, 3, 3, 3}), ints_attr("strides", {2, 2})}, 1, {Dims{1, 64, 112, 112}}},
      {"conv dilation", "Conv", 17, {f32({1, 2, 10}), f32({4, 2, 3})}, {ints_attr("dilations", {2})}, 1, {Dims{1, 4, 6}}},
      {"conv same upper", "Conv", 17, {f32({1, 2, 10, 9}), f32({4, 2, 3, 3})},
       {text_attr("auto_pad", "SAME_UPPER"), ints_attr("strides", {2, 2})}, 1, {Dims{1, 4, 5, 5}}},
      {"conv valid", "Conv", 17, {f32({1, 2, 10}), f32({4, 2, 3})}, {text_attr("auto_pad", "VALID")}, 1, {Dims{1, 4, 8}}},
      {"conv groups", "Conv", 17, {f32({1, 8, 5, 5}), f32({8, 2, 3, 3})}, {int_attr("group", 4)}, 1, {Dims{1, 8, 3, 3}}},
      {"conv channel mismatch", "Conv", 17, {f32({1, 8, 5, 5}), f32({8, 3, 3, 3})}, {}, 1, {kUnknown}},
      {"conv kernel larger than input", "Conv", 17, {f32({1, 1, 2}), f32({1, 1, 3})}, {}, 1, {kUnknown}},
      {"conv huge dilation", "Conv", 17, {f32({1, 1, 10}), f32({1, 1, 3})}, {ints_attr("dilations", {INT64_MAX})}, 1,
       {kUnknown}},
      {"conv huge pads", "Conv", 17, {f32({1, 1, INT64_MAX}), f32({1, 1, 1})}, {ints_attr("pads", {INT64_MAX, 5})}, 1,
       {kUnknown}},
      {"conv huge group", "Conv", 17, {f32({1, 2, 10}), f32({1, INT64_MAX, 3})}, {int_attr("group", 4)}, 1, {kUnknown}},
      {"conv transpose", "ConvTranspose", 17, {f32({1, 4, 5, 5}), f32({4, 2, 3, 3})},
       {ints_attr("strides", {2, 2}), ints_attr("pads", {1, 1, 1, 1}), ints_attr("output_padding", {1, 1}),
        int_attr("group", 2)},
       1, {Dims{1, 4, 10, 10}}},
      {"conv transpose output_shape", "ConvTranspose", 17, {f32({1, 4, 5}), f32({4, 3, 3})},
       {ints_attr("output_shape", {12})}, 1, {Dims{1, 3, 12}}},
      {"maxpool floor", "MaxPool", 17, {f32({1, 3, 112, 112})},
       {ints_attr("kernel_shape", {3, 3}), ints_attr("strides", {2, 2}), ints_attr("pads", {1, 1, 1, 1})}, 1,
       {Dims{1, 3, 56, 56}}},
      {"avgpool ceil_mode", "AveragePool", 17, {f32({1, 1, 6, 6})},
       {ints_attr("kernel_shape", {3, 3}), ints_attr("strides", {2, 2}), int_attr("ceil_mode", 1)}, 1,
       {Dims{1, 1, 3, 3}}},
      {"avgpool floor", "AveragePool", 17, {f32({1, 1, 6, 6})},
       {ints_attr("kernel_shape", {3, 3}), ints_attr("strides", {2, 2})}, 1, {Dims{1, 1, 2, 2}}},
      {"pool without kernel", "MaxPool", 17, {f32({1, 1, 6, 6})}, {}, 1, {kUnknown}},
      {"global pool", "GlobalAveragePool", 17, {f32({2, 7, 5, 5})}, {}, 1, {Dims{2, 7, 1, 1}}},
      {"lstm bidirectional", "LSTM", 14, {f32({10, 2, 8}), f32({2, 64, 8}), f32({2, 64, 16})},
       {text_attr("direction", "bidirectional"), int_attr("hidden_size", 16)}, 3,
       {Dims{10, 2, 2, 16}, Dims{2, 2, 16}, Dims{2, 2, 16}}},
      {"gru batch first", "GRU", 14, {f32({2, 10, 8}), f32({1, 48, 8}), f32({1, 48, 16})}, {int_attr("layout", 1)}, 2,
       {Dims{2, 10, 1, 16}, Dims{2, 1, 16}}},
      {"einsum", "Einsum", 17, {f32({2, 3, 4}), f32({2, 4, 5})}, {text_attr("equation", "bij,bjk->bik")}, 1,
       {Dims{2, 3, 5}}},
      {"einsum implicit", "Einsum", 17, {f32({3, 4}), f32({4, 5})}, {text_attr("equation", "ij,jk")}, 1, {Dims{3, 5}}},
  });
}

TEST(ProfileRules, ReshapesAndAxes) {
  check({
      {"reshape copy and infer", "Reshape", 17, {f32({2, 3, 4}), ints({0, -1})}, {}, 1, {Dims{2, 12}}},
      {"reshape allowzero", "Reshape", 17, {f32({0, 4}), ints({0, 4})}, {int_attr("allowzero", 1)}, 1, {Dims{0, 4}}},
      {"reshape zero copies without allowzero", "Reshape", 17, {f32({3, 4}), ints({0, 4})}, {}, 1, {Dims{3, 4}}},
      {"reshape two -1", "Reshape", 17, {f32({2, 6}), ints({-1, -1})}, {}, 1, {kUnknown}},
      {"reshape count mismatch", "Reshape", 17, {f32({2, 6}), ints({5, 2})}, {}, 1, {kUnknown}},
      {"reshape target unknown", "Reshape", 17, {f32({2, 6}), shaped(kInt64, {2})}, {}, 1, {kUnknown}},
      {"reshape unknown input explicit target", "Reshape", 17, {unknown(), ints({3, 4})}, {}, 1, {Dims{3, 4}}},
      {"flatten negative axis", "Flatten", 17, {f32({2, 3, 4, 5})}, {int_attr("axis", -1)}, 1, {Dims{24, 5}}},
      {"flatten axis 0", "Flatten", 17, {f32({2, 3})}, {int_attr("axis", 0)}, 1, {Dims{1, 6}}},
      {"squeeze attribute opset 11", "Squeeze", 11, {f32({1, 3, 1})}, {ints_attr("axes", {-1})}, 1, {Dims{1, 3}}},
      {"squeeze input opset 13", "Squeeze", 13, {f32({1, 3, 1}), ints({0})}, {}, 1, {Dims{3, 1}}},
      {"squeeze opset 13 ignores attribute", "Squeeze", 13, {f32({1, 3, 1})}, {ints_attr("axes", {0})}, 1,
       {Dims{3}}},
      {"squeeze all ones", "Squeeze", 13, {f32({1, 3, 1})}, {}, 1, {Dims{3}}},
      {"squeeze non-one axis", "Squeeze", 13, {f32({2, 3}), ints({0})}, {}, 1, {kUnknown}},
      {"unsqueeze attribute", "Unsqueeze", 11, {ints({5, 6})}, {ints_attr("axes", {0, -1})}, 1, {Dims{1, 2, 1}},
       std::vector<std::int64_t>{5, 6}},
      {"unsqueeze input", "Unsqueeze", 13, {f32({3}), ints({1})}, {}, 1, {Dims{3, 1}}},
      {"unsqueeze duplicate axes", "Unsqueeze", 13, {f32({3}), ints({0, -3})}, {}, 1, {kUnknown}},
      {"transpose default reverses", "Transpose", 17, {f32({2, 3, 4})}, {}, 1, {Dims{4, 3, 2}}},
      {"transpose perm", "Transpose", 17, {f32({2, 3, 4})}, {ints_attr("perm", {0, 2, 1})}, 1, {Dims{2, 4, 3}}},
      {"transpose bad perm", "Transpose", 17, {f32({2, 3, 4})}, {ints_attr("perm", {0, 0, 1})}, 1, {kUnknown}},
      {"concat values", "Concat", 17, {ints({1}), ints({-1, 64})}, {int_attr("axis", 0)}, 1, {Dims{3}},
       std::vector<std::int64_t>{1, -1, 64}},
      {"concat negative axis", "Concat", 17, {f32({2, 3}), f32({2, 5})}, {int_attr("axis", -1)}, 1, {Dims{2, 8}}},
      {"concat mismatch", "Concat", 17, {f32({2, 3}), f32({3, 5})}, {int_attr("axis", 1)}, 1, {kUnknown}},
      {"split attribute opset 11", "Split", 11, {f32({6, 2})}, {ints_attr("split", {2, 4})}, 2, {Dims{2, 2}, Dims{4, 2}}},
      {"split input opset 13", "Split", 13, {f32({2, 6}), ints({1, 5})}, {int_attr("axis", 1)}, 2,
       {Dims{2, 1}, Dims{2, 5}}},
      {"split equal", "Split", 13, {f32({6})}, {}, 3, {Dims{2}, Dims{2}, Dims{2}}},
      {"split uneven before 18", "Split", 13, {f32({7})}, {}, 2, {kUnknown, kUnknown}},
      {"split num_outputs 18", "Split", 18, {f32({7})}, {int_attr("num_outputs", 3)}, 3, {Dims{3}, Dims{3}, Dims{1}}},
      {"split sizes wrong sum", "Split", 13, {f32({6}), ints({1, 2})}, {}, 2, {kUnknown, kUnknown}},
  });
}

TEST(ProfileRules, SelectionsAndValues) {
  check({
      {"gather value", "Gather", 17, {ints({2, 3, 5}), int_tensor({}, {-1})}, {}, 1, {Dims{}},
       std::vector<std::int64_t>{5}},
      {"gather axis 1", "Gather", 17, {f32({2, 5, 3}), shaped(kInt64, {4, 1})}, {int_attr("axis", 1)}, 1,
       {Dims{2, 4, 1, 3}}},
      {"gather index out of range keeps shape", "Gather", 17, {ints({2, 3}), ints({2})}, {}, 1, {Dims{1}}, kValuesDropped},
      {"slice clamps", "Slice", 17, {f32({10, 4}), ints({-3}), ints({INT64_MAX}), ints({0})}, {}, 1, {Dims{3, 4}}},
      {"slice negative step", "Slice", 17, {ints({1, 2, 3, 4, 5}), ints({-1}), ints({INT64_MIN}), ints({0}), ints({-2})},
       {}, 1, {Dims{3}}, std::vector<std::int64_t>{5, 3, 1}},
      {"slice empty", "Slice", 17, {f32({4}), ints({3}), ints({1})}, {}, 1, {Dims{0}}},
      {"slice attributes opset 9", "Slice", 9, {f32({5, 6})},
       {ints_attr("starts", {1}), ints_attr("ends", {-1}), ints_attr("axes", {1})}, 1, {Dims{5, 4}}},
      {"slice zero step", "Slice", 17, {f32({4}), ints({0}), ints({4}), ints({0}), ints({0})}, {}, 1, {kUnknown}},
      {"shape", "Shape", 17, {f32({2, 3, 4})}, {}, 1, {Dims{3}}, std::vector<std::int64_t>{2, 3, 4}},
      {"shape start end", "Shape", 15, {f32({2, 3, 4})}, {int_attr("start", 1), int_attr("end", -1)}, 1, {Dims{1}},
       std::vector<std::int64_t>{3}},
      {"shape start ignored before 15", "Shape", 13, {f32({2, 3})}, {int_attr("start", 1)}, 1, {Dims{2}}},
      {"constant of shape", "ConstantOfShape", 17, {ints({2, 3})}, {}, 1, {Dims{2, 3}}},
      {"range", "Range", 17, {int_tensor({}, {0}), int_tensor({}, {10}), int_tensor({}, {3})}, {}, 1, {Dims{4}},
       std::vector<std::int64_t>{0, 3, 6, 9}},
      {"range empty", "Range", 17, {int_tensor({}, {5}), int_tensor({}, {0}), int_tensor({}, {1})}, {}, 1, {Dims{0}}},
      {"expand", "Expand", 17, {f32({3, 1}), ints({2, 1, 4})}, {}, 1, {Dims{2, 3, 4}}},
      {"expand mismatch", "Expand", 17, {f32({3, 2}), ints({4})}, {}, 1, {kUnknown}},
      {"pad input", "Pad", 17, {f32({1, 3, 4, 4}), ints({0, 0, 1, 2, 0, 0, 1, 2})}, {}, 1, {Dims{1, 3, 6, 8}}},
      {"pad attribute opset 2", "Pad", 2, {f32({4, 4})}, {ints_attr("pads", {1, 0, 1, 0})}, 1, {Dims{6, 4}}},
      {"pad past the limit", "Pad", 17, {f32({INT64_MAX}), ints({1, 1})}, {}, 1, {kUnknown}},
      {"concat past the limit", "Concat", 17, {f32({INT64_MAX}), f32({1})}, {int_attr("axis", 0)}, 1, {kUnknown}},
      {"tile", "Tile", 17, {f32({2, 3}), ints({2, 1})}, {}, 1, {Dims{4, 3}}},
      {"resize scales", "Resize", 13, {f32({1, 3, 5, 5}), std::nullopt, reals({1, 1, 2, 1.5})}, {}, 1,
       {Dims{1, 3, 10, 7}}},
      {"resize sizes", "Resize", 13, {f32({1, 3, 5, 5}), std::nullopt, std::nullopt, ints({1, 3, 8, 8})}, {}, 1,
       {Dims{1, 3, 8, 8}}},
      {"upsample", "Upsample", 9, {f32({1, 1, 2, 2}), reals({1, 1, 2, 2})}, {}, 1, {Dims{1, 1, 4, 4}}},
      {"reduce keepdims attribute", "ReduceMean", 13, {f32({2, 3, 4})}, {ints_attr("axes", {-1})}, 1, {Dims{2, 3, 1}}},
      {"reduce sum input 13", "ReduceSum", 13, {f32({2, 3, 4}), ints({1})}, {int_attr("keepdims", 0)}, 1, {Dims{2, 4}}},
      {"reduce all", "ReduceMax", 13, {f32({2, 3})}, {int_attr("keepdims", 0)}, 1, {Dims{}}},
      {"reduce noop", "ReduceSum", 13, {f32({2, 3})}, {int_attr("noop_with_empty_axes", 1)}, 1, {Dims{2, 3}}},
      {"argmax", "ArgMax", 13, {f32({2, 3})}, {int_attr("axis", 1), int_attr("keepdims", 0)}, 1, {Dims{2}}},
      {"no rule", "NonZero", 13, {f32({2, 3})}, {}, 1, {kUnknown}},
  });
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

KnownValue int_matrix(Dims shape, std::vector<std::int64_t> values) { return int_tensor(std::move(shape), std::move(values)); }
KnownValue u8(Dims shape) { return shaped(kUint8, std::move(shape)); }

// The shape arithmetic exporters write (F.pad's amounts go Reshape -> Slice(step -1) ->
// Transpose -> Reshape -> Cast) keeps its values through every op it passes.
TEST(ProfileRules, ValuesFoldThroughShapeArithmetic) {
  check({
      {"transpose values", "Transpose", 17, {int_matrix({2, 3}, {1, 2, 3, 4, 5, 6})}, {ints_attr("perm", {1, 0})}, 1,
       {Dims{3, 2}}, std::vector<std::int64_t>{1, 4, 2, 5, 3, 6}},
      {"transpose default perm", "Transpose", 17, {int_matrix({3, 2}, {0, 1, 2, 3, 4, 5})}, {}, 1, {Dims{2, 3}},
       std::vector<std::int64_t>{0, 2, 4, 1, 3, 5}},
      {"neg", "Neg", 17, {ints({3, -4})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{-3, 4}},
      {"neg of the smallest int64", "Neg", 17, {ints({INT64_MIN})}, {}, 1, {Dims{1}}, kValuesDropped},
      {"abs", "Abs", 17, {ints({-7, 2})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{7, 2}},
      {"not", "Not", 17, {int_tensor({2}, {0, 1})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{1, 0}},
      {"and", "And", 17, {ints({1, 1, 0}), ints({1, 0, 0})}, {}, 1, {Dims{3}}, std::vector<std::int64_t>{1, 0, 0}},
      {"or", "Or", 17, {ints({1, 0}), ints({0, 0})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{1, 0}},
      {"less or equal", "LessOrEqual", 17, {ints({1, 5}), ints({3})}, {}, 1, {Dims{2}}, std::vector<std::int64_t>{1, 0}},
      {"max of three", "Max", 17, {ints({1, 9}), ints({4}), ints({2, 3})}, {}, 1, {Dims{2}},
       std::vector<std::int64_t>{4, 9}},
      {"sum of three", "Sum", 17, {ints({1, 2}), ints({10}), ints({100, 200})}, {}, 1, {Dims{2}},
       std::vector<std::int64_t>{111, 212}},
      {"mod takes the divisor's sign", "Mod", 17, {ints({-7, 7}), ints({4, -4})}, {}, 1, {Dims{2}},
       std::vector<std::int64_t>{1, -1}},
      {"fmod keeps the dividend's", "Mod", 17, {ints({-7, 7}), ints({4, -4})}, {int_attr("fmod", 1)}, 1, {Dims{2}},
       std::vector<std::int64_t>{-3, 3}},
      {"float arithmetic then floor and cast", "Cast", 17, {reals({7.5, -0.5})}, {int_attr("to", kInt64)}, 1, {Dims{2}},
       std::vector<std::int64_t>{7, 0}},
      {"reduce prod", "ReduceProd", 17, {int_matrix({2, 2}, {2, 3, 4, 5})}, {ints_attr("axes", {1}), int_attr("keepdims", 0)},
       1, {Dims{2}}, std::vector<std::int64_t>{6, 20}},
      {"reduce sum over all", "ReduceSum", 17, {ints({1, 2, 3})}, {int_attr("keepdims", 0)}, 1, {Dims{}},
       std::vector<std::int64_t>{6}},
      {"reduce max", "ReduceMax", 17, {int_matrix({2, 2}, {2, 9, 4, 5})}, {ints_attr("axes", {0})}, 1, {Dims{1, 2}},
       std::vector<std::int64_t>{4, 9}},
      {"reduce mean drops values", "ReduceMean", 17, {ints({1, 2})}, {}, 1, {Dims{1}}, kValuesDropped},
      {"expand values", "Expand", 17, {ints({7}), ints({3})}, {}, 1, {Dims{3}}, std::vector<std::int64_t>{7, 7, 7}},
      {"tile values", "Tile", 17, {ints({1, 2}), ints({2})}, {}, 1, {Dims{4}}, std::vector<std::int64_t>{1, 2, 1, 2}},
      {"split values", "Split", 17, {ints({1, 2, 3, 4}), ints({1, 3})}, {}, 2, {Dims{1}, Dims{3}},
       std::vector<std::int64_t>{1}},
      {"where on ints", "Where", 17, {ints({1, 0}), ints({5, 6}), ints({7, 8})}, {}, 1, {Dims{2}},
       std::vector<std::int64_t>{5, 8}},
      {"scatter keeps the data shape", "ScatterND", 17, {f32({4, 5}), ints({1}), f32({5})}, {}, 1, {Dims{4, 5}}},
      {"gather nd", "GatherND", 17, {f32({2, 3, 4}), int_matrix({5, 2}, std::vector<std::int64_t>(10, 0))}, {}, 1,
       {Dims{5, 4}}},
  });
}

TEST(ProfileRules, FloatValuesFoldToo) {
  RuleCase floor{"floor", "Floor", 17, {reals({2.5, -2.5})}, {}, 1, {Dims{2}}};
  EXPECT_EQ(run_rule(floor)[0].reals, (std::vector<double>{2.0, -3.0}));
  RuleCase scaled{"mul", "Mul", 17, {reals({30.0}), reals({0.5})}, {}, 1, {Dims{1}}};
  EXPECT_EQ(run_rule(scaled)[0].reals, (std::vector<double>{15.0}));
  RuleCase mixed{"div of ints by reals", "Div", 17, {ints({7}), reals({2.0})}, {}, 1, {Dims{1}}};
  EXPECT_EQ(run_rule(mixed)[0].reals, std::nullopt) << "int64 output: no real values";
}

TEST(ProfileRules, QuantizedOps) {
  KnownValue scale = shaped(kFloat, Dims{});
  KnownValue zero = u8(Dims{});
  KnownValue int8_zero = shaped(kInt8, Dims{});
  std::vector<RuleCase> cases = {
      {"quantize to the zero point's type", "QuantizeLinear", 13, {f32({2, 3}), scale, int8_zero}, {}, 1, {Dims{2, 3}}},
      {"dequantize", "DequantizeLinear", 13, {u8({2, 3}), scale, zero}, {}, 1, {Dims{2, 3}}},
      {"dynamic quantize", "DynamicQuantizeLinear", 13, {f32({4, 8})}, {}, 3, {Dims{4, 8}, Dims{}, Dims{}}},
      {"conv integer", "ConvInteger", 13, {u8({1, 3, 10, 10}), u8({6, 3, 3, 3}), zero}, {ints_attr("pads", {1, 1, 1, 1})}, 1,
       {Dims{1, 6, 10, 10}}},
      {"qlinear conv", "QLinearConv", 13, {u8({1, 3, 10, 10}), scale, zero, u8({6, 3, 3, 3}), scale, zero, scale, zero},
       {ints_attr("strides", {2, 2})}, 1, {Dims{1, 6, 4, 4}}},
      {"matmul integer", "MatMulInteger", 13, {u8({2, 96}), u8({96, 10})}, {}, 1, {Dims{2, 10}}},
      {"qlinear matmul", "QLinearMatMul", 13, {u8({2, 96}), scale, zero, u8({96, 10}), scale, zero, scale, zero}, {}, 1,
       {Dims{2, 10}}},
      {"qlinear matmul mismatch", "QLinearMatMul", 13, {u8({2, 96}), scale, zero, u8({95, 10}), scale, zero, scale, zero},
       {}, 1, {kUnknown}},
  };
  check(cases);
  EXPECT_EQ(run_rule(cases[0])[0].elem_type, kInt8);
  EXPECT_EQ(run_rule(cases[1])[0].elem_type, kFloat);
  EXPECT_EQ(run_rule(cases[3])[0].elem_type, kInt32);
  EXPECT_EQ(run_rule(cases[4])[0].elem_type, kUint8);
}

}  // namespace
}  // namespace tarnwick
