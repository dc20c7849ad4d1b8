#include <gtest/gtest.h>

#include "onnx/onnx_tensors.h"
#include <filesystem>

#include "proto_builder.h"
#include "tables/content_hash.h"
#include "test_support.h"

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
  // A graph's own initializers first, then its nodes' subgraphs in node order.
  const std::vector<Expected> expected{
      {"main.w", "float32", {2, 2}, 16, true},   {"half", "float16", {2}, 4, false},
      {"ext", "float32", {4}, 16, false},        {"odd", "unknown(99)", {3}, 0, false},
      {"then.w", "float32", {2}, 8, true},       {"body.w", "int64", {1}, 8, true},
      {"then.w", "float32", {2}, 8, true},
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
  EXPECT_EQ(tensors[1].content_hash, xxh3_64(std::string("\x00\x3c\x00\xc0", 4)));
  EXPECT_FALSE(tensors[2].content_hash.has_value());
  EXPECT_EQ(tensors[2].unreadable_reason, "external data file \"weights.bin\" not found");
  EXPECT_EQ(tensors[3].unreadable_reason, "data type 99 is not known");
}

Message attribute(const std::string& name) {
  Message message;
  message.add_bytes(1, name);
  return message;
}

Message constant(const std::string& output, const Message& value) {
  Message message = node("Constant", "", {}, {output});
  message.add_message(5, value);
  return message;
}

// Weights exporters keep in Constant nodes and sparse initializers, each named, sized and
// fingerprinted over its element bytes like an initializer.
TEST(OnnxTensors, ReadsConstantNodesAndSparseInitializers) {
  const std::string floats_bytes("\x00\x00\x80\x3f\x00\x00\x00\x40", 8);  // 1.0f, 2.0f
  const std::string values("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  const std::string indices = le64(3) + le64(17);
  Message sparse;
  sparse.add_message(1, initializer("sparse.w", {2}, 1, values))
      .add_message(2, initializer("", {2}, 7, indices))
      .add_varint(3, 4)
      .add_varint(3, 5);
  Message custom = node("Constant", "", {}, {"custom.out"});
  custom.add_message(5, attribute("value_int").add_varint(3, 9)).add_bytes(7, "com.example");
  Message typed_value;  // a TensorProto with int64_data and a name of its own
  typed_value.add_varint(1, 2).add_varint(2, 7).add_bytes(8, "inner").add_varint(7, 5).add_varint(7, static_cast<std::uint64_t>(-5));

  Message graph;
  graph.add_message(1, constant("c.raw", attribute("value").add_message(5, initializer("", {2, 1}, 1, floats_bytes))))
      .add_message(1, constant("c.typed", attribute("value").add_message(5, typed_value)))
      .add_message(1, constant("c.float", attribute("value_float").add_fixed32(2, floats_bytes.substr(4))))
      .add_message(1, constant("c.floats", attribute("value_floats").add_bytes(7, floats_bytes)))
      .add_message(1, constant("c.int", attribute("value_int").add_varint(3, static_cast<std::uint64_t>(-3))))
      .add_message(1, constant("c.ints", attribute("value_ints").add_bytes(8, varint(1) + varint(300))))
      .add_message(1, constant("c.strings", attribute("value_strings").add_bytes(9, "ab").add_bytes(9, "c")))
      .add_message(1, constant("c.sparse", attribute("sparse_value").add_message(22, sparse)))
      .add_message(1, custom)
      .add_message(1, node("Relu", "", {"x"}, {"y"}))
      .add_message(15, sparse);
  std::string bytes = model(graph);
  Result<TensorTable> table = onnx_tensor_table_from_bytes("m.onnx", bytes);
  ASSERT_TRUE(table.is_ok()) << table.message();

  struct Expected {
    std::string name, dtype;
    std::vector<std::uint64_t> shape;
    std::uint64_t numel, bytes;
    std::string element_bytes;
    bool in_file;  // a byte range of the model file
  };
  const std::vector<Expected> expected{
      {"sparse.w", "float32", {4, 5}, 20, 24, values + indices, false},
      {"c.raw", "float32", {2, 1}, 2, 8, floats_bytes, true},
      {"c.typed", "int64", {2}, 2, 16, le64(5) + le64(static_cast<std::uint64_t>(-5)), false},
      {"c.float", "float32", {}, 1, 4, floats_bytes.substr(4), false},
      {"c.floats", "float32", {2}, 2, 8, floats_bytes, false},
      {"c.int", "int64", {}, 1, 8, le64(static_cast<std::uint64_t>(-3)), false},
      {"c.ints", "int64", {2}, 2, 16, le64(1) + le64(300), false},
      {"c.strings", "string", {2}, 2, 3, le64(2) + "ab" + le64(1) + "c", false},
      {"c.sparse", "float32", {4, 5}, 20, 24, values + indices, false},
  };
  const std::vector<TensorEntry>& tensors = table.value().tensors;
  ASSERT_EQ(tensors.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    const TensorEntry& tensor = tensors[i];
    EXPECT_EQ(tensor.name, expected[i].name);
    EXPECT_EQ(tensor.dtype, expected[i].dtype);
    EXPECT_EQ(tensor.shape, expected[i].shape);
    EXPECT_EQ(tensor.numel, expected[i].numel);
    EXPECT_EQ(tensor.bytes, expected[i].bytes);
    EXPECT_FALSE(tensor.unreadable_reason.has_value());
    ASSERT_EQ(tensor.data.has_value(), expected[i].in_file);
    if (tensor.data) {
      EXPECT_EQ(bytes.substr(tensor.data->offset, tensor.data->length), expected[i].element_bytes);
    } else {
      EXPECT_EQ(tensor.content_hash, xxh3_64(expected[i].element_bytes));
    }
  }
}

// External data is found beside the model and checked before anything reads it; what cannot
// be read keeps the reason.
TEST(OnnxTensors, LocatesExternalDataOrSaysWhy) {
  TempDir dir;
  dir.write("weights.bin", std::string(64, '\x05'));
  std::filesystem::create_directories(dir.path() / "sub");
  dir.write("sub/inner.bin", std::string(16, '\x06'));
  struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    std::uint64_t elements;
    std::string file;  // the range's file under dir, or empty when there is none
    std::uint64_t offset, length;
    std::string reason;
  };
  const std::vector<Case> cases{
      {"whole", {{"location", "weights.bin"}}, 4, "weights.bin", 0, 16, ""},
      {"placed", {{"location", "weights.bin"}, {"offset", "32"}, {"length", "32"}}, 8, "weights.bin", 32, 32, ""},
      {"in a folder", {{"location", "sub/./inner.bin"}}, 4, "sub/./inner.bin", 0, 16, ""},
      {"ends the file", {{"location", "weights.bin"}, {"offset", "48"}}, 4, "weights.bin", 48, 16, ""},
      {"short", {{"location", "weights.bin"}, {"offset", "56"}}, 4, "", 0, 0,
       "external data file \"weights.bin\" holds 64 bytes; the tensor needs 16 from offset 56"},
      {"past the end", {{"location", "weights.bin"}, {"offset", "65"}}, 4, "", 0, 0,
       "external data file \"weights.bin\" holds 64 bytes, fewer than the offset 65"},
      {"missing", {{"location", "gone.bin"}}, 4, "", 0, 0, "external data file \"gone.bin\" not found"},
      {"a folder", {{"location", "sub"}}, 4, "", 0, 0, "external data location \"sub\" is not a regular file"},
      {"no location", {{"offset", "0"}}, 4, "", 0, 0, "external data without a location"},
      {"absolute", {{"location", "/etc/passwd"}}, 4, "", 0, 0,
       "external data location \"/etc/passwd\" is an absolute path"},
      {"climbing", {{"location", "sub/../../weights.bin"}}, 4, "", 0, 0,
       "external data location \"sub/../../weights.bin\" leads outside the model's folder"},
      {"bad offset", {{"location", "weights.bin"}, {"offset", "-8"}}, 4, "", 0, 0,
       "external data offset \"-8\" is not a byte count"},
      {"wrong length", {{"location", "weights.bin"}, {"length", "12"}}, 4, "", 0, 0,
       "external data length 12 differs from the tensor's 16 bytes"},
  };
  Message graph;
  for (const Case& c : cases) graph.add_message(5, external_tensor(c.name, {c.elements}, c.entries));
  std::string path = dir.write("model.onnx", model(graph));
  Result<TensorTable> table = read_onnx_tensor_table(path);
  ASSERT_TRUE(table.is_ok()) << table.message();
  ASSERT_EQ(table.value().tensors.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const TensorEntry& tensor = table.value().tensors[i];
    EXPECT_EQ(tensor.bytes, cases[i].elements * 4);
    EXPECT_FALSE(tensor.offset.has_value());
    if (cases[i].file.empty()) {
      EXPECT_FALSE(tensor.data.has_value());
      EXPECT_EQ(tensor.unreadable_reason, cases[i].reason);
      continue;
    }
    ASSERT_TRUE(tensor.data.has_value()) << tensor.unreadable_reason.value_or("");
    EXPECT_EQ(tensor.data->file, (dir.path() / cases[i].file).string());
    EXPECT_EQ(tensor.data->offset, cases[i].offset);
    EXPECT_EQ(tensor.data->length, cases[i].length);
  }
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
