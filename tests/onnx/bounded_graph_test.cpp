#include <gtest/gtest.h>

#include <algorithm>

#include "onnx/onnx_summary.h"
#include "onnx/protobuf.h"
#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::Message;

std::string model_with_graph(const Message& graph) { return Message().add_varint(1, 8).add_message(7, graph).bytes(); }

Message initializer(const std::string& name, std::uint64_t dims, std::uint64_t each) {
  std::string packed;
  for (std::uint64_t i = 0; i < dims; ++i) packed += testing::varint(each);
  return Message().add_bytes(1, packed).add_varint(2, 1).add_bytes(8, name);
}

TEST(OnnxBoundedWork, SharedShapesAreMultipliedOnce) {
  // Many elementwise and MatMul nodes naming the same large shapes.
  Message graph;
  graph.add_message(5, initializer("big", 4000, 1)).add_message(5, initializer("a", 2, 3));
  for (int i = 0; i < 500; ++i) {
    graph.add_message(1, Message().add_bytes(1, "x").add_bytes(2, "big").add_bytes(4, "Relu"));
    graph.add_message(1, Message().add_bytes(1, "a").add_bytes(1, "a").add_bytes(2, "y").add_bytes(4, "MatMul"));
  }
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", model_with_graph(graph));
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  EXPECT_EQ(summary.value().node_count, 1000u);
  EXPECT_EQ(summary.value().op_estimates.size(), 1000u) << "under the pruning threshold";
  EXPECT_EQ(summary.value().estimated_ops, 500u * 1 + 500u * 2 * 3 * 3 * 3);

  ShapeMap shapes{{"big", std::vector<std::uint64_t>(4000, 1)}, {"a", {3, 3}}};
  EstimateMemo memo;
  OnnxNode relu{"Relu", std::nullopt, {"x"}, {"big"}, {}};
  OnnxNode matmul{"MatMul", std::nullopt, {"a", "a"}, {"y"}, {}};
  for (int i = 0; i < 500; ++i) {
    EXPECT_EQ(estimate_node_ops(relu, shapes, &memo), 1u);
    EXPECT_EQ(estimate_node_ops(matmul, shapes, &memo), 54u);
  }
  EXPECT_EQ(memo.dimension_steps, 4000u + 4u) << "each shape's dimensions visited once";
}

TEST(OnnxBoundedWork, ManyEstimatesKeepTheReportableOnes) {
  // 6000 Relu nodes of rising cost, named so that name order and position order differ.
  Message graph;
  for (int i = 0; i < 6000; ++i) {
    std::string output = "y" + std::to_string(i);
    graph.add_message(5, initializer(output, 1, static_cast<std::uint64_t>(i % 3000)));
    graph.add_message(1,
                      Message().add_bytes(2, output).add_bytes(3, "n" + std::to_string(9999 - i)).add_bytes(4, "Relu"));
  }
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", model_with_graph(graph));
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  std::vector<std::string> kept;
  for (const OpEstimate& estimate : summary.value().op_estimates) kept.push_back(estimate.name);
  // Costs 2999 (nodes 2999, 5999), 2998 (2998, 5998), ...: the first ten by either order
  // are nodes 2995..2999 and 5995..5999, still in graph order.
  ASSERT_GE(kept.size(), 10u);
  EXPECT_LE(kept.size(), 4096u);
  for (const char* name : {"n7000", "n7004", "n4000", "n4004"}) {
    EXPECT_NE(std::find(kept.begin(), kept.end(), name), kept.end()) << name;
  }
  EXPECT_EQ(summary.value().estimated_ops, 2u * (2999u * 3000u / 2));
}

TEST(OnnxBoundedWork, EstimatesKeptInPlaceKeepTheirNames) {
  // Equal costs: the first nodes are the reportable ones and are kept where they stand.
  Message graph;
  graph.add_message(5, initializer("y", 1, 4));
  for (int i = 0; i < 5000; ++i) {
    graph.add_message(1, Message().add_bytes(2, "y").add_bytes(3, "n" + std::to_string(i)).add_bytes(4, "Relu"));
  }
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", model_with_graph(graph));
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  const std::vector<OpEstimate>& kept = summary.value().op_estimates;
  ASSERT_GE(kept.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(kept[i].name, "n" + std::to_string(i));
    EXPECT_EQ(kept[i].op_type, "Relu");
  }
}

TEST(OnnxBoundedWork, NodesAreFoldedNotKept) {
  // Empty nodes (op type "Unknown"), named nodes mentioning attention, and an estimate's name.
  struct Case {
    Message graph;
    std::uint64_t nodes;
    bool attention;
    std::size_t estimates;
  };
  Message empty_nodes;
  for (int i = 0; i < 100000; ++i) empty_nodes.add_bytes(1, "");
  Message mentions;
  mentions.add_message(1, Message().add_bytes(1, "x").add_bytes(2, "Self_ATTENTION.out").add_bytes(4, "Add"));
  Message later_output = Message().add_message(1, Message().add_bytes(2, "y").add_bytes(4, "Relu"));
  later_output.add_message(12, Message().add_bytes(1, "y"));  // declared after the node
  const Case cases[] = {
      {empty_nodes, 100000, false, 0},
      {mentions, 1, true, 0},
      {later_output, 1, false, 1},
  };
  for (const Case& c : cases) {
    Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", model_with_graph(c.graph));
    ASSERT_TRUE(summary.is_ok()) << summary.message();
    EXPECT_EQ(summary.value().node_count, c.nodes);
    EXPECT_EQ(summary.value().node_names_mention_attention, c.attention);
    EXPECT_EQ(summary.value().op_estimates.size(), c.estimates);
  }
  Result<OnnxSummary> empty = summarize_onnx_bytes("m.onnx", model_with_graph(empty_nodes));
  EXPECT_EQ(empty.value().op_counts, (std::vector<std::pair<std::string, std::uint64_t>>{{"Unknown", 100000}}));
}

TEST(OnnxBoundedWork, FieldsAreStreamedAfterTheLevelIsChecked) {
  struct Case {
    std::string bytes;
    std::size_t visited;  // fields seen before the outcome
    const char* error;
  };
  const Case cases[] = {
      {"\x08\x01\x10\x02", 2, nullptr},
      // A malformed last field is reported before the first one is visited.
      {"\x08\x01\x12\x05"
       "ab",
       0, "protobuf length-delimited field exceeded input length"},
      {"\x08\x01\x0B", 0, "unsupported protobuf wire type 3"},
  };
  for (const Case& c : cases) {
    std::size_t visited = 0;
    Status status = for_each_field(c.bytes, [&](const ProtoField&) {
      ++visited;
      return Status::ok();
    });
    EXPECT_EQ(visited, c.visited);
    if (c.error) {
      EXPECT_EQ(status.message(), c.error);
    } else {
      EXPECT_TRUE(status.is_ok());
    }
  }
}

TEST(OnnxBoundedWork, PackedDimsAreHeldAsTheyCame) {
  // A shape of many one-byte dims keeps about a byte per dim; large and zero dims round-trip.
  const std::vector<std::uint64_t> wide = {0, 1, 127, 128, 300, 1ULL << 35, ~0ULL};
  DimList list;
  for (std::uint64_t dim : wide) list.push_back(dim);
  EXPECT_EQ(list.size(), wide.size());
  EXPECT_EQ(list.to_vector(), wide);
  EXPECT_EQ(list, DimList({0, 1, 127, 128, 300, 1ULL << 35, ~0ULL}));
  EXPECT_NE(list, DimList({0, 1, 127, 128, 300, 1ULL << 35}));

  constexpr std::uint64_t kDims = 200000;
  Message graph;
  graph.add_message(5, initializer("w", kDims, 2));
  Result<OnnxSummary> summary = summarize_onnx_bytes("m.onnx", model_with_graph(graph));
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  const DimList& dims = summary.value().initializers[0].dims;
  EXPECT_EQ(dims.size(), kDims);
  EXPECT_EQ(dims.byte_size(), kDims) << "one byte held per one-byte dim";
  EXPECT_EQ(element_count(summary.value().initializers[0]), 0u) << "2^200000 wraps to 0";

  // The text report still lists every dim.
  testing::TempDir dir;
  std::string path = dir.write("w.onnx", model_with_graph(Message().add_message(5, initializer("w", 3, 200))));
  testing::CommandRun run = testing::run_command({"onnx", path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  w [200, 200, 200] 8000000 values / "), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tarnwick
