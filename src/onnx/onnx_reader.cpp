#include <algorithm>

#include "main/file_read.h"
#include "main/format.h"
#include "main/number_parse.h"
#include "main/text.h"
#include "onnx/onnx_summary.h"
#include "onnx/protobuf.h"

namespace tarnwick {

namespace {

using Fields = std::vector<ProtoField>;

bool is_field(const ProtoField& field, std::uint32_t number, std::uint8_t wire_type) {
  return field.field_number == number && field.wire_type == wire_type;
}

// Decodes a nested message and hands each field to `visit`, stopping at the first error.
template <class Visit>
Status walk_message(std::string_view bytes, Visit&& visit) {
  Result<Fields> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  for (const ProtoField& field : fields.value()) {
    Status status = visit(field);
    if (!status.is_ok()) return status;
  }
  return Status::ok();
}

Status read_string(const ProtoField& field, std::string& into) {
  Result<std::string> text = decode_string(field.payload);
  if (!text.is_ok()) return text.error();
  into = text.take();
  return Status::ok();
}

Status read_optional_string(const ProtoField& field, std::optional<std::string>& into) {
  std::string text;
  Status status = read_string(field, text);
  if (status.is_ok()) into = std::move(text);
  return status;
}

std::int32_t low_32_bits(std::uint64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

// Field number (4 bytes LE), wire type, then the payload or the varint value (8 bytes LE).
void feed_fingerprint(std::optional<Fnv1a64>& hash, const ProtoField& field) {
  if (!hash) hash.emplace();
  char header[5];
  for (int i = 0; i < 4; ++i) header[i] = static_cast<char>((field.field_number >> (8 * i)) & 0xFF);
  header[4] = static_cast<char>(field.wire_type);
  hash->update(std::string_view(header, 5));
  if (!field.payload.empty()) {
    hash->update(field.payload);
    return;
  }
  char value[8];
  for (int i = 0; i < 8; ++i) value[i] = static_cast<char>((field.varint >> (8 * i)) & 0xFF);
  hash->update(std::string_view(value, 8));
}

Status read_opset(std::string_view bytes, OpsetImport& opset) {
  return walk_message(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, opset.domain);
    if (is_field(field, 2, kVarint)) opset.version = static_cast<std::int64_t>(field.varint);
    return Status::ok();
  });
}

Status read_attribute(std::string_view bytes, OnnxNode& node) {
  std::optional<std::string> name;
  std::optional<std::int64_t> value;
  Status status = walk_message(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_optional_string(field, name);
    if (is_field(field, 3, kVarint)) value = static_cast<std::int64_t>(field.varint);
    return Status::ok();
  });
  if (status.is_ok() && name && value) node.int_attributes[*name] = *value;
  return status;
}

Status read_node(std::string_view bytes, OnnxNode& node) {
  return walk_message(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    switch (field.field_number) {
      case 1: return read_string(field, node.inputs.emplace_back());
      case 2: return read_string(field, node.outputs.emplace_back());
      case 3: return read_optional_string(field, node.name);
      case 4: return read_string(field, node.op_type);
      case 5: return read_attribute(field.payload, node);
      default: return Status::ok();
    }
  });
}

Status read_packed_dims(std::string_view payload, std::vector<std::uint64_t>& dims) {
  std::size_t position = 0;
  while (position < payload.size()) {
    Result<std::uint64_t> dim = decode_varint(payload, position);
    if (!dim.is_ok()) return dim.error();
    dims.push_back(dim.value());
  }
  return Status::ok();
}

Status read_tensor(std::string_view bytes, OnnxInitializer& tensor) {
  std::optional<Fnv1a64> data_hash, external_hash;
  Status status = walk_message(bytes, [&](const ProtoField& field) -> Status {
    switch (field.field_number) {
      case 1:
        if (field.wire_type == kVarint) tensor.dims.push_back(field.varint);
        if (field.wire_type == kLengthDelimited) return read_packed_dims(field.payload, tensor.dims);
        return Status::ok();
      case 2:
        if (field.wire_type == kVarint) tensor.data_type = low_32_bits(field.varint);
        return Status::ok();
      case 8:
        if (field.wire_type == kLengthDelimited) return read_string(field, tensor.name);
        return Status::ok();
      case 9:
        if (field.wire_type == kLengthDelimited) tensor.raw_data_bytes = field.payload.size();
        feed_fingerprint(data_hash, field);
        return Status::ok();
      case 4:
      case 5:
      case 6:
      case 7:
      case 10:
      case 11: feed_fingerprint(data_hash, field); return Status::ok();
      case 13:
        if (field.wire_type == kLengthDelimited) {
          feed_fingerprint(external_hash, field);
          ++tensor.external_data_entries;
        }
        return Status::ok();
      case 14:
        if (field.wire_type == kVarint) tensor.data_location = low_32_bits(field.varint);
        return Status::ok();
      default: return Status::ok();
    }
  });
  if (data_hash) tensor.data_fingerprint = data_hash->digest();
  if (external_hash) tensor.external_data_fingerprint = external_hash->digest();
  return status;
}

Status read_dimension(std::string_view bytes, std::string& text) {
  text = "?";
  return walk_message(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kVarint)) text = std::to_string(static_cast<std::int64_t>(field.varint));
    if (is_field(field, 2, kLengthDelimited)) return read_string(field, text);
    return Status::ok();
  });
}

Status read_tensor_type(std::string_view bytes, OnnxValueInfo& info) {
  return walk_message(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kVarint)) info.elem_type = low_32_bits(field.varint);
    if (!is_field(field, 2, kLengthDelimited)) return Status::ok();
    info.shape.clear();
    return walk_message(field.payload, [&](const ProtoField& dim) {
      if (!is_field(dim, 1, kLengthDelimited)) return Status::ok();
      return read_dimension(dim.payload, info.shape.emplace_back());
    });
  });
}

Status read_type(std::string_view bytes, OnnxValueInfo& info) {
  info.elem_type.reset();
  info.shape.clear();
  Result<Fields> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  for (const ProtoField& field : fields.value()) {
    if (is_field(field, 1, kLengthDelimited)) return read_tensor_type(field.payload, info);
  }
  return Status::ok();
}

Status read_value_info(std::string_view bytes, OnnxValueInfo& info) {
  return walk_message(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, info.name);
    if (is_field(field, 2, kLengthDelimited)) return read_type(field.payload, info);
    return Status::ok();
  });
}

// The parts of a graph that the summary keeps, plus the value_info list for the shape map.
struct GraphContents {
  std::optional<std::string> name;
  std::vector<OnnxNode> nodes;
  std::vector<OnnxInitializer> initializers;
  std::vector<OnnxValueInfo> inputs, outputs, value_info;
};

Status read_graph(std::string_view bytes, GraphContents& graph) {
  return walk_message(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    switch (field.field_number) {
      case 1: return read_node(field.payload, graph.nodes.emplace_back());
      case 2: return read_optional_string(field, graph.name);
      case 5: return read_tensor(field.payload, graph.initializers.emplace_back());
      case 11: return read_value_info(field.payload, graph.inputs.emplace_back());
      case 12: return read_value_info(field.payload, graph.outputs.emplace_back());
      case 13: return read_value_info(field.payload, graph.value_info.emplace_back());
      default: return Status::ok();
    }
  });
}

std::optional<std::vector<std::uint64_t>> known_dims(const OnnxValueInfo& info) {
  std::vector<std::uint64_t> dims;
  for (const std::string& text : info.shape) {
    Result<std::uint64_t> dim = parse_unsigned(text);
    if (!dim.is_ok()) return std::nullopt;
    dims.push_back(dim.value());
  }
  return dims;
}

ShapeMap build_shape_map(const GraphContents& graph) {
  ShapeMap shapes;
  for (const auto* list : {&graph.inputs, &graph.outputs, &graph.value_info}) {
    for (const OnnxValueInfo& info : *list) {
      if (auto dims = known_dims(info)) shapes[info.name] = std::move(*dims);
    }
  }
  for (const OnnxInitializer& initializer : graph.initializers) shapes[initializer.name] = initializer.dims;
  return shapes;
}

std::vector<std::pair<std::string, std::uint64_t>> count_ops(const std::vector<OnnxNode>& nodes) {
  std::map<std::string, std::uint64_t> counts;
  for (const OnnxNode& node : nodes) ++counts[node.op_type];
  std::vector<std::pair<std::string, std::uint64_t>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return sorted;
}

void derive_totals(OnnxSummary& summary, const GraphContents& graph) {
  ShapeMap shapes = build_shape_map(graph);
  for (std::size_t i = 0; i < summary.nodes.size(); ++i) {
    const OnnxNode& node = summary.nodes[i];
    OpEstimate estimate;
    estimate.ops = estimate_node_ops(node, shapes);
    estimate.name = node.name && !node.name->empty() ? *node.name : "node_" + std::to_string(i + 1);
    estimate.op_type = node.op_type;
    if (estimate.ops) summary.estimated_ops += *estimate.ops;
    summary.op_estimates.push_back(std::move(estimate));
  }
  for (const OnnxInitializer& initializer : summary.initializers) {
    summary.parameter_values += element_count(initializer);
    summary.parameter_memory_bytes += estimated_bytes(initializer);
  }
  summary.op_counts = count_ops(summary.nodes);
}

}  // namespace

Result<OnnxSummary> summarize_onnx_bytes(const std::string& path, std::string_view bytes) {
  OnnxSummary summary;
  std::optional<GraphContents> graph;
  Status status = walk_message(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kVarint)) summary.ir_version = static_cast<std::int64_t>(field.varint);
    if (is_field(field, 2, kLengthDelimited)) return read_optional_string(field, summary.producer);
    if (is_field(field, 7, kLengthDelimited)) {
      GraphContents contents;
      Status read = read_graph(field.payload, contents);
      if (read.is_ok()) graph = std::move(contents);
      return read;
    }
    if (is_field(field, 8, kLengthDelimited)) return read_opset(field.payload, summary.opset_imports.emplace_back());
    return Status::ok();
  });
  if (!status.is_ok()) return status.error();
  if (!graph) return fail("ONNX ModelProto did not contain graph field");

  summary.name = last_path_component(path);
  summary.file_size_bytes = bytes.size();
  summary.graph_name = graph->name;
  summary.value_info_entries = graph->value_info.size();
  summary.nodes = std::move(graph->nodes);
  summary.inputs = graph->inputs;
  summary.outputs = graph->outputs;
  summary.initializers = graph->initializers;
  derive_totals(summary, *graph);
  return summary;
}

Result<OnnxSummary> read_onnx_summary(const std::string& path) {
  Result<std::string> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return summarize_onnx_bytes(path, bytes.value());
}

}  // namespace tarnwick
