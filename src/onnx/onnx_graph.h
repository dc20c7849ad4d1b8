// The whole ONNX graph as stored, subgraphs included, for the readers that need more than the
// summary: every attribute kind, tensors with their data left as views into the model bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/decode_budget.h"
#include "base/status.h"
#include "onnx/onnx_summary.h"
#include "onnx/protobuf.h"

namespace tarnwick {

struct OnnxTensor {
  std::string name;
  std::vector<std::int64_t> dims;
  std::optional<std::int32_t> data_type;
  std::int32_t data_location = 0;  // 1: the bytes live in another file
  std::vector<std::pair<std::string, std::string>> external_data;
  std::string_view raw_data;
  bool has_raw_data = false;
  std::vector<ProtoField> typed_data;  // float_data, int32_data, int64_data, double_data, uint64_data
};

struct OnnxGraph;

struct OnnxAttribute {
  std::string name;
  std::optional<std::int64_t> i;
  std::optional<float> f;
  std::optional<std::string> s;
  std::vector<std::int64_t> ints;
  std::vector<float> floats;
  std::optional<OnnxTensor> t;
  std::vector<OnnxGraph> graphs;  // g, then graphs
};

struct OnnxGraphNode {
  std::string op_type;
  std::string name;
  std::string domain;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  std::vector<OnnxAttribute> attributes;

  const OnnxAttribute* attribute(std::string_view attribute_name) const;
};

struct OnnxGraph {
  std::string name;
  std::vector<OnnxGraphNode> nodes;
  std::vector<OnnxTensor> initializers;
  std::vector<OnnxValueInfo> inputs;
  std::vector<OnnxValueInfo> outputs;
  std::vector<OnnxValueInfo> value_info;
};

struct OnnxModel {
  std::vector<OpsetImport> opset_imports;
  OnnxGraph graph;
};

inline constexpr int kMaxGraphNesting = DecodeBudget::kMaxGraphNesting;

// Decodes a ModelProto; tensor data stays a view into `bytes`, which must outlive the model.
Result<OnnxModel> decode_onnx_model(std::string_view bytes);
// The same, drawing every decoded element (nodes, their inputs, outputs and attributes, tensors,
// dimensions, value infos) from `budget`.
Result<OnnxModel> decode_onnx_model(std::string_view bytes, DecodeBudget& budget);

// Message pieces both ONNX readers decode alike: an OperatorSetIdProto, and a shape dimension
// as its value, its parameter name, or "?".
Status read_opset(std::string_view bytes, OpsetImport& opset);
Status read_dimension(std::string_view bytes, std::string& text);

// The opset version imported for the default domain ("" or "ai.onnx"), if any.
std::optional<std::int64_t> default_opset(const OnnxModel& model);

// Integer values of a tensor (raw int64/int32/int8/uint8/... or typed fields), when it holds
// at most `max_elements` of them; nullopt otherwise.
std::optional<std::vector<std::int64_t>> tensor_int_values(const OnnxTensor& tensor, std::size_t max_elements);
// Floating values (float32/float64, raw or typed), same limit.
std::optional<std::vector<double>> tensor_real_values(const OnnxTensor& tensor, std::size_t max_elements);

}  // namespace tarnwick
