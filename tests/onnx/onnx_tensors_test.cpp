#include <gtest/gtest.h>

#include "onnx/onnx_tensors.h"
#include "proto_builder.h"
#include "tables/content_hash.h"

namespace tarnwick::testing {
namespace {

Message attribute_with_graph(const std::string& name, std::uint32_t field, const Message& graph) {
  Message attribute;
  attribute.add_bytes(1, name).add_message(field, graph);
  return attribute;
}

TEST(OnnxTensors, ReadsSubgraphInitializersTypedFieldsAndExternalData) {
  Message then_branch, body_a, body_b;
  then_branch.add_message(5, initializer("then.w", {2}, 1, std::string(8, '\x01')));
  body_a.add_message(5, initializer("body.w", {1}, 7, std::string(8, '\x02')));
  Message nested_if = node("If", "inner", {"c"}, {"y"});
  nested_if.add_message(5, attribute_with_graph("then_branch", 6, then_branch));
  body_b.add_message(1, nested_if);

  Message if_node = node("If", "outer", {"c"}, {"x"});
  if_node.add_message(5, attribute_with_graph("then_branch", 6, then_branch));
  Message loop_node = node("Loop", "loop", {}, {"z"});
  loop_node.add_message(5, attribute_with_graph("bodies", 11, body_a).add_message(11, body_b));

  Message half;  // float16 in int32_data: each value's low 16 bits
  half.add_varint(1, 2).add_varint(2, 10).add_bytes(8, "half").add_varint(5, 0x3c00).add_varint(5, 0xc000);
  Message external;
  Message location;
  location.add_bytes(1, "location").add_bytes(2, "weights.bin");
  external.add_varint(1, 4).add_varint(2, 1).add_bytes(8, "ext").add_message(13, location).add_varint(14, 1);
  Message unknown;
  unknown.add_varint(1, 3).add_varint(2, 99).add_bytes(8, "odd");

  Message graph;
  graph.add_message(5, initializer("main.w", {2, 2}, 1, std::string(16, '\x03')))
      .add_message(1, if_node)
      .add_message(1, loop_node)
      .add_message(5, half)
      .add_message(5, external)
      .add_message(5, unknown);
  std::string bytes = model(graph);
  Result<TensorTable> table = onnx_tensor_table_from_bytes("m.onnx", bytes);
  ASSERT_TRUE(table.is_ok()) << table.message();
  const auto& tensors = table.value().tensors;

  struct Expected {
    std::string name, dtype;
    std::vector<std::uint64_t> shape;
    std::uint64_t bytes;
    bool has_range;
  };
  const std::vector<Expected> expected{
      {"main.w", "float32", {2, 2}, 16, true},   {"then.w", "float32", {2}, 8, true},
      {"body.w", "int64", {1}, 8, true},         {"then.w", "float32", {2}, 8, true},
      {"half", "float16", {2}, 4, false},        {"ext", "float32", {4}, 16, false},
      {"odd", "unknown(99)", {3}, 0, false},
  };
  ASSERT_EQ(tensors.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(tensors[i].name, expected[i].name);
    EXPECT_EQ(tensors[i].dtype, expected[i].dtype);
    EXPECT_EQ(tensors[i].shape, expected[i].shape);
    EXPECT_EQ(tensors[i].bytes, expected[i].bytes);
    EXPECT_EQ(tensors[i].data.has_value(), expected[i].has_range);
    EXPECT_EQ(tensors[i].offset.has_value(), expected[i].has_range);
    if (expected[i].has_range) {
      EXPECT_EQ(bytes.substr(*tensors[i].offset, tensors[i].bytes), std::string(tensors[i].bytes, bytes[*tensors[i].offset]));
    }
  }
  EXPECT_EQ(tensors[4].content_hash, xxh3_64(std::string("\x00\x3c\x00\xc0", 4)));
  EXPECT_FALSE(tensors[5].content_hash.has_value());
}

TEST(OnnxTensors, BoundsSubgraphNesting) {
  Message graph;
  graph.add_message(5, initializer("w", {1}, 1, std::string(4, '\0')));
  for (int depth = 0; depth < 70; ++depth) {
    Message wrapper = node("If", "n", {}, {});
    wrapper.add_message(5, attribute_with_graph("then_branch", 6, graph));
    Message outer;
    outer.add_message(1, wrapper);
    graph = outer;
  }
  Result<TensorTable> table = onnx_tensor_table_from_bytes("deep.onnx", model(graph));
  ASSERT_FALSE(table.is_ok());
  EXPECT_EQ(table.message(), "subgraphs nested deeper than 64 levels");
}

}  // namespace
}  // namespace tarnwick::testing
