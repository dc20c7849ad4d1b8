#include <gtest/gtest.h>

#include "base/format.h"
#include "onnx/onnx_summary.h"
#include "proto_builder.h"

namespace tarnwick {
namespace {

using testing::initializer;
using testing::int_attribute;
using testing::Message;
using testing::node;
using testing::tensor_type_info;

Result<OnnxSummary> summarize_model(const std::string& bytes) { return summarize_onnx_bytes("models/m.onnx", bytes); }

TEST(OnnxReader, ModelGraphAndTotals) {
  Message graph;
  graph.add_bytes(2, "g")
      .add_message(1, node("MatMul", "mm", {"x", "w"}, {"y"}))
      .add_message(1, node("Relu", "", {"y"}, {"z"}))
      .add_message(1, node("Relu", "r2", {"z"}, {"out"}))
      .add_message(5, initializer("w", {768, 768}, 1, std::string(16, '\0')))
      .add_message(5, initializer("w16", {768, 768}, 16, ""))
      .add_message(5, initializer("s", {}, 0, ""))
      .add_message(5, initializer("e", {0, 5}, 1, ""))
      .add_message(11, tensor_type_info("x", 1, {"2", "768"}))
      .add_message(11, tensor_type_info("w", 1, {"768", "768"}))
      .add_message(12, tensor_type_info("out", 1, {"2", "768"}))
      .add_message(13, tensor_type_info("y", 1, {"2", "768"}))
      .add_message(13, tensor_type_info("z", 1, {"N", "768"}));
  Result<OnnxSummary> read = summarize_model(testing::model(graph));
  ASSERT_TRUE(read.is_ok()) << read.message();
  const OnnxSummary& s = read.value();
  EXPECT_EQ(s.name, "m.onnx");
  EXPECT_EQ(s.ir_version, 8);
  EXPECT_EQ(s.producer, "unit");
  EXPECT_EQ(s.graph_name, "g");
  ASSERT_EQ(s.opset_imports.size(), 1u);
  EXPECT_EQ(opset_label(s.opset_imports[0]), "ai.onnx=17");
  EXPECT_EQ(s.value_info_entries, 2u);
  EXPECT_EQ(s.op_counts, (std::vector<std::pair<std::string, std::uint64_t>>{{"Relu", 2}, {"MatMul", 1}}));
  EXPECT_EQ(s.parameter_values, 589824u * 2 + 1 + 0);
  EXPECT_EQ(s.parameter_memory_bytes, 2359296u + 1179648u + 4u);
  // z's "N" keeps it out of the stated shapes; the propagation gives node_2 the [2, 768] of y.
  ASSERT_EQ(s.op_estimates.size(), 3u);
  EXPECT_EQ(s.op_estimates[0].ops, 2u * 2 * 768 * 768);
  EXPECT_EQ(s.op_estimates[1].name, "node_2");
  EXPECT_EQ(s.op_estimates[1].ops, 2u * 768);
  EXPECT_EQ(s.op_estimates[2].name, "r2");
  EXPECT_EQ(s.op_estimates[2].ops, 2u * 768);
  EXPECT_TRUE(s.estimate_notes.empty()) << "every shape a formula needs is known";
  EXPECT_EQ(s.inputs[0].shape, (std::vector<std::string>{"2", "768"}));
  EXPECT_EQ(s.initializers[0].raw_data_bytes, 16u);
}

TEST(OnnxReader, FingerprintFeeding) {
  Message empty_raw;
  empty_raw.add_bytes(8, "t").add_bytes(9, "");
  Message external;
  external.add_bytes(8, "t").add_message(13, Message().add_bytes(1, "location").add_bytes(2, "w.bin"));
  Message graph;
  graph.add_message(5, empty_raw).add_message(5, external);
  OnnxSummary s = summarize_model(testing::model(graph)).take();
  EXPECT_EQ(s.initializers[0].raw_data_bytes, 0u);
  EXPECT_EQ(s.initializers[0].data_fingerprint, fnv1a64(std::string("\x09\x00\x00\x00\x02", 5) + std::string(8, '\0')));
  EXPECT_EQ(s.initializers[1].data_fingerprint, std::nullopt);
  EXPECT_EQ(s.initializers[1].external_data_entries, 1u);
  Fnv1a64 expected;
  expected.update(std::string("\x0D\x00\x00\x00\x02", 5));
  EXPECT_EQ(expected.digest(), 0x0ac8fb589d1a2bdeULL);
  expected.update(Message().add_bytes(1, "location").add_bytes(2, "w.bin").bytes());
  EXPECT_EQ(s.initializers[1].external_data_fingerprint, expected.digest());
  EXPECT_TRUE(is_external(s.initializers[1]));
}

TEST(OnnxReader, PackedDimsAndReadFailures) {
  Message packed;
  packed.add_bytes(1, testing::varint(3) + testing::varint(300)).add_varint(1, 7).add_bytes(8, "p");
  Message graph;
  graph.add_message(5, packed);
  EXPECT_EQ(summarize_model(testing::model(graph)).value().initializers[0].dims.to_vector(),
            (std::vector<std::uint64_t>{3, 300, 7}));

  struct Case {
    std::string bytes;
    const char* error;
  };
  Message bad_packed;
  bad_packed.add_bytes(1, "\x80");
  Message bad_name;
  bad_name.add_bytes(2, "a\xFF");
  Message good_graph;
  good_graph.add_bytes(2, "second");
  const Case cases[] = {
      {"", "ONNX ModelProto did not contain graph field"},
      {Message().add_varint(1, 8).bytes(), "ONNX ModelProto did not contain graph field"},
      {testing::model(Message().add_message(5, bad_packed)), "protobuf varint ended unexpectedly"},
      {testing::model(bad_name),
       "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 1"},
      {Message().add_bytes(7, "\x0B").add_message(7, good_graph).bytes(), "unsupported protobuf wire type 3"},
      {Message().add_bytes(7, "\x12\x05x").bytes(), "protobuf length-delimited field exceeded input length"},
  };
  for (const Case& c : cases) {
    Result<OnnxSummary> read = summarize_model(c.bytes);
    ASSERT_FALSE(read.is_ok());
    EXPECT_EQ(read.message(), c.error);
  }
  // A later graph replaces an earlier one; ignored fields are never decoded.
  Message first;
  first.add_bytes(2, "first").add_bytes(10, "\x0B\xFF doc string with junk");
  OnnxSummary twice = summarize_model(Message().add_message(7, first).add_message(7, good_graph).bytes()).take();
  EXPECT_EQ(twice.graph_name, "second");
}

TEST(OnnxReader, ValueInfoTypesAndDimensions) {
  Message no_type;
  no_type.add_bytes(1, "bare");
  Message dims_mixed = tensor_type_info("mixed", 7, {"batch", "?", "4"});
  Message negative;
  {
    Message dimension;
    dimension.add_varint(1, static_cast<std::uint64_t>(-1));
    Message shape;
    shape.add_message(1, dimension);
    Message tensor_type;
    tensor_type.add_message(2, shape);
    negative.add_bytes(1, "neg").add_message(2, Message().add_message(1, tensor_type));
  }
  Message graph;
  graph.add_message(11, no_type)
      .add_message(11, dims_mixed)
      .add_message(11, negative)
      .add_message(12, no_type)
      .add_message(1, node("Relu", "r", {"x"}, {"bare"}));
  OnnxSummary s = summarize_model(testing::model(graph)).take();
  EXPECT_EQ(s.inputs[0].elem_type, std::nullopt);
  EXPECT_TRUE(s.inputs[0].shape.empty());
  EXPECT_EQ(s.inputs[1].shape, (std::vector<std::string>{"batch", "?", "4"}));
  EXPECT_EQ(s.inputs[1].elem_type, 7);
  EXPECT_EQ(s.inputs[2].shape, (std::vector<std::string>{"-1"}));
  // "bare" is declared without a type: rank 0, so the Relu estimate is 1.
  EXPECT_EQ(s.op_estimates[0].ops, 1u);
}

TEST(OnnxCost, FormulasAndGuards) {
  auto estimate = [](const OnnxNode& n, const ShapeMap& shapes) { return estimate_node_ops(n, shapes); };
  OnnxNode matmul{"MatMul", std::nullopt, {"a", "b"}, {"y"}, {}};
  EXPECT_EQ(estimate(matmul, {{"a", {2, 8, 64, 32}}, {"b", {32, 16}}}), 1048576u);
  EXPECT_EQ(estimate(matmul, {{"a", {2, 8, 64, 32}}, {"b", {3, 32, 16}}}), std::nullopt);
  EXPECT_EQ(estimate(matmul, {{"a", {1, 64, 32}}, {"b", {4, 32, 16}}}), 2u * 4 * 64 * 16 * 32);
  EXPECT_EQ(estimate(matmul, {{"a", {64, 31}}, {"b", {32, 16}}}), std::nullopt);
  EXPECT_EQ(estimate(matmul, {{"a", {64}}, {"b", {64, 16}}}), std::nullopt);
  EXPECT_EQ(estimate(matmul, {{"a", {1ULL << 40, 1ULL << 30}}, {"b", {1ULL << 30, 2}}}), std::nullopt);

  OnnxNode gemm{"Gemm", std::nullopt, {"a", "b", "c"}, {"y"}, {{"transB", 1}}};
  EXPECT_EQ(estimate(gemm, {{"a", {4, 10}}, {"b", {20, 10}}}), 1600u);
  gemm.int_attributes.clear();
  EXPECT_EQ(estimate(gemm, {{"a", {4, 10}}, {"b", {20, 10}}}), std::nullopt);
  gemm.int_attributes = {{"transA", 5}};
  EXPECT_EQ(estimate(gemm, {{"a", {10, 4}}, {"b", {10, 20}}}), 1600u);

  OnnxNode conv{"Conv", std::nullopt, {"x", "w"}, {"y"}, {}};
  EXPECT_EQ(estimate(conv, {{"w", {64, 3, 7, 7}}, {"y", {1, 64, 56, 56}}}), 59006976u);
  EXPECT_EQ(estimate(conv, {{"w", {64, 3}}, {"y", {1, 64, 56, 56}}}), std::nullopt);
  OnnxNode conv_one_input{"Conv", std::nullopt, {"x"}, {"y"}, {}};
  EXPECT_EQ(estimate(conv_one_input, {{"y", {1, 64, 56, 56}}}), std::nullopt);

  OnnxNode add{"Add", std::nullopt, {"a", "b"}, {"y"}, {}};
  EXPECT_EQ(estimate(add, {{"y", {}}}), 1u);
  EXPECT_EQ(estimate(add, {{"y", {3, 5}}}), 15u);
  EXPECT_EQ(estimate(add, {{"y", {1ULL << 32, 1ULL << 32}}}), 0u) << "unguarded: wraps";
  OnnxNode relu_lower{"relu", std::nullopt, {"a"}, {"y"}, {}};
  EXPECT_EQ(estimate(relu_lower, {{"y", {3}}}), std::nullopt);
  OnnxNode no_inputs{"MatMul", std::nullopt, {"a"}, {"y"}, {}};
  EXPECT_EQ(estimate(no_inputs, {{"a", {2, 2}}}), std::nullopt);
}

TEST(OnnxCost, DataTypeTable) {
  EXPECT_EQ(data_type_name(1), "float32");
  EXPECT_EQ(data_type_name(16), "bfloat16");
  EXPECT_EQ(data_type_name(8), "unknown");
  EXPECT_EQ(data_type_name(99), "unknown");
  EXPECT_EQ(data_type_name(std::nullopt), "unknown");
  EXPECT_EQ(data_type_size(14), 4u);
  EXPECT_EQ(data_type_size(11), 8u);
  EXPECT_EQ(data_type_size(9), 1u);
  EXPECT_EQ(opset_label({"com.microsoft", std::nullopt}), "com.microsoft=?");
}

}  // namespace
}  // namespace tarnwick
