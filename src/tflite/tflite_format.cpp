#include "tflite/tflite_format.h"

#include "descriptor/tensor_file_operations.h"
#include "tflite/tflite_reader.h"
#include "tflite/tflite_schema.h"

namespace tarnwick {

namespace {

// What a reader of a mobile model looks for first: the schema version, its description, the
// operators it needs (custom ones above all) and how it is called.
std::vector<MetadataHighlight> tflite_highlights(const Json& metadata) {
  std::vector<MetadataHighlight> highlights;
  for (const char* key : {"schema_version", "description", "operators", "custom_operators", "signature_defs"}) {
    if (!metadata.contains(key) || metadata[key].is_null()) continue;
    const Json& value = metadata[key];
    std::string text = value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, Json::error_handler_t::replace);
    highlights.push_back({key, key, std::move(text)});
  }
  return highlights;
}

std::vector<std::string> operator_types(const Json& metadata) {
  std::vector<std::string> types;
  if (!metadata.contains("operators") || !metadata["operators"].is_object()) return types;
  for (const auto& [name, count] : metadata["operators"].items()) types.push_back(name);
  return types;
}

// Tensor names are the converter's, so the architecture is inferred from them alone.
ArchitectureFacts nothing_stated(const TensorTable&) { return {}; }

bool has_identifier(const ContentProbe& probe) {
  return probe.head.size() >= 8 && probe.head.substr(4, 4) == tflite::kFileIdentifier;
}

}  // namespace

const TensorFileFormat kTfliteModel{
    .name = "TFLite",
    .title = "TFLite",
    .json_type = "tflite",
    .read_table = read_tflite_table,
    .highlights = tflite_highlights,
    .stated_architecture = nothing_stated,
    .operator_types = operator_types,
};

const FormatDescriptor kTfliteFormat = tensor_file_descriptor<kTfliteModel>({"tflite"}, has_identifier);

}  // namespace tarnwick
