#include "onnx/onnx_tensors.h"

#include <filesystem>
#include <optional>

#include "base/decode_budget.h"
#include "base/file_read.h"
#include "onnx/onnx_constant_node.h"
#include "onnx/onnx_tensor_proto.h"
#include "onnx/protobuf.h"

namespace tarnwick {

namespace {

constexpr int kMaxGraphDepth = DecodeBudget::kMaxGraphNesting;

// GraphProto and NodeProto fields.
constexpr std::uint32_t kGraphNode = 1, kGraphInitializer = 5, kGraphSparseInitializer = 15;
constexpr std::uint32_t kNodeAttribute = 5, kAttributeGraph = 6, kAttributeGraphs = 11;
// ModelProto and FunctionProto fields.
constexpr std::uint32_t kModelGraph = 7, kModelFunction = 25;
constexpr std::uint32_t kFunctionName = 1, kFunctionNode = 7, kFunctionDomain = 10;

Status read_graph(const OnnxTensorSource& source, std::string_view graph, int depth, std::vector<TensorEntry>& tensors);

Status add(Result<TensorEntry> entry, std::vector<TensorEntry>& tensors) {
  if (!entry.is_ok()) return entry.error();
  tensors.push_back(entry.take());
  return Status::ok();
}

// A Constant node's tensor, then the tensors of the subgraphs hanging off its attributes: g
// (one graph) and graphs (a list).
Status read_node(const OnnxTensorSource& source, std::string_view node, int depth, std::vector<TensorEntry>& tensors) {
  Result<std::vector<ProtoField>> fields = decode_fields(node);
  if (!fields.is_ok()) return fields.error();
  Result<std::optional<TensorEntry>> constant = constant_node_tensor(source, fields.value());
  if (!constant.is_ok()) return constant.error();
  if (constant.value()) tensors.push_back(std::move(*constant.value()));
  for (const ProtoField& field : fields.value()) {
    if (field.field_number != kNodeAttribute || field.wire_type != kLengthDelimited) continue;
    Result<std::vector<ProtoField>> attribute = decode_fields(field.payload);
    if (!attribute.is_ok()) return attribute.error();
    for (const ProtoField& part : attribute.value()) {
      if ((part.field_number == kAttributeGraph || part.field_number == kAttributeGraphs) &&
          part.wire_type == kLengthDelimited) {
        Status status = read_graph(source, part.payload, depth + 1, tensors);
        if (!status.is_ok()) return status;
      }
    }
  }
  return Status::ok();
}

// A graph's initializers and sparse initializers first, then node by node its constants and
// subgraphs.
Status read_graph(const OnnxTensorSource& source, std::string_view graph, int depth, std::vector<TensorEntry>& tensors) {
  if (depth > kMaxGraphDepth) return fail("subgraphs nested deeper than " + std::to_string(kMaxGraphDepth) + " levels");
  Result<std::vector<ProtoField>> fields = decode_fields(graph);
  if (!fields.is_ok()) return fields.error();
  for (const ProtoField& field : fields.value()) {
    if (field.wire_type != kLengthDelimited) continue;
    Status status = Status::ok();
    if (field.field_number == kGraphInitializer) status = add(tensor_proto_entry(source, field.payload), tensors);
    if (field.field_number == kGraphSparseInitializer) status = add(sparse_tensor_entry(source, field.payload), tensors);
    if (!status.is_ok()) return status;
  }
  for (const ProtoField& field : fields.value()) {
    if (field.field_number != kGraphNode || field.wire_type != kLengthDelimited) continue;
    Status status = read_node(source, field.payload, depth, tensors);
    if (!status.is_ok()) return status;
  }
  return Status::ok();
}

// A model-local function's constants, named "<domain>.<function>/<output>" (no domain: the
// function's name alone), since its node outputs live in the function's own namespace.
Status read_function(const OnnxTensorSource& source, std::string_view function, std::vector<TensorEntry>& tensors) {
  Result<std::vector<ProtoField>> fields = decode_fields(function);
  if (!fields.is_ok()) return fields.error();
  std::string name, domain;
  for (const ProtoField& field : fields.value()) {
    if (field.wire_type != kLengthDelimited) continue;
    if (field.field_number == kFunctionName) name = std::string(field.payload);
    if (field.field_number == kFunctionDomain) domain = std::string(field.payload);
  }
  std::string prefix = (domain.empty() ? "" : domain + ".") + name + "/";
  std::size_t first = tensors.size();
  for (const ProtoField& field : fields.value()) {
    if (field.field_number != kFunctionNode || field.wire_type != kLengthDelimited) continue;
    Status status = read_node(source, field.payload, 1, tensors);
    if (!status.is_ok()) return status;
  }
  for (std::size_t i = first; i < tensors.size(); ++i) tensors[i].name = prefix + tensors[i].name;
  return Status::ok();
}

}  // namespace

Result<TensorTable> onnx_tensor_table_from_bytes(const std::string& path, std::string_view bytes) {
  Result<std::vector<ProtoField>> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  TensorTable table;
  table.path = path;
  table.format = "onnx";
  OnnxTensorSource source{path, bytes, std::filesystem::path(path).parent_path()};
  bool has_graph = false;
  for (const ProtoField& field : fields.value()) {
    if (field.field_number == kModelGraph && field.wire_type == kLengthDelimited) {
      has_graph = true;
      Status status = read_graph(source, field.payload, 0, table.tensors);
      if (!status.is_ok()) return status.error();
    }
  }
  if (!has_graph) return fail("ONNX ModelProto did not contain graph field");
  for (const ProtoField& field : fields.value()) {
    if (field.field_number != kModelFunction || field.wire_type != kLengthDelimited) continue;
    Status status = read_function(source, field.payload, table.tensors);
    if (!status.is_ok()) return status.error();
  }
  return table;
}

Result<TensorTable> read_onnx_tensor_table(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return onnx_tensor_table_from_bytes(path, bytes.value().view());
}

}  // namespace tarnwick
