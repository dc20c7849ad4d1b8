#include <gtest/gtest.h>

#include "onnx/profile/activation_peak.h"
#include "onnx/profile/model_profile.h"
#include "onnx/profile/node_cost.h"
#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::graph_attribute;
using testing::ints_attribute;
using testing::Message;
using testing::node;
using testing::tensor_type_info;

std::string int64_raw(const std::vector<std::int64_t>& values) {
  std::string raw;
  for (std::int64_t value : values)
    for (int k = 0; k < 8; ++k) raw.push_back(static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * k)) & 0xFF));
  return raw;
}

Message int64_initializer(const std::string& name, const std::vector<std::uint64_t>& dims,
                          const std::vector<std::int64_t>& values) {
  return testing::initializer(name, dims, 7, int64_raw(values));
}

std::string model_with_opset(const Message& graph, std::uint64_t opset) {
  Message model;
  model.add_varint(1, 8).add_message(7, graph).add_message(8, Message().add_varint(2, opset));
  return model.bytes();
}

struct Profiled {
  std::string bytes;
  OnnxModel model;
  ModelProfile profile;
};

std::unique_ptr<Profiled> profile_of(const Message& graph, std::uint64_t opset,
                                     std::map<std::string, std::int64_t> dims = {}) {
  auto result = std::make_unique<Profiled>();
  result->bytes = model_with_opset(graph, opset);
  Result<OnnxModel> model = decode_onnx_model(result->bytes);
  EXPECT_TRUE(model.is_ok()) << model.message();
  result->model = model.take();
  result->profile = profile_model("m.onnx", result->model, std::move(dims));
  return result;
}

const KnownValue* output_named(const ModelProfile& profile, const std::string& name) {
  for (const WalkedNode& walked : profile.walk.nodes)
    for (std::size_t k = 0; k < walked.outputs.size(); ++k)
      if (walked.node->outputs[k] == name) return &walked.outputs[k];
  return nullptr;
}

// Shape -> Gather -> Unsqueeze -> Concat -> Reshape, as exporters write a flatten.
Message export_flatten_graph(bool unsqueeze_axes_as_input) {
  Message unsqueeze = node("Unsqueeze", "u", {"batch"}, {"batch_1d"});
  if (unsqueeze_axes_as_input) {
    unsqueeze = node("Unsqueeze", "u", {"batch", "zero_axes"}, {"batch_1d"});
  } else {
    unsqueeze.add_message(5, ints_attribute("axes", {0}));
  }
  Message graph;
  graph.add_message(1, node("Shape", "s", {"x"}, {"x_shape"}))
      .add_message(1, node("Gather", "g", {"x_shape", "zero"}, {"batch"}))
      .add_message(1, unsqueeze)
      .add_message(1, node("Concat", "c", {"batch_1d", "minus_one"}, {"target"}).add_message(5, testing::int_attribute("axis", 0)))
      .add_message(1, node("Reshape", "r", {"x", "target"}, {"flat"}))
      .add_message(1, node("MatMul", "mm", {"flat", "w"}, {"y"}))
      .add_message(5, int64_initializer("zero", {}, {0}))
      .add_message(5, int64_initializer("zero_axes", {1}, {0}))
      .add_message(5, int64_initializer("minus_one", {1}, {-1}))
      .add_message(5, testing::initializer("w", {12, 5}, 1, std::string(240, '\0')))
      .add_message(11, tensor_type_info("x", 1, {"batch", "3", "4"}))
      .add_message(12, tensor_type_info("y", 1, {"batch", "5"}));
  return graph;
}

TEST(ProfileGraph, ExportShapeArithmeticResolves) {
  struct Case {
    std::uint64_t opset;
    bool axes_input;
    std::map<std::string, std::int64_t> dims;
    Dims flat;
  };
  const Case cases[] = {
      {11, false, {}, {1, 12}},
      {13, true, {}, {1, 12}},
      {13, true, {{"batch", 8}}, {8, 12}},
  };
  for (const Case& c : cases) {
    auto run = profile_of(export_flatten_graph(c.axes_input), c.opset, c.dims);
    const ModelProfile& p = run->profile;
    const KnownValue* flat = output_named(p, "flat");
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->shape, c.flat) << c.opset;
    EXPECT_EQ(p.nodes_resolved, 6u);
    EXPECT_EQ(p.macs, static_cast<std::uint64_t>(c.flat[0]) * 12 * 5);
    EXPECT_EQ(p.parameters, 1u + 1 + 1 + 60);
    EXPECT_EQ(p.dims.assumed.size(), c.dims.empty() ? 1u : 0u);
    EXPECT_EQ(p.stated.agree + p.stated.differ, 0u) << "y's batch dim is symbolic";
  }
}

TEST(ProfileGraph, UnknownStaysUnknownDownstream) {
  Message graph;
  graph.add_message(1, node("NonZero", "nz", {"x"}, {"idx"}))
      .add_message(1, node("Relu", "r", {"idx"}, {"y"}))
      .add_message(1, node("Add", "a", {"x", "x"}, {"z"}))
      .add_message(1, node("Custom", "c", {"x"}, {"q"}).add_bytes(7, "com.example"))
      .add_message(11, tensor_type_info("x", 1, {"2", "?"}))
      .add_message(13, tensor_type_info("z", 1, {"2", "3"}));
  auto run = profile_of(graph, 17);
  const ModelProfile& p = run->profile;
  EXPECT_EQ(p.nodes_resolved, 0u);
  EXPECT_EQ(p.nodes_costed, 0u);
  EXPECT_EQ(p.outputs_resolved, 0u);
  EXPECT_EQ(p.stated.agree, 0u) << "a stated shape is a cross-check, never a source";
}

// An If costs its larger branch; a Loop its body times a constant trip count, and leaves the
// totals incomplete when the count is unknown.
TEST(ProfileGraph, IfBranchesAndLoopBodiesAreWalked) {
  Message then_branch;
  then_branch.add_message(1, node("Relu", "then_relu", {"x"}, {"t"})).add_message(12, tensor_type_info("t", 1, {"?"}));
  Message else_branch;
  else_branch.add_message(1, node("Neg", "else_neg", {"x"}, {"e0"}))
      .add_message(1, node("Neg", "else_neg2", {"e0"}, {"e"}))
      .add_message(5, testing::initializer("unused", {3}, 1, std::string(12, '\0')))
      .add_message(12, tensor_type_info("e", 1, {"?"}));
  Message body;
  body.add_message(1, node("Add", "acc", {"carried", "x"}, {"next"}))
      .add_message(1, node("Identity", "keep", {"cond_in"}, {"cond_out"}))
      .add_message(11, tensor_type_info("i", 7, {}))
      .add_message(11, tensor_type_info("cond_in", 9, {}))
      .add_message(11, tensor_type_info("carried", 1, {"?"}))
      .add_message(12, tensor_type_info("cond_out", 9, {}))
      .add_message(12, tensor_type_info("next", 1, {"?"}));
  struct Case {
    std::vector<std::string> loop_inputs;
    std::uint64_t other_ops;
    std::optional<std::uint64_t> body_runs;
  };
  const Case cases[] = {
      {{"", "", "x"}, 12 + 6, std::nullopt},       // no trip count: the loop is unresolved
      {{"trips", "", "x"}, 12 + 3 * 6 + 6, 3},     // the else branch (two Negs) and the body 3 times
      {{"trips", "flag", "x"}, 12 + 6, std::nullopt},  // a condition that may stop it early
  };
  for (const Case& c : cases) {
    Message graph;
    graph.add_message(1, node("If", "branch", {"flag"}, {"chosen"})
                             .add_message(5, graph_attribute("then_branch", then_branch))
                             .add_message(5, graph_attribute("else_branch", else_branch)))
        .add_message(1, node("Loop", "loop", c.loop_inputs, {"summed"}).add_message(5, graph_attribute("body", body)))
        .add_message(1, node("Mul", "after", {"chosen", "summed"}, {"out"}))
        .add_message(5, int64_initializer("trips", {}, {3}))
        .add_message(11, tensor_type_info("flag", 9, {}))
        .add_message(11, tensor_type_info("x", 1, {"6"}))
        .add_message(12, tensor_type_info("out", 1, {"6"}));
    auto run = profile_of(graph, 17);
    const ModelProfile& p = run->profile;
    SCOPED_TRACE(c.loop_inputs[0] + "," + c.loop_inputs[1]);
    EXPECT_EQ(p.node_count, 8u);
    EXPECT_EQ(p.walk.main_node_count, 3u);
    EXPECT_EQ(p.nodes_resolved, 8u);
    EXPECT_EQ(output_named(p, "chosen")->shape, Dims{6});
    EXPECT_EQ(output_named(p, "summed")->shape, Dims{6});
    EXPECT_EQ(p.other_ops, c.other_ops) << "Identity costs nothing";
    EXPECT_EQ(p.parameters, 4u);
    EXPECT_EQ(p.stated.agree, 1u);
    ASSERT_EQ(p.walk.subgraphs.size(), 3u);
    EXPECT_EQ(p.walk.subgraphs[0].path, "branch/then_branch");
    EXPECT_EQ(p.walk.subgraphs[0].runs, 0u);
    EXPECT_EQ(p.walk.subgraphs[1].owner, "branch");
    EXPECT_EQ(p.walk.subgraphs[1].runs, 1u);
    EXPECT_EQ(p.walk.subgraphs[1].initializer_count, 1u);
    EXPECT_EQ(p.walk.subgraphs[2].path, "loop/body");
    EXPECT_EQ(p.walk.subgraphs[2].node_count, 2u);
    EXPECT_EQ(p.walk.subgraphs[2].other_ops, 6u);
    EXPECT_EQ(p.walk.subgraphs[2].runs, c.body_runs);
    EXPECT_EQ(p.incomplete(), !c.body_runs);
    if (!c.body_runs) {
      ASSERT_EQ(p.unresolved.size(), 1u);
      EXPECT_EQ(p.unresolved[0]->name, "loop");
    }
    std::uint64_t by_op_type = 0;
    for (const OpTypeCost& row : p.by_op_type) by_op_type += row.other_ops;
    EXPECT_EQ(by_op_type, p.other_ops) << "the table adds up to the totals";
  }
}

// Nodes are walked in the order their edges give, whatever order the file stores them in; a
// cycle or an input nothing produces leaves its nodes unresolved, and the walk ends.
TEST(ProfileGraph, WalkOrderComesFromTheEdges) {
  struct Case {
    std::string label;
    std::vector<Message> nodes;
    std::uint64_t macs;
    std::vector<std::string> unresolved;
  };
  Message matmul = node("MatMul", "mm", {"x", "w"}, {"h"});
  Message relu = node("Relu", "act", {"h"}, {"a"});
  Message head = node("MatMul", "head", {"a", "w"}, {"y"});
  const Case cases[] = {
      {"stored in order", {matmul, relu, head}, 2 * 4 * 4 * 2, {}},
      {"stored in reverse", {head, relu, matmul}, 2 * 4 * 4 * 2, {}},
      {"a cycle through two nodes",
       {node("Relu", "first", {"second_out"}, {"first_out"}), node("Relu", "second", {"first_out"}, {"second_out"}), matmul},
       2 * 4 * 4, {"first", "second"}},
      {"a node reading its own output", {node("Add", "self", {"x", "self_out"}, {"self_out"}), matmul}, 2 * 4 * 4,
       {"self"}},
      {"an input nothing produces", {node("MatMul", "orphan", {"never_made", "w"}, {"o"}), matmul}, 2 * 4 * 4,
       {"orphan"}},
  };
  for (const Case& c : cases) {
    Message graph;
    for (const Message& stored : c.nodes) graph.add_message(1, stored);
    graph.add_message(5, testing::initializer("w", {4, 4}, 1, std::string(64, '\0')))
        .add_message(11, tensor_type_info("x", 1, {"2", "4"}));
    auto run = profile_of(graph, 17);
    const ModelProfile& p = run->profile;
    EXPECT_EQ(p.node_count, c.nodes.size()) << c.label;
    EXPECT_EQ(p.macs, c.macs) << c.label;
    std::vector<std::string> unresolved;
    for (const WalkedNode* walked : p.unresolved) unresolved.push_back(walked->name);
    std::sort(unresolved.begin(), unresolved.end());
    EXPECT_EQ(unresolved, c.unresolved) << c.label;
    EXPECT_EQ(p.incomplete(), !c.unresolved.empty()) << c.label;
  }
}

// Outputs computed from weights alone (a Constant, an exporter's Identity copy of a shared
// weight, a weight's Transpose) are weights, not activations.
TEST(ProfileGraph, WeightDerivedValuesAreNotActivations) {
  Message graph;
  graph.add_message(1, node("Identity", "shared_copy", {"w"}, {"w_copy"}))
      .add_message(1, node("Transpose", "w_t", {"w_copy"}, {"w_t_out"}))
      .add_message(1, node("MatMul", "mm", {"x", "w_t_out"}, {"y"}))
      .add_message(5, testing::initializer("w", {256, 256}, 1, std::string(256 * 256 * 4, '\0')))
      .add_message(11, tensor_type_info("x", 1, {"1", "256"}))
      .add_message(12, tensor_type_info("y", 1, {"1", "256"}));
  auto run = profile_of(graph, 17);
  EXPECT_EQ(run->profile.peak_activation_bytes, 1024u) << "only y ([1, 256] float32)";
  EXPECT_EQ(run->profile.parameter_bytes, 256u * 256 * 4);
}

TEST(ProfileGraph, BranchesThatDisagreeLeaveTheOutputUnknown) {
  Message then_branch;
  then_branch.add_message(1, node("Relu", "", {"x"}, {"t"})).add_message(12, tensor_type_info("t", 1, {"?"}));
  Message else_branch;
  else_branch.add_message(1, node("Concat", "", {"x", "x"}, {"e"}).add_message(5, testing::int_attribute("axis", 0)))
      .add_message(12, tensor_type_info("e", 1, {"?"}));
  Message graph;
  graph.add_message(1, node("If", "", {"flag"}, {"chosen"})
                           .add_message(5, graph_attribute("then_branch", then_branch))
                           .add_message(5, graph_attribute("else_branch", else_branch)))
      .add_message(11, tensor_type_info("flag", 9, {}))
      .add_message(11, tensor_type_info("x", 1, {"6"}));
  auto run = profile_of(graph, 17);
  EXPECT_EQ(output_named(run->profile, "chosen")->shape, std::nullopt);
  EXPECT_EQ(run->profile.walk.subgraphs[0].path, "node_1/then_branch");
}

TEST(ProfileGraph, OmittedOptionalOutputsAreNotCounted) {
  Message graph;
  graph.add_message(1, node("LSTM", "lstm", {"x", "w", "r"}, {"", "h"}).add_message(5, testing::int_attribute("hidden_size", 4)))
      .add_message(5, testing::initializer("w", {1, 16, 3}, 1, std::string(16 * 3 * 4, '\0')))
      .add_message(5, testing::initializer("r", {1, 16, 4}, 1, std::string(16 * 4 * 4, '\0')))
      .add_message(11, tensor_type_info("x", 1, {"5", "2", "3"}))
      .add_message(12, tensor_type_info("h", 1, {"1", "2", "4"}));
  auto run = profile_of(graph, 14);
  const ModelProfile& p = run->profile;
  EXPECT_EQ(p.output_count, 1u);
  EXPECT_EQ(p.outputs_resolved, 1u);
  EXPECT_EQ(p.nodes_resolved, 1u);
  EXPECT_EQ(p.macs, 4u * (3 + 4) * 4 * 5 * 2);
  EXPECT_EQ(p.stated.agree, 1u);
}

TEST(ProfileGraph, PeakActivation) {
  using Step = ActivationStep;
  struct Case {
    std::string label;
    std::vector<Step> steps;
    std::set<std::string, std::less<>> outputs;
    std::uint64_t peak;
  };
  const Case cases[] = {
      {"chain frees each input after its consumer",
       {{{"x"}, {{"a", 100}}}, {{"a"}, {{"b", 10}}}, {{"b"}, {{"c", 1}}}},
       {"c"},
       110},
      {"a value read late stays live",
       {{{"x"}, {{"a", 100}}}, {{"x"}, {{"b", 10}}}, {{"b"}, {{"c", 1}}}, {{"a", "c"}, {{"d", 1}}}},
       {"d"},
       111},
      {"graph outputs live to the end", {{{"x"}, {{"a", 50}}}, {{"x"}, {{"b", 60}}}}, {"a", "b"}, 110},
      {"unused outputs are freed at once", {{{"x"}, {{"a", 50}, {"mask", 5}}}, {{"a"}, {{"b", 50}}}}, {"b"}, 100},
      {"unknown sizes count nothing", {{{"x"}, {{"a", std::nullopt}}}, {{"a"}, {{"b", 7}}}}, {"b"}, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(peak_activation_bytes(c.steps, c.outputs), c.peak) << c.label;
}

TEST(ProfileGraph, NodeCosts) {
  struct Case {
    std::string op;
    std::vector<std::optional<Dims>> inputs;
    std::vector<Dims> outputs;
    std::vector<std::pair<std::string, std::int64_t>> attributes;
    std::optional<std::uint64_t> macs, other;
  };
  const Case cases[] = {
      {"MatMul", {Dims{2, 4, 5}, Dims{5, 6}}, {Dims{2, 4, 6}}, {}, 2 * 4 * 6 * 5, 0},
      {"MatMul", {Dims{5}, Dims{5}}, {Dims{}}, {}, 5, 0},
      {"Gemm", {Dims{5, 4}, Dims{5, 6}, Dims{6}}, {Dims{4, 6}}, {{"transA", 1}}, 4 * 6 * 5, 24},
      {"Gemm", {Dims{4, 5}, Dims{5, 6}}, {Dims{4, 6}}, {}, 4 * 6 * 5, 0},
      {"Conv", {Dims{1, 8, 5, 5}, Dims{8, 2, 3, 3}}, {Dims{1, 8, 3, 3}}, {{"group", 4}}, 8 * 9 * 2 * 9, 0},
      {"ConvTranspose", {Dims{1, 4, 5, 5}, Dims{4, 2, 3, 3}}, {Dims{1, 4, 10, 10}}, {{"group", 2}}, 4 * 25 * 2 * 9, 0},
      {"MaxPool", {Dims{1, 3, 8, 8}}, {Dims{1, 3, 4, 4}}, {}, std::nullopt, std::nullopt},
      {"GlobalAveragePool", {Dims{1, 3, 8, 8}}, {Dims{1, 3, 1, 1}}, {}, 0, 192},
      {"Relu", {Dims{2, 3}}, {Dims{2, 3}}, {}, 0, 6},
      {"Reshape", {Dims{2, 3}, Dims{1}}, {Dims{6}}, {}, 0, 0},
      {"LSTM", {Dims{10, 2, 8}, Dims{1, 64, 8}}, {Dims{10, 1, 2, 16}}, {}, 4 * (8 + 16) * 16 * 10 * 2, 0},
      {"MatMul", {Dims{2, 4}, std::nullopt}, {}, {}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    OnnxGraphNode n;
    n.op_type = c.op;
    for (const auto& [name, value] : c.attributes) {
      OnnxAttribute attribute;
      attribute.name = name;
      attribute.i = value;
      n.attributes.push_back(attribute);
    }
    std::vector<KnownValue> inputs;
    for (const auto& dims : c.inputs) inputs.push_back(dims ? shaped(kFloat, *dims) : KnownValue{});
    std::vector<const KnownValue*> pointers;
    for (const KnownValue& input : inputs) pointers.push_back(&input);
    for (std::size_t k = 0; k < inputs.size(); ++k) n.inputs.push_back("i" + std::to_string(k));
    std::vector<KnownValue> outputs;
    for (const Dims& dims : c.outputs) outputs.push_back(shaped(kFloat, dims));
    if (outputs.empty()) outputs.emplace_back();
    NodeCost cost = node_cost(n, pointers, outputs);
    EXPECT_EQ(cost.macs, c.macs) << c.op;
    EXPECT_EQ(cost.other_ops, c.other) << c.op;
  }
}

}  // namespace
}  // namespace tarnwick
