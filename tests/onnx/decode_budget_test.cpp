// What the ONNX readers draw from the decode budget, and the graphs it refuses.
#include <gtest/gtest.h>

#include "onnx/onnx_graph.h"
#include "onnx/onnx_summary.h"
#include "onnx/onnx_tensors.h"
#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::Message;
using testing::node;
using testing::tensor_type_info;

// `count` graph inputs with no fields at all: two bytes each.
std::string model_of_empty_inputs(std::size_t count) {
  std::string graph;
  graph.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) graph += std::string("\x5a\x00", 2);
  return Message().add_varint(1, 8).add_bytes(7, graph).bytes();
}

TEST(OnnxDecodeBudget, HonestGraphDrawsItsElements) {
  Message graph;
  graph.add_message(1, node("MatMul", "mm", {"x", "w"}, {"y"}));
  graph.add_message(5, testing::initializer("w", {4, 2}, 1, std::string(32, '\0')));
  graph.add_message(11, tensor_type_info("x", 1, {"N", "4"}));
  graph.add_message(12, tensor_type_info("y", 1, {"N", "2"}));
  std::string bytes = testing::model(graph);

  // Node 1 + its inputs and output 3, initializer 1 + dims 2, each value info 3 + dims 2,
  // opset import 1; the costed MatMul's inputs and output are read again once shapes are known.
  DecodeBudget summary_budget(bytes.size());
  ASSERT_TRUE(summarize_onnx_bytes("m.onnx", bytes, summary_budget).is_ok());
  EXPECT_EQ(summary_budget.drawn(), 4u + 3u + 5u + 5u + 1u + 3u);

  DecodeBudget model_budget(bytes.size());
  ASSERT_TRUE(decode_onnx_model(bytes, model_budget).is_ok());
  EXPECT_EQ(model_budget.drawn(), 4u + 3u + 5u + 5u + 1u);
}

TEST(OnnxDecodeBudget, EmptyGraphInputsCostThreeElementsEach) {
  std::string bytes = model_of_empty_inputs(1000);
  DecodeBudget budget(bytes.size());
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", bytes, budget);
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  EXPECT_EQ(summary.value().inputs.size(), 1000u);
  EXPECT_EQ(budget.drawn(), 3000u);
}

TEST(OnnxDecodeBudget, MoreEmptyGraphInputsThanTheBudgetAreRefusedUnderEveryReader) {
  // Three elements per two-byte input outgrow a budget of the bytes plus 64 Ki from 65,536 inputs.
  std::string bytes = model_of_empty_inputs(400000);
  std::string expected = "decoding ONNX graph inputs, outputs and value infos exceeded the budget of " +
                         std::to_string(bytes.size() + 65536) + " elements for " + std::to_string(bytes.size()) +
                         " input bytes";

  DecodeBudget budget(bytes.size());
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", bytes, budget);
  ASSERT_FALSE(summary.is_ok());
  EXPECT_EQ(summary.message(), expected);
  EXPECT_EQ(budget.drawn(), 0u) << "refused before any input is decoded";

  Result<OnnxModel> model = decode_onnx_model(bytes);
  ASSERT_FALSE(model.is_ok());
  EXPECT_EQ(model.message(), expected);

  testing::TempDir dir;
  testing::CommandRun run = testing::run_command({"onnx", "--json", dir.write("inputs.onnx", bytes)});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
}

// Graphs inside If nodes inside graphs, `levels` deep.
std::string nested_graphs(int levels) {
  Message graph;
  for (int level = 0; level < levels; ++level) {
    Message holder = node("If", "", {"c"}, {"y"});
    holder.add_message(5, testing::graph_attribute("then_branch", graph));
    graph = Message().add_message(1, holder);
  }
  return testing::model(graph);
}

TEST(OnnxDecodeBudget, SubgraphNestingIsLimitedTheSameWayByBothGraphReaders) {
  std::string deepest = nested_graphs(DecodeBudget::kMaxGraphNesting);
  DecodeBudget budget(deepest.size());
  ASSERT_TRUE(decode_onnx_model(deepest, budget).is_ok());
  // Each level: its If node 1, the node's input, output and attribute 3; then the opset import.
  EXPECT_EQ(budget.drawn(), 4u * DecodeBudget::kMaxGraphNesting + 1);
  EXPECT_TRUE(onnx_tensor_table_from_bytes("m.onnx", deepest).is_ok());

  std::string too_deep = nested_graphs(DecodeBudget::kMaxGraphNesting + 1);
  Result<OnnxModel> model = decode_onnx_model(too_deep);
  ASSERT_FALSE(model.is_ok());
  EXPECT_EQ(model.message(), "ONNX graph nesting exceeded 64 levels");
  Result<TensorTable> tensors = onnx_tensor_table_from_bytes("m.onnx", too_deep);
  ASSERT_FALSE(tensors.is_ok());
  EXPECT_EQ(tensors.message(), "subgraphs nested deeper than 64 levels");
}

}  // namespace
}  // namespace tarnwick
