#include <algorithm>
#include <charconv>
#include <sstream>

#include "onnx/onnx_commands.h"

namespace tarnwick {

namespace {

Json optional_int(std::optional<std::int64_t> value) { return value ? Json(*value) : Json(nullptr); }
Json optional_int(std::optional<std::int32_t> value) { return value ? Json(*value) : Json(nullptr); }

Json dims_array(const DimList& dims) {
  Json array = Json::array();
  auto& values = array.get_ref<Json::array_t&>();
  values.reserve(dims.size());
  for (std::uint64_t dim : dims) values.emplace_back(dim);
  return array;
}

Json value_info_array(const std::vector<OnnxValueInfo>& infos) {
  Json array = Json::array();
  for (const OnnxValueInfo& info : infos) {
    array.push_back({{"name", info.name}, {"elem_type", optional_int(info.elem_type)}, {"shape", info.shape}});
  }
  return array;
}

Json op_count_pairs(const OnnxSummary& summary) {
  Json array = Json::array();
  for (const auto& [op, count] : summary.op_counts) array.push_back(Json::array({op, count}));
  return array;
}

Json most_expensive_ops(const OnnxSummary& summary) {
  std::vector<const OpEstimate*> present;
  for (const OpEstimate& estimate : summary.op_estimates) {
    if (estimate.ops) present.push_back(&estimate);
  }
  std::stable_sort(present.begin(), present.end(), [](const OpEstimate* a, const OpEstimate* b) {
    if (*a->ops != *b->ops) return *a->ops > *b->ops;
    return a->name < b->name;
  });
  Json array = Json::array();
  for (std::size_t i = 0; i < present.size() && i < 10; ++i) {
    array.push_back(
        {{"name", present[i]->name}, {"op_type", present[i]->op_type}, {"estimated_ops", *present[i]->ops}});
  }
  return array;
}

}  // namespace

Json onnx_initializer_object(const OnnxInitializer& initializer) {
  return {
      {"shape", dims_array(initializer.dims)},
      {"dtype", data_type_name(initializer.data_type)},
      {"data_type", optional_int(initializer.data_type)},
      {"values", element_count(initializer)},
      {"estimated_bytes", estimated_bytes(initializer)},
      {"raw_data_bytes", initializer.raw_data_bytes},
      {"data_fingerprint", json_fingerprint(initializer.data_fingerprint)},
      {"external_data", is_external(initializer)},
      {"external_data_entries", initializer.external_data_entries},
      {"external_data_fingerprint", json_fingerprint(initializer.external_data_fingerprint)},
      {"data_location", optional_int(initializer.data_location)},
  };
}

Json onnx_summary_object(const OnnxSummary& summary) {
  Json object = {
      {"path", summary.name},
      {"format", "ONNX ModelProto"},
      {"file_size_bytes", summary.file_size_bytes},
      {"ir_version", optional_int(summary.ir_version)},
      {"producer", json_text(summary.producer)},
      {"graph", json_text(summary.graph_name)},
      {"nodes", summary.node_count},
      {"initializers", summary.initializers.size()},
      {"value_info_entries", summary.value_info_entries},
      {"parameter_values", summary.parameter_values},
      {"parameter_memory_bytes", summary.parameter_memory_bytes},
      {"estimated_ops", summary.estimated_ops},
      {"inputs", value_info_array(summary.inputs)},
      {"outputs", value_info_array(summary.outputs)},
      {"op_counts", op_count_pairs(summary)},
  };
  if (!summary.estimate_notes.empty()) object["estimated_ops_notes"] = summary.estimate_notes;
  return object;
}

Json onnx_inspect_document(const OnnxSummary& summary) {
  Json opsets = Json::array();
  for (const OpsetImport& opset : summary.opset_imports) {
    opsets.push_back({{"domain", opset.domain}, {"version", optional_int(opset.version)}});
  }
  Json initializers = Json::array();
  for (const OnnxInitializer& initializer : summary.initializers) {
    initializers.push_back({{"name", initializer.name}, {"tensor", onnx_initializer_object(initializer)}});
  }
  Json document;
  document["kind"] = "onnx_inspect";
  document["model_type"] = "ONNX";
  document["summary"] = onnx_summary_object(summary);
  document["opsets"] = opsets;
  document["operator_mix"] = op_count_pairs(summary);
  document["most_expensive_ops"] = most_expensive_ops(summary);
  document["initializers"] = initializers;
  document["note"] = Json::array({"This is static ONNX graph inspection, not model execution.",
                                  "Op estimates are best-effort and depend on static shapes in the file."});
  return document;
}

void write_dims(std::ostream& out, const DimList& dims) {
  if (dims.empty()) {
    out << "scalar";
    return;
  }
  // Written in chunks: one stream insertion per dim is slow for a shape of millions.
  std::string chunk = "[";
  bool first = true;
  for (std::uint64_t dim : dims) {
    if (!first) chunk += ", ";
    first = false;
    char digits[24];
    chunk.append(digits, std::to_chars(digits, digits + sizeof digits, dim).ptr);
    if (chunk.size() >= (1 << 16)) {
      out << chunk;
      chunk.clear();
    }
  }
  out << chunk << ']';
}

std::string format_dims(const DimList& dims) {
  std::ostringstream text;
  write_dims(text, dims);
  return text.str();
}

std::string format_dims(const std::vector<std::uint64_t>& dims) {
  if (dims.empty()) return "scalar";
  std::string text = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) text += (i ? ", " : "") + std::to_string(dims[i]);
  return text + "]";
}

std::string format_shape_texts(const std::vector<std::string>& shape) {
  if (shape.empty()) return "?";
  std::string text = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) text += (i ? ", " : "") + shape[i];
  return text + "]";
}

}  // namespace tarnwick
